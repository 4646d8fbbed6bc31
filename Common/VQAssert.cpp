#include "Common/VQAssert.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool DefaultHandler(const char* expressionText, const char* sourceFile, int line)
{
    std::fprintf(stderr, "%s(%d): assertion failed: %s\n",
                 sourceFile ? sourceFile : "?", line, expressionText ? expressionText : "?");
    return false;
}

std::atomic<VQAssertHandler> g_handler{&DefaultHandler};

// A tracer shows up in /proc/self/status as a non-zero TracerPid.
bool DebuggerAttached()
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return false;
    char line[256];
    bool attached = false;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "TracerPid:", 10) == 0) {
            attached = std::atoi(line + 10) != 0;
            break;
        }
    }
    std::fclose(f);
    return attached;
}

} // namespace

bool Alternate_Debug_Assert(const char* expressionText, const char* sourceFile, int line)
{
    return g_handler.load()(expressionText, sourceFile, line);
}

void Debug_Exit(int code)
{
    std::exit(code);
}

void VQ_DebugBreakIfAttached()
{
    if (DebuggerAttached())
        std::raise(SIGTRAP);
}

VQAssertHandler VQSetAssertHandler(VQAssertHandler handler)
{
    return g_handler.exchange(handler ? handler : &DefaultHandler);
}
