#pragma once
// The language of the user's locale, as setlocale(LC_ALL, "") would choose it for the
// character category, read without changing the process's locale.

#include <string>

namespace tarnwick {

/// The locale name's language and territory, lower-case language first ("ja", "zh_tw",
/// "de_at"); empty for the C and POSIX locales and when no locale is set.
std::string userLanguage();

} // namespace tarnwick
