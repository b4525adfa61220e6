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

/// The encoding a name stands for: the lookup's, or the fallback when the lookup fails.
EncodingId idFor(std::string_view name, PlatformEncoding fallback = kPlatformEncodingInvalid)
{
    const PlatformEncoding looked = encodingForIANAName(name);
    return carryEncoding(looked == kPlatformEncodingInvalid ? fallback : looked);
}

class CharsetCandidatesTest : public ::testing::Test {
protected:
    void SetUp() override { setLogSink([this](std::string_view line) { logs.emplace_back(line); }); }
    void TearDown() override
    {
        setLogSink({});
        setNames(std::nullopt);
    }
    void setNames(std::optional<std::vector<std::string>> names)
    {
        SettingsStore::standard().clearVolatile();
        if (names)
            SettingsStore::standard().setVolatile(keys::kCharsetNames, std::move(*names));
        discardCharsetCandidates();
        logs.clear();
    }

    std::vector<std::string> logs;
};

using Names = std::vector<std::string>;

TEST_F(CharsetCandidatesTest, BuildsFromCharsetNames)
{
    const struct {
        const char* label;
        std::optional<Names> names; // none: key missing
        std::vector<std::pair<EncodingId, std::string>> candidates;
        Names logs;
    } cases[] = {
        {"two known names in order", Names{"iso-2022-jp", "utf-8"},
         {{idFor("iso-2022-jp"), "iso-2022-jp"}, {kEncodingUTF8, "utf-8"}}, {}},
        {"duplicates stay, names as written", Names{"utf-8", "UTF-8"},
         {{kEncodingUTF8, "utf-8"}, {kEncodingUTF8, "UTF-8"}}, {}},
        {"unknown name left out, later names still count", Names{"x-no-such-charset", "us-ascii"},
         {{kEncodingASCII, "us-ascii"}}, {"'x-no-such-charset' is not supported"}},
        {"empty name", Names{""}, {}, {"'' is not supported"}},
        {"missing key", std::nullopt, {}, {}},
        {"fallbacks in any case", Names{"tis-620", "TIS-620", "GB2312"},
         {{idFor("tis-620", kPlatformISOLatinThai), "tis-620"}, {idFor("TIS-620", kPlatformISOLatinThai), "TIS-620"},
          {idFor("GB2312", kPlatformEUCCN), "GB2312"}}, {}},
        {"fallback compares whole names", Names{"tis-620x"}, {}, {"'tis-620x' is not supported"}},
        // ASCII must stay ASCII, or separator lines and headers are lost to mbox readers.
        {"encodings that do not write ASCII as ASCII",
         Names{"UTF-16", "utf-16le", "UTF-32", "UTF-7", "IBM037", "iso-8859-1"}, {{kEncodingISOLatin1, "iso-8859-1"}},
         {"'UTF-16' is not supported", "'utf-16le' is not supported", "'UTF-32' is not supported",
          "'UTF-7' is not supported", "'IBM037' is not supported"}},
    };
    for (const auto& c : cases) {
        setNames(c.names);
        std::vector<std::pair<EncodingId, std::string>> built;
        for (const EncodingPair& pair : charsetCandidates())
            built.emplace_back(pair.encoding, pair.charsetName);
        EXPECT_EQ(built, c.candidates) << c.label;
        EXPECT_EQ(logs, c.logs) << c.label;
    }
}

TEST_F(CharsetCandidatesTest, BuiltOnceUntilDiscarded)
{
    setNames(Names{"bogus", "utf-8"});
    // Built on a worker thread, as during a job; read and discarded here afterwards.
    std::thread worker([] { charsetCandidates(); });
    worker.join();
    SettingsStore::standard().setVolatile(keys::kCharsetNames, Names{"us-ascii"});
    ASSERT_EQ(charsetCandidates().size(), 1u);
    EXPECT_EQ(charsetCandidates()[0].charsetName, "utf-8") << "a changed setting has no effect until discarded";
    EXPECT_EQ(logs.size(), 1u) << "a left-out name is logged once per build";
    discardCharsetCandidates();
    ASSERT_EQ(charsetCandidates().size(), 1u);
    EXPECT_EQ(charsetCandidates()[0].charsetName, "us-ascii");
}

TEST(CaseInsensitiveEquality, SimpleCaseFoldingLiteral)
{
    const struct {
        const char* receiver;
        const char* other; // null: absent
        bool equal;
    } cases[] = {
        {"tis-620", "TIS-620", true}, {"tis-620", nullptr, false}, {"tis-620", "tis-62", false},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", true}, // été / ÉTÉ
        {"\xE2\x84\xAA", "k", true},                    // KELVIN SIGN folds to k
        {"stra\xC3\x9F" "e", "STRASSE", false},         // no simple folding of ß to ss
        {"\xC3\xA9", "e\xCC\x81", false},                // composed vs decomposed
        {"a\xFF", "A\xFF", true}, {"a\xFF", "a\xFE", false}, // an invalid byte equals only itself
    };
    for (const auto& c : cases) {
        const std::string other = c.other ? c.other : "";
        EXPECT_EQ(ZQ_isEqualToStringCaseInsensitive(c.receiver, c.other ? &other : nullptr), c.equal)
            << c.receiver << " vs " << (c.other ? c.other : "(absent)");
    }
}

} // namespace
} // namespace tarnwick
