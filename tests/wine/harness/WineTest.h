// Fixture for tests that run Windows programs under Wine: one prefix shared
// by every such test of the process (made on first use), and the inputs the
// Wine stage hands over by environment variable. Without them the tests skip,
// unless QP_WINE_REQUIRED is set, which turns a missing input into a failure.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WinePrefix.h"

namespace winebox {

class WineTest : public ::testing::Test {
protected:
    // The environment variables (host paths of files) this test needs.
    explicit WineTest(std::vector<std::string> inputs) : inputs_(std::move(inputs)) {}
    void SetUp() override;
    std::string Input(const std::string& name) const;
    const WinePrefix& Prefix() const { return *prefix_; }

private:
    std::vector<std::string> inputs_;
    const WinePrefix* prefix_ = nullptr;
};

}  // namespace winebox
