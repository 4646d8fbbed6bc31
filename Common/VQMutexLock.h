#ifndef VQ_COMMON_MUTEXLOCK_H
#define VQ_COMMON_MUTEXLOCK_H

#include "Common/VQMutex.h"

// Holds a CVQMutex for the lifetime of the object, so that every path out of
// a scope (early returns included) unlocks it exactly once:
//
//   void CVQSomething::Update()
//   {
//       CVQMutexLock oLock(m_oMutex);
//       if (nothing to do)
//           return;  // unlocked here
//       ...
//   }                // and here
//
// With bLock false the object does nothing: for operations whose caller
// says whether it holds the mutex already.
//
// The mutex is not owned and must outlive the lock.
class CVQMutexLock {
public:
    explicit CVQMutexLock(CVQMutex& oMutex, bool bLock = true) : m_oMutex(oMutex), m_bLocked(bLock)
    {
        if (m_bLocked)
            m_oMutex.Lock();
    }
    ~CVQMutexLock()
    {
        if (m_bLocked)
            m_oMutex.Unlock();
    }
    CVQMutexLock(const CVQMutexLock&) = delete;
    CVQMutexLock& operator=(const CVQMutexLock&) = delete;

private:
    CVQMutex& m_oMutex;
    const bool m_bLocked;
};

#endif
