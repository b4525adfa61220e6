#pragma once
// Table cases as tests of their own: each row of a parameterised suite is named after its
// label, so that it shows by name in the results and runs alone
// (ctest -R 'Cases/CliMaildir.WhereEachMailboxGoes/FileNewName').
//
//     INSTANTIATE_TEST_SUITE_P(Cases, Suite, testing::ValuesIn(kCases), tarnwick::testSupport::NamedByLabel());

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <string_view>

namespace tarnwick::testSupport {

/// A label as a test name: its ASCII letters and digits, each word begun with a capital
/// ("file, new name" gives "FileNewName"); "_" for a label with none.
inline std::string caseName(std::string_view label)
{
    std::string name;
    bool wordStart = true;
    for (const char c : label) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || !std::isalnum(byte)) {
            wordStart = true;
            continue;
        }
        name += wordStart ? static_cast<char>(std::toupper(byte)) : c;
        wordStart = false;
    }
    return name.empty() ? "_" : name;
}

/// The name generator for INSTANTIATE_TEST_SUITE_P: a case type with a `name` member.
struct NamedByLabel {
    template <typename Case> std::string operator()(const ::testing::TestParamInfo<Case>& info) const { return caseName(info.param.name); }
};

} // namespace tarnwick::testSupport
