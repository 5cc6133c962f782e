// Explorer's thumbnails on two threads: the shell's stream read from both
// under one lock, one thread where the stream is a proxy, and a fault in the
// second thread's reads failing the thumbnail and nothing more.
#include <windows.h>

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "support/generated_samples.h"
#include "windows/faulting_stream.h"
#include "windows/thumbnail_helpers.h"

namespace {

enum class Reads { Plain, AsProxy, FaultOnSecondThread };

// A memory stream that notes which threads read it and can pose as a proxy
// or fault in a Read made by any thread but the first.
class LaneStream final : public cvtest::ReadOnlyStream, private IClientSecurity {
public:
    LaneStream(const std::string& bytes, Reads reads)
        : inner_(cvtest::memoryStream(bytes)), reads_(reads) {}
    ~LaneStream() { inner_->Release(); }

    IFACEMETHODIMP QueryInterface(REFIID id, void** object) override {
        *object = nullptr;
        if (id != IID_IClientSecurity || reads_ != Reads::AsProxy) return E_NOINTERFACE;
        *object = static_cast<IClientSecurity*>(this);
        return S_OK;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return 2; }
    IFACEMETHODIMP_(ULONG) Release() override { return 1; }
    IFACEMETHODIMP Read(void* out, ULONG count, ULONG* got) override {
        if (notesSecondReader() && reads_ == Reads::FaultOnSecondThread) {
            const ULONG_PTR marker = cvtest::kHostsOwnFault;
            RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 1, &marker);
        }
        return inner_->Read(out, count, got);
    }
    IFACEMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        return inner_->Seek(move, origin, position);
    }
    IFACEMETHODIMP Stat(STATSTG* stat, DWORD flags) override { return inner_->Stat(stat, flags); }

    std::size_t readers() {
        const std::lock_guard<std::mutex> locked(mutex_);
        return readers_.size();
    }

private:
    IFACEMETHODIMP QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                DWORD*) override {
        return E_NOTIMPL;
    }
    IFACEMETHODIMP SetBlanket(IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, void*,
                              DWORD) override {
        return E_NOTIMPL;
    }
    IFACEMETHODIMP CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    // Whether this Read comes from another thread than the first reader's.
    bool notesSecondReader() {
        const std::lock_guard<std::mutex> locked(mutex_);
        readers_.insert(GetCurrentThreadId());
        return GetCurrentThreadId() != first_;
    }

    IStream* inner_;
    Reads reads_;
    std::mutex mutex_;
    std::set<DWORD> readers_;
    DWORD first_ = GetCurrentThreadId();  // the host's thread, which reads first
};

struct Drawn {
    HRESULT result = E_FAIL;
    std::vector<std::uint8_t> bgra;
};

Drawn thumbnailOf(LaneStream& stream) {
    IThumbnailProvider* provider = cvtest::initializedProvider(&stream);
    Drawn drawn;
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha{};
    drawn.result = provider->GetThumbnail(256, &bitmap, &alpha);
    provider->Release();
    if (bitmap == nullptr) return drawn;
    DIBSECTION section{};
    GetObjectW(bitmap, sizeof section, &section);
    const auto* bits = static_cast<const std::uint8_t*>(section.dsBm.bmBits);
    const auto pixels = static_cast<std::size_t>(section.dsBm.bmWidth) *
                        static_cast<std::size_t>(std::abs(section.dsBm.bmHeight));
    drawn.bgra.assign(bits, bits + 4 * pixels);
    DeleteObject(bitmap);
    return drawn;
}

const std::string& frame() {
    static const std::string bytes = cvtest::generatedSample("starfield-1920x1280.fits");
    return bytes;
}

}  // namespace

TEST(StreamLanes, TwoThreadsReadTheStreamAndDrawWhatOneDraws) {
    LaneStream plain(frame(), Reads::Plain);
    LaneStream proxy(frame(), Reads::AsProxy);
    const Drawn two = thumbnailOf(plain);
    const Drawn one = thumbnailOf(proxy);
    ASSERT_EQ(two.result, S_OK);
    ASSERT_EQ(one.result, S_OK);
    EXPECT_EQ(plain.readers(), 2u);
    EXPECT_EQ(proxy.readers(), 1u) << "a proxy's calls belong to the host's thread";
    EXPECT_TRUE(two.bgra == one.bgra);
}

TEST(StreamLanes, AFaultInTheSecondThreadsReadFailsTheThumbnailAndTheHostLives) {
    LaneStream faulting(frame(), Reads::FaultOnSecondThread);
    EXPECT_TRUE(FAILED(thumbnailOf(faulting).result));
    EXPECT_EQ(faulting.readers(), 2u);
    LaneStream plain(frame(), Reads::Plain);
    EXPECT_EQ(thumbnailOf(plain).result, S_OK) << "nothing of the failed render stays held";
}
