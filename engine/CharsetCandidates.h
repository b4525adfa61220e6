#pragma once
// The charset candidate list: the user's CharsetNames turned into (encoding, name)
// pairs, built on first use and kept until discarded.

#include "platform/TextEncoding.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct EncodingPair {
    EncodingId encoding;
    std::string charsetName; // as the user wrote it
};

/// The list, built from CharsetNames now if absent. Called on the worker thread only.
const std::vector<EncodingPair>& charsetCandidates();

/// Makes the list absent; the next charsetCandidates() builds it again. Called only
/// while no job runs (before the worker starts).
void discardCharsetCandidates();

/// True when `other` is present and equals the whole of `receiver` under Unicode
/// simple case folding, compared literally (UTF-8 texts).
bool ZQ_isEqualToStringCaseInsensitive(std::string_view receiver, const std::string* other);

} // namespace tarnwick
