// tovrikctl's command line in process: help and usage errors, as text and as JSON.
#include "cli/app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fake_platform.h"

namespace {

struct Result {
    int status = 0;
    std::string out, err;
};

Result Ctl(std::vector<const char*> args) {
    tovrik::testing::FakePlatform platform;
    std::ostringstream out;
    std::ostringstream err;
    args.insert(args.begin(), "tovrikctl");
    const int status =
        tovrik::cli::Run(static_cast<int>(args.size()), args.data(), platform, out, err);
    return {status, out.str(), err.str()};
}

TEST(CommandLine, JsonHelpIsOneJsonObject) {
    for (const auto& args : {std::vector<const char*>{"--json", "--help"},
                             std::vector<const char*>{"--json", "serve", "--help"}}) {
        const Result r = Ctl(args);
        EXPECT_EQ(r.status, tovrik::cli::kExitOk);
        ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        const auto parsed = nlohmann::json::parse(r.out);
        EXPECT_EQ(parsed["ok"], true);
        EXPECT_NE(parsed["help"].get<std::string>().find("Usage:"), std::string::npos);
    }
}

// The bound is said in words, not as a double's 309-digit maximum.
TEST(CommandLine, ANegativeIndexIsRefusedInAShortMessage) {
    for (const bool json : {false, true}) {
        std::vector<const char*> args = {"--index", "-1", "list"};
        if (json) args.insert(args.begin(), "--json");
        const Result r = Ctl(args);
        EXPECT_EQ(r.status, tovrik::cli::kExitUsage);
        const std::string message =
            json ? nlohmann::json::parse(r.out)["error"].get<std::string>() : r.err;
        EXPECT_NE(message.find("0 or more"), std::string::npos) << message;
        EXPECT_LT(message.size(), 120u) << message;
    }
}

}  // namespace
