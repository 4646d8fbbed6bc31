#ifndef VQ_FUZZ_FUZZ_TARGET_H
#define VQ_FUZZ_FUZZ_TARGET_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One fuzz target: a function that takes any bytes as outside input and
// checks what the component promises for them, the seed inputs it starts
// from (made by the component's own writers), and the assertion reports the
// input may legitimately cause. A target lives in one source file,
// fuzz/<name>.cpp, which ends with
//
//     VQ_FUZZ_TARGET(name, Run, MakeSeeds, {"allowed report", ...});
//
// and is named once in fuzz/CMakeLists.txt (vq_fuzz_target(name)). The same
// file builds into the target's libFuzzer program (VQ_FUZZ=ON, clang) and
// into the normal test suite, which runs every seed and every input kept
// under tests/Fuzz/<name>/ through it.
//
// A broken promise is told through Fail: it ends a fuzzer run as a crash
// (libFuzzer keeps the input) and fails the test that ran the input. Any
// assertion report outside the target's allowed texts is a broken promise:
// the component reports broken invariants, and outside input must not break
// one. Targets run on one thread.
class CFuzzTarget {
public:
    using Bytes = std::vector<uint8_t>;
    using RunFunction = void (*)(const uint8_t* pData, size_t nSize);
    using SeedFunction = std::vector<Bytes> (*)();
    using FailHandler = void (*)(const char* szWhat);

    // Registers the target for the lifetime of the program (static objects).
    CFuzzTarget(const char* szName, RunFunction pRun, SeedFunction pSeeds, std::vector<std::string> aAllowedReports);
    CFuzzTarget(const CFuzzTarget&) = delete;
    CFuzzTarget& operator=(const CFuzzTarget&) = delete;

    // Every registered target, in registration order.
    static const std::vector<const CFuzzTarget*>& All();

    const char* GetName() const { return m_szName; }
    // Runs one input with the target's assertion policy in force.
    void Run(const uint8_t* pData, size_t nSize) const;
    std::vector<Bytes> MakeSeeds() const { return m_pSeeds(); }

    // Reports a broken promise through the installed handler; the default
    // one prints szWhat and aborts.
    static void Fail(const char* szWhat);
    // Installs a handler (null: the default) and returns the previous one.
    static FailHandler SetFailHandler(FailHandler pHandler);

private:
    static bool OnAssert(const char* szText, const char* szFile, int nLine);

    const char* m_szName;
    RunFunction m_pRun;
    SeedFunction m_pSeeds;
    std::vector<std::string> m_aAllowedReports;
};

#define VQ_FUZZ_STRINGIFY2(x) #x
#define VQ_FUZZ_STRINGIFY(x) VQ_FUZZ_STRINGIFY2(x)

// A promise about the outcome of one input.
#define VQ_FUZZ_CHECK(cond)                                                                  \
    do {                                                                                     \
        if (!(cond))                                                                         \
            CFuzzTarget::Fail(#cond " (" __FILE__ ":" VQ_FUZZ_STRINGIFY(__LINE__) ")");      \
    } while (0)

#define VQ_FUZZ_TARGET(name, run, seeds, ...) \
    static const CFuzzTarget s_oFuzzTarget_##name(#name, run, seeds, __VA_ARGS__)

#endif
