#include "CountingAllocator.h"
#include "fuzz/FuzzTarget.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string g_oInput;  // what the running check is about

void FailTest(const char* szWhat) { ADD_FAILURE() << g_oInput << ": " << szWhat; }

// The fuzzers' limit for one allocation, here for all that one input holds
// at once: an input must not make a reader allocate for sizes its bytes
// cannot hold.
const size_t kMaxBytesPerInput = size_t(64) << 20;

void RunWithinMemory(const CFuzzTarget& target, const CFuzzTarget::Bytes& oInput)
{
    const size_t nBefore = CCountingAllocator::GetLiveBytes();
    CCountingAllocator::ResetPeak();
    target.Run(oInput.data(), oInput.size());
    EXPECT_LE(CCountingAllocator::GetPeakBytes() - nBefore, kMaxBytesPerInput) << g_oInput;
}

} // namespace

// A finding is fixed at its cause and its input saved next to the others of
// its target: tests/Fuzz/<target>/<what it broke>. The seeds run too; each
// target checks that its seeds load whole.
TEST(FuzzInputs, EveryTargetKeepsItsPromisesOnItsSeedsAndItsPastFindings)
{
    const CFuzzTarget::FailHandler pPrevious = CFuzzTarget::SetFailHandler(&FailTest);
    ASSERT_FALSE(CFuzzTarget::All().empty());
    for (const CFuzzTarget* pTarget : CFuzzTarget::All()) {
        g_oInput = std::string(pTarget->GetName()) + " seeds";
        const std::vector<CFuzzTarget::Bytes> aSeeds = pTarget->MakeSeeds();
        EXPECT_FALSE(aSeeds.empty()) << g_oInput;
        for (size_t i = 0; i < aSeeds.size(); ++i) {
            g_oInput = std::string(pTarget->GetName()) + " seed " + std::to_string(i);
            RunWithinMemory(*pTarget, aSeeds[i]);
        }
        const std::filesystem::path oFolder = std::filesystem::path(VQ_FUZZ_INPUTS_DIR) / pTarget->GetName();
        if (!std::filesystem::is_directory(oFolder))
            continue;
        for (const auto& oEntry : std::filesystem::directory_iterator(oFolder)) {
            g_oInput = oEntry.path().string();
            std::ifstream in(oEntry.path(), std::ios::binary);
            const CFuzzTarget::Bytes oBytes{std::istreambuf_iterator<char>(in), {}};
            RunWithinMemory(*pTarget, oBytes);
        }
    }
    CFuzzTarget::SetFailHandler(pPrevious);
}
