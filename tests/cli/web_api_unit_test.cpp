// The web front end's checks that decide who may do what: the Host header, the language, and
// reading SCPI answers back.
#include <gtest/gtest.h>

#include "cli/web/api.h"

namespace tovrik::cli::web {
namespace {

TEST(WebHost, OnlyTheServersOwnNamesAndPort) {
    const std::vector<std::string> names{"192.168.1.5", "[fd00::5]", "bench-pi", "bench-pi.local"};
    struct Case {
        const char* host;
        unsigned short port;
        bool allowed;
    };
    for (const Case& c : {
             Case{"192.168.1.5:8080", 8080, true},
             Case{"BENCH-PI.local.:8080", 8080, true},  // case and the root's dot
             Case{"[fd00::5]:8080", 8080, true},
             Case{"bench-pi", 80, true},  // the default port may go unsaid
             Case{"bench-pi", 8080, false},
             Case{"192.168.1.5:8081", 8080, false},
             Case{"rebound.example:8080", 8080, false},
             Case{"bench-pi.evil:8080", 8080, false},
             Case{":8080", 8080, false},
             Case{"", 80, false},
         }) {
        EXPECT_EQ(HostAllowed(c.host, names, c.port), c.allowed) << c.host << " port " << c.port;
    }
}

TEST(WebLanguage, EnglishOnlyWhereRankedFirst) {
    EXPECT_TRUE(PrefersEnglish("en-US,en;q=0.9,ja;q=0.8"));
    EXPECT_TRUE(PrefersEnglish("ja;q=0.5, en-GB"));
    EXPECT_FALSE(PrefersEnglish("ja,en-US;q=0.9"));
    EXPECT_FALSE(PrefersEnglish("de-DE"));
    EXPECT_FALSE(PrefersEnglish(""));
}

TEST(WebAnswers, CatalogAndErrors) {
    const auto catalog = ParseCatalog("\"TVK00002\",1,\"TVK00005\",3");
    ASSERT_TRUE(catalog);
    EXPECT_EQ(*catalog, (std::map<unsigned, std::string>{{1, "TVK00002"}, {3, "TVK00005"}}));
    EXPECT_TRUE(ParseCatalog("\"\"")->empty());
    EXPECT_FALSE(ParseCatalog("\"TVK00002\""));
    EXPECT_FALSE(ParseCatalog("\"TVK00002\",x"));

    EXPECT_FALSE(ParseSystemError("0,\"No error\""));
    const auto missing = ParseSystemError("-241,\"Hardware missing; no TOVRIK on channel 2\"");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 503);
    EXPECT_EQ(missing->code, -241);
    EXPECT_EQ(missing->text, "Hardware missing; no TOVRIK on channel 2");
    EXPECT_EQ(ParseSystemError("-222,\"Data out of range\"")->status, 400);
}

TEST(WebTokens, SameOnlyWhenEqual) {
    EXPECT_TRUE(SameToken("abc", "abc"));
    EXPECT_FALSE(SameToken("abc", "abd"));
    EXPECT_FALSE(SameToken("abc", "abcd"));
    EXPECT_FALSE(SameToken("", "a"));
}

}  // namespace
}  // namespace tovrik::cli::web
