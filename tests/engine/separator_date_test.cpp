#include "engine/SeparatorDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace tarnwick {
namespace {

TEST(SeparatorDate, ReadsBothFormatsInParisTime)
{
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    ::setenv("TZ", "Europe/Paris", 1); // restored below
    ::tzset();
    const struct {
        const char* text;
        const char* expected; // nullptr: no date
    } cases[] = {
        {"Wed Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Wed Jan  3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Wed Jan 03 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Mon Jul 15 12:00:00 2002", "Mon, 15 Jul 2002 12:00:00 +0200"},
        {"wed JAN 3 1:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Tue Feb 29 10:00:00 2000", "Tue, 29 Feb 2000 10:00:00 +0100"},
        {"Fri Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"}, // the date's own day name
        {"Thu Jan 4 02:00:00 +0000 1996", "Thu, 4 Jan 1996 02:00:00 +0000"},
        {"Thu Jan 4 02:00:00 -0530 1996", "Thu, 4 Jan 1996 02:00:00 -0530"},
        {"Thu Jul 4 02:00:00 -0000 1996", "Thu, 4 Jul 1996 02:00:00 -0000"},
        {"Sat Mar  1 00:00:00 +0100 1600", "Wed, 1 Mar 1600 00:00:00 +0100"},
        {"Wed Jan 3 01:05:34 1996 remote from kremvax", "Wed, 3 Jan 1996 01:05:34 +0100"},
        // Refused: anything that could give a wrong date, or that is no date.
        {"Wed Jan 3 01:05:34 1996 PST", nullptr}, {"Wed Jan 3 01:05:34 PST 1996", nullptr},
        {"Wed Jan 3 01:05:34 96", nullptr}, {"Wed Jan 3 01:05:34", nullptr}, {"Wed Jan 32 01:05:34 1996", nullptr},
        {"Wed Jan 0 01:05:34 1996", nullptr}, {"Thu Feb 29 10:00:00 1997", nullptr},
        {"Thu Feb 29 10:00:00 1900", nullptr}, {"Wed Apr 31 10:00:00 1996", nullptr},
        {"Wed Jan 3 24:00:00 1996", nullptr}, {"Wed Jan 3 23:60:00 1996", nullptr}, {"Wed Jan 3 23:5:00 1996", nullptr},
        {"Wed Jan 3 01:05:34 +2400 1996", nullptr}, {"Wed Jan 3 01:05:34 +0160 1996", nullptr},
        {"Wed Jan 3 01:05:34 +100 1996", nullptr}, {"Wednesday Jan 3 01:05:34 1996", nullptr},
        {"Wed Jan\t3 01:05:34 1996", nullptr}, {"Wed Jan 3 01:05:34 1996 remote from", nullptr}, {"", nullptr},
    };
    for (const auto& c : cases) {
        std::string out = "keep:";
        EXPECT_EQ(appendFormattedDate(c.text, out), c.expected != nullptr) << c.text;
        EXPECT_EQ(out, "keep:" + std::string(c.expected ? c.expected : "")) << c.text; // a refusal appends nothing
    }
    if (previous)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

} // namespace
} // namespace tarnwick
