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
    for (const Case& c : cases)
        EXPECT_EQ(defaultProfileFolder(c.ini, "/tb"), c.expected) << c.label;
}

} // namespace
} // namespace tarnwick
