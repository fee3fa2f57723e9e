#include "WineTest.h"

#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace winebox {
namespace {

std::string EnvText(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

// The prefix of the whole test process; the reason it is missing otherwise.
const WinePrefix* SharedPrefix(std::string* why) {
    static std::unique_ptr<WinePrefix> prefix;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        auto made = std::make_unique<WinePrefix>();
        if (made->Create(&failure)) prefix = std::move(made);
    }
    *why = failure;
    return prefix.get();
}

}  // namespace

void WineTest::SetUp() {
    std::string why;
    for (const std::string& name : inputs_) {
        std::string path = EnvText(name);
        if (path.empty()) why = name + " is not set";
        else if (access(path.c_str(), R_OK) != 0) why = name + "=" + path + " cannot be read";
        if (!why.empty()) break;
    }
    if (why.empty() && EnvText("DISPLAY").empty()) why = "no X display (run under xvfb-run)";
    if (why.empty() && FindWineLoader().empty()) why = "no wine loader";
    if (why.empty()) prefix_ = SharedPrefix(&why);
    if (prefix_) return;
    if (!EnvText("QP_WINE_REQUIRED").empty()) FAIL() << why;
    GTEST_SKIP() << why;
}

std::string WineTest::Input(const std::string& name) const { return EnvText(name); }

}  // namespace winebox
