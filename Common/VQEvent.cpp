#include "Common/VQEvent.h"

#include <chrono>

CVQEvent::CVQEvent() : m_bSignalled(false) {}

CVQEvent::~CVQEvent() {}

void CVQEvent::Signal()
{
    {
        std::lock_guard<std::mutex> lock(m_oMutex);
        m_bSignalled = true;
    }
    m_oCondition.notify_one();
}

bool CVQEvent::TimedWait(int ms)
{
    std::unique_lock<std::mutex> lock(m_oMutex);
    // The predicate form survives spurious wake-ups; the deadline is fixed
    // once, so wake-ups do not stretch the wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms > 0 ? ms : 0);
    if (!m_oCondition.wait_until(lock, deadline, [this] { return m_bSignalled; }))
        return false;
    m_bSignalled = false;
    return true;
}

void CVQEvent::Reset()
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    m_bSignalled = false;
}
