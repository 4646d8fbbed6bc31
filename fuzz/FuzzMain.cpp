// libFuzzer's entry points for the one target linked into the program.
//
// With VQ_FUZZ_WRITE_SEEDS=<folder> in the environment the program writes
// the target's seeds there (seed-0, seed-1, ...) and exits instead of
// fuzzing; scripts/fuzz makes the starting corpus that way.
#include "fuzz/FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const CFuzzTarget& TheTarget()
{
    if (CFuzzTarget::All().size() != 1) {
        std::fprintf(stderr, "a fuzzer program links exactly one target, this one %zu\n", CFuzzTarget::All().size());
        std::abort();
    }
    return *CFuzzTarget::All().front();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* szFolder = std::getenv("VQ_FUZZ_WRITE_SEEDS");
    if (!szFolder)
        return 0;
    const std::vector<CFuzzTarget::Bytes> aSeeds = TheTarget().MakeSeeds();
    for (size_t i = 0; i < aSeeds.size(); ++i) {
        const std::string oPath = std::string(szFolder) + "/seed-" + std::to_string(i);
        std::FILE* pFile = std::fopen(oPath.c_str(), "wb");
        if (!pFile || std::fwrite(aSeeds[i].data(), 1, aSeeds[i].size(), pFile) != aSeeds[i].size() ||
            std::fclose(pFile) != 0) {
            std::fprintf(stderr, "cannot write %s\n", oPath.c_str());
            std::exit(1);
        }
    }
    std::printf("%s: %zu seeds in %s\n", TheTarget().GetName(), aSeeds.size(), szFolder);
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    TheTarget().Run(pData, nSize);
    return 0;
}
