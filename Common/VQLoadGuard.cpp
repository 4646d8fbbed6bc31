#define VQ_ASSERT_FILE "Common/VQLoadGuard"
#include "Common/VQLoadGuard.h"

#include "Common/VQAssert.h"

#include <algorithm>

namespace {

// NaN and negative amounts count as nothing: progress only moves forward.
double NonNegative(double value) { return value > 0.0 ? value : 0.0; }

} // namespace

CVQLoadGuard& CVQLoadGuard::Instance()
{
    static CVQLoadGuard s_oInstance;
    return s_oInstance;
}

CVQLoadGuard::CVQLoadGuard() : m_sOutermost{0.0, 1.0, 0.0, 1.0} {}

CVQLoadGuard::~CVQLoadGuard() {}

CVQLoadGuard::SSection& CVQLoadGuard::Innermost() { return m_aSections.empty() ? m_sOutermost : m_aSections.back(); }

void CVQLoadGuard::BeginProgressSection(double weight, unsigned int /*flags*/)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    if (m_aSections.empty())
        m_sOutermost.fDone = 0.0;
    const SSection& parent = Innermost();
    const double cut = std::min(NonNegative(weight), 1.0 - parent.fDone);
    const SSection child = {parent.fStart + parent.fSpan * parent.fDone, parent.fSpan * cut, 0.0, cut};
    m_aSections.push_back(child);
}

void CVQLoadGuard::AdvanceProgress(double fraction, unsigned int /*flags*/)
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    SSection& section = Innermost();
    section.fDone = std::min(1.0, section.fDone + NonNegative(fraction));
}

void CVQLoadGuard::EndProgressSection()
{
    bool bHadSection = false;
    {
        std::lock_guard<std::mutex> lock(m_oMutex);
        if (!m_aSections.empty()) {
            bHadSection = true;
            const double weight = m_aSections.back().fWeight;
            m_aSections.pop_back();
            SSection& parent = Innermost();
            parent.fDone = std::min(1.0, parent.fDone + weight);
        }
    }
    // Reported outside the lock: the host's handler may want to read progress.
    VQ_ASSERT_MSG(bHadSection, "!m_aSections.empty()");
}

double CVQLoadGuard::GetProgress() const
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    const SSection& section = m_aSections.empty() ? m_sOutermost : m_aSections.back();
    return std::min(1.0, section.fStart + section.fSpan * section.fDone);
}

int CVQLoadGuard::GetDepth() const
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    return static_cast<int>(m_aSections.size());
}

void CVQLoadGuard::Reset()
{
    std::lock_guard<std::mutex> lock(m_oMutex);
    m_aSections.clear();
    m_sOutermost.fDone = 0.0;
}
