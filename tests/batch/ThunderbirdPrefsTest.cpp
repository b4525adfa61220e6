// A Thunderbird profile's prefs.js as read for where its Local Folders are.
#include "batch/ThunderbirdPrefs.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(ThunderbirdPrefs, SettingsOfEachKindOfStatement)
{
    const struct Case {
        const char* label;
        const char* text;
        std::map<std::string, std::string> expected;
    } cases[] = {
        {"string, number, boolean",
         "// Mozilla User Preferences\n\nuser_pref(\"a.b\", \"x y\");\nuser_pref(\"n\", -12);\nuser_pref(\"t\", true);\n",
         {{"a.b", "x y"}, {"n", "-12"}, {"t", "true"}}},
        {"escapes", R"(user_pref("e", "q\" b\\ s\' \x41 \u00e9 \ud83d\ude00 \n");)", {{"e", "q\" b\\ s' A \xC3\xA9 \xF0\x9F\x98\x80 \n"}}},
        {"single quotes, pref and sticky_pref, an attribute", "pref('p', 'v', locked);\nsticky_pref(\"s\",1);", {{"p", "v"}, {"s", "1"}}},
        {"blanks and comments between the parts", "user_pref ( /* c */ \"k\" ,\n \"v\" ) ; # end\n", {{"k", "v"}}},
        {"the last setting of a name wins", "user_pref(\"k\", \"1\");\nuser_pref(\"k\", \"2\");", {{"k", "2"}}},
        {"a broken statement is passed over to the end of its line",
         "user_pref(\"a\" \"b\");\nuser_pref(\"c\", \"unclosed);\nuser_pref(\"d\", \"ok\");\n",
         {{"d", "ok"}}},
        {"bad escapes", "user_pref(\"x\", \"\\q\");\nuser_pref(\"y\", \"\\ud800\");\nuser_pref(\"z\", \"\\u00\");\n", {}},
        {"a lone low surrogate", R"(user_pref("x", "\udc00");)", {}},
        {"no semicolon at the end", "user_pref(\"x\", \"1\")", {}},
        {"an unclosed comment", "/* user_pref(\"x\", \"1\");", {}},
        {"", "", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readPrefs(c.text), c.expected) << c.label;
}

TEST(ThunderbirdPrefs, WhereTheLocalFoldersAre)
{
    const std::string local = "user_pref(\"mail.server.server2.hostname\", \"Local Folders\");\n"
                              "user_pref(\"mail.server.server2.type\", \"none\");\n";
    const std::string imap = "user_pref(\"mail.server.server1.hostname\", \"Local Folders\");\n"
                             "user_pref(\"mail.server.server1.type\", \"imap\");\n"
                             "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]ImapMail/x\");\n";
    const struct Case {
        const char* label;
        std::string text;
        std::optional<std::string> expected;
    } cases[] = {
        {"relative to the profile", local + "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]Mail/Local Folders-1\");",
         "/p/Mail/Local Folders-1"},
        {"directory-rel before directory",
         local
             + "user_pref(\"mail.server.server2.directory\", \"/old/Local Folders\");\n"
               "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]Mail/Local Folders\");",
         "/p/Mail/Local Folders"},
        {"an absolute directory alone", local + "user_pref(\"mail.server.server2.directory\", \"/mnt/mail/Lokale Ordner\");",
         "/mnt/mail/Lokale Ordner"},
        {"a relative path leaving the profile falls back to directory",
         local
             + "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]Mail/../../x\");\n"
               "user_pref(\"mail.server.server2.directory\", \"/srv/Local Folders\");",
         "/srv/Local Folders"},
        {"a relative path leaving the profile and nothing else", local + "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]..\");",
         std::nullopt},
        {"another base than the profile", local + "user_pref(\"mail.server.server2.directory-rel\", \"[Home]Mail\");", std::nullopt},
        {"a directory that is not absolute", local + "user_pref(\"mail.server.server2.directory\", \"Mail\");", std::nullopt},
        {"the account manager's choice first",
         local
             + "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
               "user_pref(\"mail.accountmanager.localfoldersserver\", \"server7\");\n"
               "user_pref(\"mail.server.server7.type\", \"none\");\n"
               "user_pref(\"mail.server.server7.directory-rel\", \"[ProfD]Mail/Local Folders-2\");",
         "/p/Mail/Local Folders-2"},
        {"the account manager naming a server of another type",
         imap + local
             + "user_pref(\"mail.accountmanager.localfoldersserver\", \"server1\");\n"
               "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]Mail/Local Folders\");",
         "/p/Mail/Local Folders"},
        {"only a server of another type", imap, std::nullopt},
        {"no server", "user_pref(\"mail.accountmanager.accounts\", \"account1\");", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(localFoldersFolder(readPrefs(c.text), "/p"), c.expected) << c.label;
}

// Thunderbird's Maildir store keeps a file per message; its folders are no mbox files.
TEST(ThunderbirdPrefs, WhetherLocalFoldersKeepAFilePerMessage)
{
    const std::string local = "user_pref(\"mail.accountmanager.localfoldersserver\", \"server1\");\n"
                              "user_pref(\"mail.server.server1.type\", \"none\");\n"
                              "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/Local Folders\");\n";
    const std::string maildir = "\"@mozilla.org/msgstore/maildirstore;1\");\n";
    const std::string mbox = "\"@mozilla.org/msgstore/berkeleystore;1\");\n";
    const struct Case {
        const char* label;
        std::string text;
        bool expected;
    } cases[] = {
        {"the account's Maildir store", local + "user_pref(\"mail.server.server1.storeContractID\", " + maildir, true},
        {"the account's mbox store", local + "user_pref(\"mail.server.server1.storeContractID\", " + mbox, false},
        {"no store of its own, Maildir the default", local + "user_pref(\"mail.serverDefaultStoreContractID\", " + maildir, true},
        {"its own mbox store over a Maildir default",
         local + "user_pref(\"mail.server.server1.storeContractID\", " + mbox + "user_pref(\"mail.serverDefaultStoreContractID\", "
             + maildir,
         false},
        {"another account's Maildir store", local + "user_pref(\"mail.server.server2.storeContractID\", " + maildir, false},
        {"no account, Maildir the default", "user_pref(\"mail.serverDefaultStoreContractID\", " + maildir, true},
        {"nothing said", local, false},
        {"the server whose folder is taken, not the one the account manager names",
         "user_pref(\"mail.accountmanager.localfoldersserver\", \"server9\");\nuser_pref(\"mail.server.server9.type\", \"none\");\n"
         "user_pref(\"mail.server.server9.storeContractID\", "
             + mbox
             + "user_pref(\"mail.server.server3.hostname\", \"Local Folders\");\nuser_pref(\"mail.server.server3.type\", \"none\");\n"
             + "user_pref(\"mail.server.server3.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
             + "user_pref(\"mail.server.server3.storeContractID\", " + maildir,
         true},
        {"a server without a folder, when none has one",
         "user_pref(\"mail.server.server1.hostname\", \"Local Folders\");\n"
         "user_pref(\"mail.server.server1.type\", \"none\");\nuser_pref(\"mail.server.server1.storeContractID\", "
             + maildir,
         true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(localFoldersKeepMessageFiles(readPrefs(c.text)), c.expected) << c.label;
}

} // namespace
} // namespace tarnwick
