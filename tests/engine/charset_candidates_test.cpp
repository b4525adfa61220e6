#include "engine/CharsetCandidates.h"

#include "platform/Log.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarnwick {
namespace {

EncodingId idFor(std::string_view name)
{
    return carryEncoding(encodingForIANAName(name));
}

class CharsetCandidatesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SettingsStore::standard().clearVolatile();
        discardCharsetCandidates();
        setLogSink([this](std::string_view line) { logs.emplace_back(line); });
    }
    void TearDown() override
    {
        setLogSink({});
        SettingsStore::standard().clearVolatile();
        discardCharsetCandidates();
    }
    static void setNames(std::vector<std::string> names)
    {
        SettingsStore::standard().setVolatile(keys::kCharsetNames, std::move(names));
    }

    std::vector<std::string> logs;
};

struct Expected {
    EncodingId encoding;
    std::string name;
};

struct BuildCase {
    const char* label;
    std::optional<std::vector<std::string>> names; // none: key missing
    std::vector<Expected> candidates;
    std::vector<std::string> logs;
};

TEST_F(CharsetCandidatesTest, BuildsFromCharsetNames)
{
    const BuildCase cases[] = {
        {"two known names in order",
         std::vector<std::string>{"iso-2022-jp", "utf-8"},
         {{idFor("iso-2022-jp"), "iso-2022-jp"}, {kEncodingUTF8, "utf-8"}},
         {}},
        {"duplicates stay, names as written",
         std::vector<std::string>{"utf-8", "UTF-8"},
         {{kEncodingUTF8, "utf-8"}, {kEncodingUTF8, "UTF-8"}},
         {}},
        {"unknown name left out, later names still count",
         std::vector<std::string>{"x-no-such-charset", "us-ascii"},
         {{kEncodingASCII, "us-ascii"}},
         {"'x-no-such-charset' is not supported"}},
        {"empty name", std::vector<std::string>{""}, {}, {"'' is not supported"}},
        {"missing key", std::nullopt, {}, {}},
        {"empty array", std::vector<std::string>{}, {}, {}},
        // ASCII must stay ASCII, or separator lines and headers are lost to mbox readers.
        {"encodings that do not write ASCII as ASCII",
         std::vector<std::string>{"UTF-16", "utf-16le", "UTF-32", "UTF-7", "IBM037", "iso-8859-1"},
         {{kEncodingISOLatin1, "iso-8859-1"}},
         {"'UTF-16' is not supported", "'utf-16le' is not supported", "'UTF-32' is not supported",
          "'UTF-7' is not supported", "'IBM037' is not supported"}},
    };
    for (const BuildCase& c : cases) {
        SettingsStore::standard().clearVolatile();
        discardCharsetCandidates();
        logs.clear();
        if (c.names)
            setNames(*c.names);
        const std::vector<EncodingPair>& list = charsetCandidates();
        ASSERT_EQ(list.size(), c.candidates.size()) << c.label;
        for (std::size_t i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i].encoding, c.candidates[i].encoding) << c.label << " #" << i;
            EXPECT_EQ(list[i].charsetName, c.candidates[i].name) << c.label << " #" << i;
        }
        EXPECT_EQ(logs, c.logs) << c.label;
    }
}

TEST_F(CharsetCandidatesTest, FallbacksOnlyWhenTheLookupFails)
{
    struct Fallback {
        const char* name;
        PlatformEncoding fallback;
    };
    const Fallback cases[] = {{"tis-620", kPlatformISOLatinThai}, {"TIS-620", kPlatformISOLatinThai},
                              {"Tis-620", kPlatformISOLatinThai}, {"gb2312", kPlatformEUCCN},
                              {"GB2312", kPlatformEUCCN}};
    for (const Fallback& c : cases) {
        discardCharsetCandidates();
        logs.clear();
        setNames({c.name});
        const PlatformEncoding looked = encodingForIANAName(c.name);
        const PlatformEncoding used = looked == kPlatformEncodingInvalid ? c.fallback : looked;
        const std::vector<EncodingPair>& list = charsetCandidates();
        if (!isEncodingAvailable(used)) {
            EXPECT_TRUE(list.empty()) << c.name;
            continue;
        }
        ASSERT_EQ(list.size(), 1u) << c.name;
        EXPECT_EQ(list[0].encoding, carryEncoding(used)) << c.name;
        EXPECT_EQ(list[0].charsetName, c.name);
        EXPECT_TRUE(logs.empty()) << c.name;
    }
    // The fallback compares whole names: a name without the hyphen is not the Thai one.
    if (encodingForIANAName("tis620x") == kPlatformEncodingInvalid) {
        discardCharsetCandidates();
        logs.clear();
        setNames({"tis620x"});
        EXPECT_TRUE(charsetCandidates().empty());
        EXPECT_EQ(logs, std::vector<std::string>{"'tis620x' is not supported"});
    }
}

TEST_F(CharsetCandidatesTest, BuiltOnceUntilDiscarded)
{
    setNames({"bogus", "utf-8"});
    // Built on a worker thread, as during a job; read and discarded here afterwards.
    std::thread worker([] { charsetCandidates(); });
    worker.join();
    EXPECT_EQ(logs.size(), 1u);

    setNames({"us-ascii"});
    const std::vector<EncodingPair>& held = charsetCandidates();
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].charsetName, "utf-8") << "a changed setting has no effect until discarded";
    EXPECT_EQ(logs.size(), 1u) << "a left-out name is logged once per build";

    discardCharsetCandidates();
    const std::vector<EncodingPair>& rebuilt = charsetCandidates();
    ASSERT_EQ(rebuilt.size(), 1u);
    EXPECT_EQ(rebuilt[0].charsetName, "us-ascii");
}

TEST(CaseInsensitiveEquality, SimpleCaseFoldingLiteral)
{
    struct Case {
        const char* receiver;
        const char* other; // null: absent
        bool equal;
    };
    const Case cases[] = {
        {"tis-620", "TIS-620", true},
        {"gb2312", "Gb2312", true},
        {"", "", true},
        {"tis-620", nullptr, false},
        {"tis-620", "tis-62", false},
        {"tis620", "tis-620", false},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true},     // été / ÉTÉ
        {"\xE2\x84\xAA", "k", true},                        // KELVIN SIGN folds to k
        {"stra\xC3\x9F" "e", "STRASSE", false},             // ß has no simple folding to ss
        {"\xC3\xA9", "e\xCC\x81", false},                    // composed vs decomposed
        {"\xC7\x85", "\xC7\x86", true},                      // title case Dž / dž
        {"\xC4\xB1", "I", false},                            // dotless i
        {"a\xFF", "A\xFF", true},                            // invalid byte equals itself
        {"a\xFF", "a\xFE", false},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> other = c.other ? std::optional<std::string>(c.other) : std::nullopt;
        EXPECT_EQ(ZQ_isEqualToStringCaseInsensitive(c.receiver, other ? &*other : nullptr), c.equal)
            << c.receiver << " vs " << (c.other ? c.other : "(absent)");
    }
}

} // namespace
} // namespace tarnwick
