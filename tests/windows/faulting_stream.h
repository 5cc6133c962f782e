#pragma once

#include <windows.h>

#include "windows/read_only_stream.h"

namespace cvtest {

// An access violation raised on purpose by a host's stream, told apart from
// real ones by its single parameter.
constexpr ULONG_PTR kHostsOwnFault = 0xC0FFEE;

inline bool isHostsOwnFault(const EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
    return record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters == 1 &&
           record.ExceptionInformation[0] == kHostsOwnFault;
}

// A host's stream over another one that raises that fault in its first Read;
// the host's own handler decides what happens next.
class FaultingStream final : public StreamOverAnother {
public:
    using StreamOverAnother::StreamOverAnother;
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        if (!raised_) {
            raised_ = true;
            const ULONG_PTR marker = kHostsOwnFault;
            RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 1, &marker);
        }
        return inner_->Read(out, count, got);
    }

private:
    bool raised_ = false;
};

}  // namespace cvtest
