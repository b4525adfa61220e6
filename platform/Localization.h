#pragma once
// Lookup of user-visible texts. The English text is the key; without a translator,
// or when the translator has no entry, the key itself is the text.

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwick {

/// Returns the translation of an English key, or the key itself.
using Translator = std::function<std::string(std::string_view key)>;

/// Installs the process-wide translator (the front ends install Qt's); an empty
/// function restores the identity lookup. Install before any worker starts.
void setTranslator(Translator translator);

/// The translation of `key` (the key itself when there is none).
std::string localizedString(std::string_view key);

/// Fills "%@" and "%d" placeholders in order with `args`; "%%" is one percent sign.
std::string formatText(std::string_view format, std::initializer_list<std::string_view> args);

/// formatText(localizedString(key), args): placeholders are filled after the lookup.
std::string localizedFormat(std::string_view key, std::initializer_list<std::string_view> args);

} // namespace tarnwick
