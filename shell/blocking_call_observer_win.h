#pragma once

namespace cvwin {

// Told before and after each call to a stream that may block (Seek and the
// Reads of one read, or a wait for another thread's), by the thread making it.
class BlockingCallObserver {
public:
    virtual void beforeBlockingCall() = 0;
    virtual void afterBlockingCall() = 0;

protected:
    ~BlockingCallObserver() = default;
};

}  // namespace cvwin
