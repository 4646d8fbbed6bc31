#ifndef VQ_COMMON_LOADGUARD_H
#define VQ_COMMON_LOADGUARD_H

#include "Common/VQPlatform.h"

#include <mutex>
#include <vector>

// The loading-progress object of the process: loaders report how far they
// got, a loading screen (or a test) reads the overall progress in [0, 1].
//
// Sections nest. A section covers `weight` of the range of the section
// around it, starting where that section's progress stands; its own progress
// runs from 0 to 1 over that range. Example, a terrain of 4 patch rows:
//
//   Begin(1.0)                      outer covers [0, 1]
//     Begin(1.0)                    inner covers [0, 1] of outer
//       Advance(0.25) x 2           overall 0.5
//     End()                         outer jumps to the end of inner: 1.0
//   End()                           nothing open: overall 1.0
//
// Rules that keep progress sane whatever the callers do:
//   - progress never goes back within one load; it is capped at 1 in every
//     section, and a section's weight is cut so it never reaches past the
//     end of the section around it (weight <= 0 or NaN gives an empty one);
//   - beginning an outermost section starts a new load: overall progress
//     restarts at 0;
//   - Advance with no section open moves the outermost level;
//   - an End without an open section is reported ("!m_aSections.empty()")
//     and ignored, so the depth never goes below 0.
// The flags are reserved for the host's loading screen; no bit is defined and
// they are ignored. Safe to call from any thread.
class VQ_API CVQLoadGuard {
public:
    static CVQLoadGuard& Instance();

    void BeginProgressSection(double weight, unsigned int flags);
    void AdvanceProgress(double fraction, unsigned int flags);
    void EndProgressSection();

    // Overall progress of the present (or last) load, in [0, 1].
    double GetProgress() const;
    // Number of open sections.
    int GetDepth() const;
    // Closes every section and sets progress to 0.
    void Reset();

    CVQLoadGuard(const CVQLoadGuard&) = delete;
    CVQLoadGuard& operator=(const CVQLoadGuard&) = delete;

private:
    CVQLoadGuard();
    ~CVQLoadGuard();

    struct SSection {
        double fStart;     // overall progress where the section begins
        double fSpan;      // overall range the section covers
        double fDone;      // the section's own progress, 0..1
        double fWeight;    // share of the enclosing section (after cutting)
    };

    SSection& Innermost();

    mutable std::mutex m_oMutex;
    SSection m_sOutermost;
    std::vector<SSection> m_aSections;
};

#endif
