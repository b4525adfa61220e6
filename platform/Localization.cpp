#include "platform/Localization.h"

#include <mutex>

namespace tarnwick {
namespace {

std::mutex translatorMutex;
Translator& currentTranslator()
{
    static Translator translator;
    return translator;
}

std::string lookUp(std::string_view key)
{
    std::lock_guard lock(translatorMutex);
    if (const Translator& translation = currentTranslator())
        return translation(key);
    return std::string(key);
}

} // namespace

void setTranslator(Translator translator)
{
    std::lock_guard lock(translatorMutex);
    currentTranslator() = std::move(translator);
}

std::string formatMessage(std::string_view pattern, std::initializer_list<std::string_view> args)
{
    std::string out;
    out.reserve(pattern.size() + 64);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (index < args.size()) {
                out += args.begin()[index];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

std::string translate(std::string_view key, std::initializer_list<std::string_view> args) { return formatMessage(lookUp(key), args); }

} // namespace tarnwick
