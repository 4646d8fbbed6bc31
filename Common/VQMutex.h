#ifndef VQ_COMMON_MUTEX_H
#define VQ_COMMON_MUTEX_H

#include "Common/VQPlatform.h"

#include <mutex>

// A recursive lock: the thread that holds it may lock it again and must
// unlock it as often as it locked it. Recursive because a visual's locking
// operations call one another (an editing operation that asks a locking
// query of the same visual), which would deadlock on a plain mutex.
// Unlocking a mutex the calling thread does not hold is undefined.
class VQ_API CVQMutex {
public:
    CVQMutex();
    ~CVQMutex();
    CVQMutex(const CVQMutex&) = delete;
    CVQMutex& operator=(const CVQMutex&) = delete;

    void Lock();
    void Unlock();
    // Takes the lock when it is free or already held by this thread.
    bool TryLock();

private:
    std::recursive_mutex m_oMutex;
};

#endif
