#include "Common/VQMutex.h"

CVQMutex::CVQMutex() {}

CVQMutex::~CVQMutex() {}

void CVQMutex::Lock() { m_oMutex.lock(); }

void CVQMutex::Unlock() { m_oMutex.unlock(); }

bool CVQMutex::TryLock() { return m_oMutex.try_lock(); }
