#include "ProgressBar.h"

#include "Common/VQLoadGuard.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr std::chrono::milliseconds kMoment(500);
constexpr std::chrono::milliseconds kRefresh(100);
constexpr int kBarWidth = 30;
constexpr int kSweepWidth = 4;

}  // namespace

CProgressBar::CProgressBar(const std::string& sLabel) : m_sLabel(sLabel)
{
    CVQLoadGuard::Instance().BeginProgressSection(1.0, 0);
    if (isatty(STDERR_FILENO))
        m_oWatcher = std::thread(&CProgressBar::Watch, this);
}

CProgressBar::~CProgressBar()
{
    if (m_oWatcher.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_oMutex);
            m_bStop = true;
        }
        m_oStop.notify_one();
        m_oWatcher.join();
    }
    CVQLoadGuard::Instance().EndProgressSection();
}

void CProgressBar::Watch()
{
    const auto tStart = std::chrono::steady_clock::now();
    bool bShown = false;
    std::unique_lock<std::mutex> lock(m_oMutex);
    while (!m_oStop.wait_for(lock, kRefresh, [this] { return m_bStop; })) {
        const std::chrono::duration<double> tElapsed = std::chrono::steady_clock::now() - tStart;
        if (tElapsed < kMoment)
            continue;
        const double fProgress = CVQLoadGuard::Instance().GetProgress();
        char szBar[kBarWidth + 1];
        if (fProgress > 0.0) {
            const int nFilled = int(fProgress * kBarWidth);
            for (int i = 0; i < kBarWidth; ++i)
                szBar[i] = i < nFilled ? '#' : '.';
        } else {
            // Work that reports no progress (an update): a block sweeps
            // along the bar, one cell per refresh, to show it is alive.
            const int nAt = int(tElapsed / kRefresh) % (kBarWidth - kSweepWidth + 1);
            for (int i = 0; i < kBarWidth; ++i)
                szBar[i] = i >= nAt && i < nAt + kSweepWidth ? '#' : '.';
        }
        szBar[kBarWidth] = '\0';
        char szPercent[8] = "";
        if (fProgress > 0.0)
            std::snprintf(szPercent, sizeof szPercent, "%3d%%", int(fProgress * 100.0));
        std::fprintf(stderr, "\r%-9s [%s] %4s  %.1f s", m_sLabel.c_str(), szBar, szPercent, tElapsed.count());
        std::fflush(stderr);
        bShown = true;
    }
    if (bShown) {
        // Erases the bar: the line is left as it was before.
        std::fprintf(stderr, "\r%*s\r", kBarWidth + 30 + int(m_sLabel.size()), "");
        std::fflush(stderr);
    }
}
