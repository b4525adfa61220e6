#pragma once
// Canonical decomposition (Unicode NFD), for orderings that must not depend on how a
// text composes its accented letters.

#include <string>
#include <string_view>

namespace tarnwick {

/// `utf8` in NFD as UTF-16 (ill-formed sequences as U+FFFD); undecomposed when ICU's
/// normaliser cannot be had. Compared with std::u16string::compare, in code-unit order.
std::u16string decomposedUtf16(std::string_view utf8);

} // namespace tarnwick
