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

} // namespace

void setTranslator(Translator translator)
{
    std::lock_guard lock(translatorMutex);
    currentTranslator() = std::move(translator);
}

std::string localizedString(std::string_view key)
{
    std::lock_guard lock(translatorMutex);
    if (const Translator& translate = currentTranslator())
        return translate(key);
    return std::string(key);
}

std::string formatText(std::string_view format, std::initializer_list<std::string_view> args)
{
    std::string out;
    out.reserve(format.size() + 64);
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%' || i + 1 == format.size()) {
            out += c;
            continue;
        }
        const char placeholder = format[i + 1];
        if (placeholder == '%') {
            out += '%';
            ++i;
        } else if ((placeholder == '@' || placeholder == 'd') && next != args.end()) {
            out += *next++;
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

std::string localizedFormat(std::string_view key, std::initializer_list<std::string_view> args)
{
    return formatText(localizedString(key), args);
}

} // namespace tarnwick
