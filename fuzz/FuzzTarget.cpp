#include "fuzz/FuzzTarget.h"

#include "Common/VQAssert.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::vector<const CFuzzTarget*>& Registry()
{
    static std::vector<const CFuzzTarget*> aTargets;
    return aTargets;
}

void AbortOnFailure(const char* szWhat)
{
    std::fprintf(stderr, "fuzz target promise broken: %s\n", szWhat);
    std::abort();
}

CFuzzTarget::FailHandler g_pFailHandler = &AbortOnFailure;
// The target whose input is running, for the assertion handler.
const CFuzzTarget* g_pRunning = nullptr;

} // namespace

CFuzzTarget::CFuzzTarget(const char* szName, RunFunction pRun, SeedFunction pSeeds,
                         std::vector<std::string> aAllowedReports)
    : m_szName(szName), m_pRun(pRun), m_pSeeds(pSeeds), m_aAllowedReports(std::move(aAllowedReports))
{
    Registry().push_back(this);
}

const std::vector<const CFuzzTarget*>& CFuzzTarget::All() { return Registry(); }

void CFuzzTarget::Run(const uint8_t* pData, size_t nSize) const
{
    const CFuzzTarget* pOuter = g_pRunning;
    g_pRunning = this;
    const VQAssertHandler pPrevious = VQSetAssertHandler(&OnAssert);
    m_pRun(pData, nSize);
    VQSetAssertHandler(pPrevious);
    g_pRunning = pOuter;
}

bool CFuzzTarget::OnAssert(const char* szText, const char* szFile, int nLine)
{
    const std::string oText = szText ? szText : "";
    const std::vector<std::string>& aAllowed = g_pRunning->m_aAllowedReports;
    if (std::find(aAllowed.begin(), aAllowed.end(), oText) == aAllowed.end()) {
        const std::string oWhat = "assertion report \"" + oText + "\" (" + (szFile ? szFile : "") + ":" +
                                  std::to_string(nLine) + ")";
        Fail(oWhat.c_str());
    }
    return false;  // the component goes on, as a host's handler lets it
}

void CFuzzTarget::Fail(const char* szWhat) { g_pFailHandler(szWhat); }

CFuzzTarget::FailHandler CFuzzTarget::SetFailHandler(FailHandler pHandler)
{
    const FailHandler pPrevious = g_pFailHandler;
    g_pFailHandler = pHandler ? pHandler : &AbortOnFailure;
    return pPrevious;
}
