#pragma once
// User-visible texts. The English text is the key; without a translator, or when the
// translator has no entry, the key itself is the text. Placeholders are Qt's: "%1",
// "%2", ... name the arguments by position.

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

/// Replaces "%1" ... "%9" in `pattern` by the argument of that position, in one pass:
/// an argument's own text is never scanned again, and a placeholder without an
/// argument stays as it is.
std::string formatMessage(std::string_view pattern, std::initializer_list<std::string_view> args = {});

/// The translation of `key` (the key itself when there is none), with its
/// placeholders filled from `args` after the lookup.
std::string translate(std::string_view key, std::initializer_list<std::string_view> args = {});

} // namespace tarnwick
