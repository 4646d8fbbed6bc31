#ifndef VQ_COMMON_ASSERT_H
#define VQ_COMMON_ASSERT_H

#include "Common/VQPlatform.h"

// The host's assertion service.
//
// Broken invariants and bad arguments are reported, never thrown. A report
// carries the asserted condition's text exactly as written, the reporting
// source file without its extension (e.g. "GameComponents/Terrain/vqTerrainPatch")
// and the line. The handler answers whether to stop: false lets the caller go
// on; true makes the caller break into an attached debugger and then end the
// program through Debug_Exit(0).

// Returns true when the program must stop. Called only when a condition failed.
VQ_API bool Alternate_Debug_Assert(const char* expressionText, const char* sourceFile, int line);

// Ends the program with the given exit code.
[[noreturn]] VQ_API void Debug_Exit(int code);

// Breaks into the debugger when one is attached; otherwise does nothing.
VQ_API void VQ_DebugBreakIfAttached();

typedef bool (*VQAssertHandler)(const char*, const char*, int);

// Installs a handler for every later report and returns the previous one.
// Null restores the default handler, which writes one line to standard error
// and answers false. Safe to call from any thread.
VQ_API VQAssertHandler VQSetAssertHandler(VQAssertHandler handler);

// Reports `text` when `cond` is false. Each .cpp that asserts defines
// VQ_ASSERT_FILE as its path below the repository root, without extension.
#define VQ_ASSERT_MSG(cond, text)                                          \
    do {                                                                   \
        if (!(cond) && Alternate_Debug_Assert((text), VQ_ASSERT_FILE, __LINE__)) { \
            VQ_DebugBreakIfAttached();                                     \
            Debug_Exit(0);                                                 \
        }                                                                  \
    } while (0)

// Reports the condition's own source text.
#define VQ_ASSERT(cond) VQ_ASSERT_MSG(cond, #cond)

// Reports unconditionally: for operations that must never be reached.
#define VQ_ASSERT_FAIL(text) VQ_ASSERT_MSG(false, text)

#endif
