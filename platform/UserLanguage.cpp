#include "platform/UserLanguage.h"

#include <cstdlib>
#include <string_view>

namespace tarnwick {

std::string userLanguage()
{
    // The order in which setlocale(LC_ALL, "") resolves LC_CTYPE.
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (!value || !*value)
            continue;
        std::string_view name(value);
        name = name.substr(0, name.find_first_of(".@"));
        if (name == "C" || name == "POSIX")
            return {};
        std::string language;
        for (const char c : name)
            language.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
        return language;
    }
    return {};
}

} // namespace tarnwick
