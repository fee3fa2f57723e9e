// Fuzz target for the write paths of CHPFS over CBFHP: the input chooses a
// small pack's geometry and then the operations (HpfsModel.h). The model of
// the tree, checked after every step, and the raw reader's block accounting
// after the final flush and reopen are the oracle; any disagreement aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "HpfsModel.h"

namespace {
// Enough for a pack to fill, shrink and refill; short enough for many runs.
constexpr int kMaxSteps = 120;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const hpfs_model::Geometry geometries[] = {
        {32, 8, 0xFFFFFFFF, 2500},    {64, 16, 0xFFFFFFFF, 4000}, {512, 8, 0xFFFFFFFF, 6000},
        {128, 120, 0xFFFFFFFF, 3000}, {32, 8, 120, 2500},         {64, 8, 60, 4000},
    };
    hpfs_model::ByteChoices choices(data, size);
    hpfs_model::Run run(geometries[choices.Below(6)]);
    for (int step = 0; step < kMaxSteps && !choices.Exhausted() && run.Step(choices); ++step) {
    }
    run.Reopen();
    if (!run.Fault().empty()) {
        std::fprintf(stderr, "%s\n", run.Fault().c_str());
        std::abort();
    }
    return 0;
}
