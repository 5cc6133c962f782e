#pragma once

namespace cv {

// The work of a render's second lane, as the thread that runs it sees it.
class LaneWork {
public:
    virtual void run() noexcept = 0;
    // Asks a run under way to end at its next band; from any thread.
    virtual void stop() noexcept = 0;

protected:
    ~LaneWork() = default;
};

// A thread a host lends a render for its second lane, where a thread the
// render makes itself would not do: a shell's library keeps its threads
// under its own fault guard and its own reference to itself.
class LaneThread {
public:
    // Whether start() would take a work now: the lane's buffers are not
    // made for a thread that cannot be had.
    virtual bool mayStart() const = 0;
    // Starts `work.run()` on another thread; false when none can be had (the
    // caller then does the work itself). One work at a time.
    virtual bool start(LaneWork& work) = 0;
    // Waits for the work started to end; false when it ended before its run
    // returned (a fault on its thread), leaving the lane's state unknown.
    virtual bool join() = 0;

protected:
    ~LaneThread() = default;
};

}  // namespace cv
