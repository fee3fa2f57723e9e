// The directory service against a model of its tree (HpfsModel.h): random
// creates, writes, resizes both ways, deletes, renames, folders made and
// removed, files open twice; checked after every step, and every round
// flushed, read back raw with full block accounting, and reopened. Runs with
// a block limit refuse what needs space and must change nothing then.
//
// QP_MODEL_SEED and QP_MODEL_STEPS (steps per geometry) choose a long run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <ostream>
#include <string>

#include "HpfsModel.h"

namespace {

using hpfs_model::Geometry;

struct ModelCase {
    const char* name;
    Geometry geometry;
    uint32_t deepest;  // the index depth the run must reach
};

// Test names and printouts show the geometry's name, not the struct's bytes
// (a pointer and padding, which differ from run to run).
void PrintTo(const ModelCase& c, std::ostream* out) { *out << c.name; }

uint64_t EnvironmentNumber(const char* name, uint64_t otherwise) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 0) : otherwise;
}

// Steps per geometry in CI: a few seconds in all; fewer under the
// sanitizers, which make each step several times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kDefaultSteps = 700;
#else
constexpr uint64_t kDefaultSteps = 2500;
#endif

class HPFSModel : public ::testing::TestWithParam<ModelCase> {};

TEST_P(HPFSModel, RandomOperationsMatchTheModel) {
    const ModelCase& c = GetParam();
    const uint64_t seed = EnvironmentNumber("QP_MODEL_SEED", 20240601);
    const uint64_t steps = EnvironmentNumber("QP_MODEL_STEPS", kDefaultSteps);
    const bool limited = c.geometry.blockLimit != 0xFFFFFFFF;
    hpfs_model::Run run(c.geometry);
    hpfs_model::RandomChoices choices(seed * 1000003 + c.geometry.blockSize * 7 + c.geometry.pointerOffset + limited);
    for (uint64_t step = 1; step <= steps && run.Fault().empty(); ++step) {
        run.Step(choices);
        if (step % 150 == 0) run.Reopen();
    }
    run.Reopen();
    ASSERT_EQ(run.Fault(), "") << "seed " << seed << ", geometry " << c.name;
    const hpfs_model::Stats& stats = run.Statistics();
    if (std::getenv("QP_MODEL_STEPS"))
        std::cout << c.name << ": " << stats.steps << " steps, " << stats.applied << " applied, " << stats.refused
                  << " refused as the model says, " << stats.spaceRefusals << " refused for space, " << stats.reopens
                  << " reopens, depth " << stats.deepest << "\n";
    if (std::getenv("QP_MODEL_OUTCOMES"))
        for (auto& [outcome, count] : stats.outcomes) std::cout << "  " << outcome << ": " << count << "\n";
    EXPECT_GE(stats.deepest, c.deepest);
    EXPECT_EQ(stats.spaceRefusals > 0, limited);
}

INSTANTIATE_TEST_SUITE_P(
    Geometries, HPFSModel,
    ::testing::Values(ModelCase{"B512_P8", {512, 8, 0xFFFFFFFF, 80000}, 1},
                      ModelCase{"B64_P16", {64, 16, 0xFFFFFFFF, 20000}, 2},
                      ModelCase{"B32_P8", {32, 8, 0xFFFFFFFF, 14000}, 3},
                      ModelCase{"B128_P120", {128, 120, 0xFFFFFFFF, 16000}, 2},
                      ModelCase{"B32_P8_limit400", {32, 8, 400, 14000}, 2},
                      ModelCase{"B64_P16_limit200", {64, 16, 200, 20000}, 1}),
    [](const ::testing::TestParamInfo<ModelCase>& param) { return std::string(param.param.name); });

}  // namespace
