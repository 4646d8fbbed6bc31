#ifndef VQ_TOOLS_VQTERRAIN_PROGRESS_BAR_H
#define VQ_TOOLS_VQTERRAIN_PROGRESS_BAR_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// A progress bar on standard error for one step of work, driven by the
// process's loading-progress object (CVQLoadGuard): the bar opens an
// outermost progress section for its lifetime (so the step's progress runs
// from 0 to 1), and what the work reports inside it moves the bar.
//
//     loading   [##############..............]  48%  2.1 s
//     updating  [..........####................]       5.4 s
//
// (the second for work that reports no progress at all).
// A watcher thread reads the progress ten times a second; the bar appears
// only once the step has taken longer than a moment (0.5 s) and is erased
// when the step ends, so quick steps print nothing. Nothing is ever printed
// when standard error is not a terminal (a pipe, a file, a test).
//
// One bar at a time, on the thread that does the work.
class CProgressBar {
public:
    explicit CProgressBar(const std::string& sLabel);
    ~CProgressBar();
    CProgressBar(const CProgressBar&) = delete;
    CProgressBar& operator=(const CProgressBar&) = delete;

private:
    void Watch();

    std::string m_sLabel;
    std::mutex m_oMutex;
    std::condition_variable m_oStop;
    bool m_bStop = false;
    std::thread m_oWatcher;  // not started when standard error is no terminal
};

#endif
