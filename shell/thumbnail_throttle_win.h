#pragma once

#include "shell/stream_adapter_win.h"

namespace cvwin {

// One thumbnail's share of the process-wide throttle: at most as many
// thumbnails compute at once as there are processors, and never more than
// four. The slot is held only while the render computes: around each call
// to the stream, which may block for as long as a dead network share takes,
// it is given back and then taken again, so a hung stream keeps no other
// file waiting. A wait for a slot gives up after ten seconds and the render
// goes on without one. Made, told of stream calls and ended on one thread.
// Fewer thumbnails are asked for now than the throttle has slots: a
// processor is free for a thumbnail's second thread.
bool processorSpare();

class ThrottleSlot final : public BlockingCallObserver {
public:
    ThrottleSlot();  // waits for a slot
    ~ThrottleSlot();
    ThrottleSlot(const ThrottleSlot&) = delete;
    ThrottleSlot& operator=(const ThrottleSlot&) = delete;

    void beforeBlockingCall() override;
    void afterBlockingCall() override;  // waits for a slot again

private:
    bool held_ = false;
};

}  // namespace cvwin
