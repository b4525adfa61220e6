// Which profile a profiles.ini names as the default, as Thunderbird picks it.
#include "batch/ThunderbirdProfile.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(ThunderbirdProfile, DefaultProfileOfEachKindOfIni)
{
    const struct Case {
        const char* label;
        const char* ini;
        std::optional<std::string> expected;
    } cases[] = {
        {"install section first",
         "[Profile1]\nName=old\nIsRelative=1\nPath=old.default\nDefault=1\n\n"
         "[Profile0]\nName=new\nIsRelative=1\nPath=Profiles/new.default-release\n\n"
         "[InstallFDC34C9F024745EB]\nDefault=Profiles/new.default-release\nLocked=1\n",
         "/tb/Profiles/new.default-release"},
        {"the profile marked default", "[General]\nStartWithLastProfile=1\n[Profile0]\nPath=a.one\n[Profile1]\nPath=b.two\nDefault=1\n",
         "/tb/b.two"},
        {"the only profile", "[Profile0]\r\nName=default\r\nIsRelative=1\r\nPath=x1.default\r\n", "/tb/x1.default"},
        {"absolute path", "[Profile0]\nIsRelative=0\nPath=/data/mail profile\nDefault=1\n", "/data/mail profile"},
        {"IsRelative=0 on a path that is not absolute", "[Profile0]\nIsRelative=0\nPath=abc.x\n", "/tb/abc.x"},
        {"absolute install default", "[Install1]\nDefault=/elsewhere/p\n[Profile0]\nPath=q\n", "/elsewhere/p"},
        {"blanks around keys and values", "[Profile0]\n  Path = spaced.default \nIsRelative= 1\n", "/tb/spaced.default"},
        {"two profiles, neither default", "[Profile0]\nPath=a\n[Profile1]\nPath=b\n", std::nullopt},
        {"no profile", "[General]\nVersion=2\n", std::nullopt},
        {"empty install default", "[Install1]\nDefault=\n[Profile0]\nPath=only\n", "/tb/only"},
        {"keys before any section", "Path=stray\nDefault=1\n", std::nullopt},
        {"comments and a section with no path", ";Path=c\n[Profile0]\n#Path=d\nName=x\nDefault=1\n", std::nullopt},
        {"Default=1 in another kind of section", "[General]\nDefault=1\nPath=g\n[Profile0]\nPath=p\n", "/tb/p"},
        {"", "", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<ListedProfile> chosen = chooseProfile(c.ini, "/tb");
        EXPECT_EQ(chosen ? std::optional(chosen->folder) : std::nullopt, c.expected) << c.label;
    }
}

// A profile asked for by name (or by its Path), and the name the default one shows.
TEST(ThunderbirdProfile, ProfileChosenByName)
{
    const std::string ini = "[Profile1]\nName=default\nIsRelative=1\nPath=a1.default\n\n"
                            "[Profile0]\nName=Work mail\nIsRelative=1\nPath=b2.default-release\n\n"
                            "[Profile2]\nIsRelative=0\nPath=/data/c3.nameless\n\n"
                            "[Profile3]\nName=b2.default-release\nPath=d4.confusing\n\n"
                            "[InstallFDC34C9F024745EB]\nDefault=b2.default-release\nLocked=1\n";
    const struct Case {
        const char* wanted;
        std::optional<ListedProfile> expected;
    } cases[] = {
        {"", ListedProfile{"/tb/b2.default-release", "Work mail"}},
        {"default", ListedProfile{"/tb/a1.default", "default"}},
        {"Work mail", ListedProfile{"/tb/b2.default-release", "Work mail"}},
        // A Name is matched before a Path.
        {"b2.default-release", ListedProfile{"/tb/d4.confusing", "b2.default-release"}},
        {"a1.default", ListedProfile{"/tb/a1.default", "default"}},
        {"/data/c3.nameless", ListedProfile{"/data/c3.nameless", "c3.nameless"}},
        {"work mail", std::nullopt},
        {"Default", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<ListedProfile> chosen = chooseProfile(ini, "/tb", c.wanted);
        EXPECT_EQ(chosen.has_value(), c.expected.has_value()) << c.wanted;
        if (chosen && c.expected) {
            EXPECT_EQ(chosen->folder, c.expected->folder) << c.wanted;
            EXPECT_EQ(chosen->name, c.expected->name) << c.wanted;
        }
    }
    EXPECT_EQ(profileNames(ini), (std::vector<std::string>{"default", "Work mail", "c3.nameless", "b2.default-release"}));
    // An install default that no [Profile] lists is named after its folder.
    const std::optional<ListedProfile> unlisted = chooseProfile("[Install1]\nDefault=Profiles/x9.main\n", "/tb");
    ASSERT_TRUE(unlisted);
    EXPECT_EQ(unlisted->name, "x9.main");
}

} // namespace
} // namespace tarnwick
