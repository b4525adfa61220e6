#include "engine/SeparatorDate.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tarnwick {
namespace {

// Sets TZ for one test and restores the previous value afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (previous_)
            ::setenv("TZ", previous_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> previous_;
};

std::optional<std::string> formatted(std::string_view text)
{
    std::string out = "keep:";
    if (!appendFormattedDate(text, out)) {
        EXPECT_EQ(out, "keep:") << "a refused text must leave the output alone: " << text;
        return std::nullopt;
    }
    return out.substr(5);
}

struct DateCase {
    const char* text;
    const char* expected; // nullptr: no date
};

TEST(SeparatorDate, ReadsBothFormatsInParisTime)
{
    ScopedTimeZone zone("Europe/Paris");
    const DateCase cases[] = {
        {"Wed Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Wed Jan  3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Wed Jan 03 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Mon Jul 15 12:00:00 2002", "Mon, 15 Jul 2002 12:00:00 +0200"},
        {"Sun Dec 31 23:59:59 2000", "Sun, 31 Dec 2000 23:59:59 +0100"},
        {"wed JAN 3 1:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        {"Tue Feb 29 10:00:00 2000", "Tue, 29 Feb 2000 10:00:00 +0100"},
        {"Thu Feb 29 10:00:00 1996", "Thu, 29 Feb 1996 10:00:00 +0100"},
        // The printed day name is the date's own, whatever the text said.
        {"Fri Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0100"},
        // Second format: the offset is kept and printed as written.
        {"Thu Jan 4 02:00:00 +0000 1996", "Thu, 4 Jan 1996 02:00:00 +0000"},
        {"Thu Jan 4 02:00:00 -0530 1996", "Thu, 4 Jan 1996 02:00:00 -0530"},
        {"Thu Jul 4 02:00:00 -0000 1996", "Thu, 4 Jul 1996 02:00:00 -0000"},
        {"Mon Jan 1 00:00:00 +0900 1900", "Mon, 1 Jan 1900 00:00:00 +0900"},
        {"Sat Mar  1 00:00:00 +0100 1600", "Wed, 1 Mar 1600 00:00:00 +0100"},
        {"Wed Jan 3 01:05:34 1996 remote from kremvax", "Wed, 3 Jan 1996 01:05:34 +0100"},
        // Refused: anything that could give a wrong date, or that is no date.
        {"Wed Jan 3 01:05:34 1996 PST", nullptr},
        {"Wed Jan 3 01:05:34 PST 1996", nullptr},
        {"Wed Jan 3 01:05:34 96", nullptr},
        {"Wed Jan 3 01:05:34 01996", nullptr},
        {"Wed Jan 3 01:05:34", nullptr},
        {"Wed Jan 3 01:05 1996", nullptr},
        {"Wed Jan 32 01:05:34 1996", nullptr},
        {"Wed Jan 0 01:05:34 1996", nullptr},
        {"Thu Feb 29 10:00:00 1997", nullptr},
        {"Thu Feb 29 10:00:00 1900", nullptr},
        {"Wed Apr 31 10:00:00 1996", nullptr},
        {"Wed Jan 3 24:00:00 1996", nullptr},
        {"Wed Jan 3 23:60:00 1996", nullptr},
        {"Wed Jan 3 23:00:60 1996", nullptr},
        {"Wed Jan 3 23:5:00 1996", nullptr},
        {"Wed Jan 3 01:05:34 +2400 1996", nullptr},
        {"Wed Jan 3 01:05:34 +0160 1996", nullptr},
        {"Wed Jan 3 01:05:34 +100 1996", nullptr},
        {"Wed January 3 01:05:34 1996", nullptr},
        {"Wednesday Jan 3 01:05:34 1996", nullptr},
        {"Xyz Jan 3 01:05:34 1996", nullptr},
        {"Wed Jan\t3 01:05:34 1996", nullptr},
        {"Wed Jan 3 01:05:34 1996 remote from", nullptr},
        {"Wed J\xC3\xA4n 3 01:05:34 1996", nullptr},
        {"", nullptr},
    };
    for (const DateCase& c : cases) {
        const std::optional<std::string> result = formatted(c.text);
        if (c.expected)
            EXPECT_EQ(result.value_or("(none)"), c.expected) << c.text;
        else
            EXPECT_FALSE(result.has_value()) << c.text << " gave " << *result;
    }
}

TEST(SeparatorDate, LocalTimeFollowsTheZone)
{
    const struct {
        const char* zone;
        const char* text;
        const char* expected;
    } cases[] = {
        {"America/New_York", "Wed Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 -0500"},
        {"America/New_York", "Thu Jul 4 12:00:00 1996", "Thu, 4 Jul 1996 12:00:00 -0400"},
        {"Asia/Kolkata", "Wed Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0530"},
        {"UTC", "Wed Jan 3 01:05:34 1996", "Wed, 3 Jan 1996 01:05:34 +0000"},
        // A written offset does not depend on the zone.
        {"Asia/Kolkata", "Thu Jan 4 02:00:00 -0800 1996", "Thu, 4 Jan 1996 02:00:00 -0800"},
    };
    for (const auto& c : cases) {
        ScopedTimeZone zone(c.zone);
        EXPECT_EQ(formatted(c.text).value_or("(none)"), c.expected) << c.zone << ": " << c.text;
    }
}

TEST(SeparatorDate, TimeSkippedByTheZoneBecomesARealTime)
{
    ScopedTimeZone zone("Europe/Paris");
    // 02:30 does not exist in Paris on 31 March 2024; either neighbour is a real instant.
    const std::string result = formatted("Sun Mar 31 02:30:00 2024").value_or("(none)");
    EXPECT_TRUE(result == "Sun, 31 Mar 2024 03:30:00 +0200" || result == "Sun, 31 Mar 2024 01:30:00 +0100") << result;
}

TEST(SeparatorDate, FindsTheDateTextAfterTheSender)
{
    const struct {
        const char* contents;
        const char* dateText;
    } cases[] = {
        {"From sender1 Wed Jan 3 01:05:34 1996", "Wed Jan 3 01:05:34 1996"},
        {"From    sender   Wed Jan  3 01:05:34 1996   ", "Wed Jan  3 01:05:34 1996"},
        {"From ???@??? Wed Jan 03 01:05:34 1996", "Wed Jan 03 01:05:34 1996"},
        {"From a\tb Wed Jan 3 01:05:34 1996", "Wed Jan 3 01:05:34 1996"},
        {"From ", ""},
        {"From      ", ""},
        {"From sender", ""},
        {"From sender    ", ""},
        {"From: sender Wed Jan 3 01:05:34 1996", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(separatorDateText(c.contents), c.dateText) << '"' << c.contents << '"';

    ScopedTimeZone zone("Europe/Paris");
    std::string out;
    EXPECT_FALSE(appendSeparatorDate("From sender   ", out));
    EXPECT_TRUE(appendSeparatorDate("From sender1 Wed Jan 3 01:05:34 1996", out));
    EXPECT_EQ(out, "Wed, 3 Jan 1996 01:05:34 +0100");
}

} // namespace
} // namespace tarnwick
