#ifndef VQ_COMMON_EVENT_H
#define VQ_COMMON_EVENT_H

#include "Common/VQPlatform.h"

#include <condition_variable>
#include <mutex>

// An auto-reset event: Signal makes it signalled; the first TimedWait that
// finds it signalled (at once or while waiting) returns true and resets it,
// so one Signal releases at most one waiter. Signals are not counted: two
// Signals with nobody waiting leave one signalled state. A Signal with no
// waiter is kept until the next TimedWait takes it.
class VQ_API CVQEvent {
public:
    CVQEvent();
    ~CVQEvent();
    CVQEvent(const CVQEvent&) = delete;
    CVQEvent& operator=(const CVQEvent&) = delete;

    void Signal();
    // Waits at most `ms` milliseconds (negative counts as 0: just a test).
    // True when the event was signalled, false on timeout.
    bool TimedWait(int ms);
    // Back to not signalled.
    void Reset();

private:
    std::mutex m_oMutex;
    std::condition_variable m_oCondition;
    bool m_bSignalled;
};

#endif
