#pragma once
// Eudora tag scanner: one <NAME>...</NAME> or <NAME PARAM>...</NAME> block that
// begins at a '<' in raw message bytes.

#include "engine/ByteRange.h"
#include "platform/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// One tag block, as offsets from its opening '<'.
struct TagBlock {
    ByteRange opening;      // the opening tag
    ByteRange closing;      // the first matching closing tag
    EncodingId encoding;    // named by the tag's parameter, or kEncodingNone
};

/// Scans `bytes` (which must begin with '<') for a block of the tag `name` ("x-charset",
/// "x-flowed" or "x-html"); none when they do not hold one. Never reads outside `bytes`.
std::optional<TagBlock> scanTag(std::string_view bytes, std::string_view name);

/// The tag scanner of one message, for a walk that tries many opening tags in it. The
/// closing tag of a name, and the '>' that ends a parameter, are each searched for
/// once per stretch of the message and the answer reused by every later opening tag
/// before it, so that a message of unclosed tags takes time linear in its size.
class TagScanner {
public:
    explicit TagScanner(std::string_view bytes) : bytes_(bytes) {}

    /// What scanTag(bytes.substr(offset), name) gives; `offset` must not move backwards
    /// between calls for the reuse to pay off (it is correct in any order).
    std::optional<TagBlock> blockAt(std::size_t offset, std::string_view name);

    /// Bytes examined by searches so far (to show that a walk stays linear).
    std::uint64_t bytesSearched() const { return bytesSearched_; }

private:
    // The first occurrence of a needle at or after `from`: it answers for any later
    // start up to `found` too (npos: there is none after `from`).
    struct Search {
        std::string needle;
        std::size_t from = 0;
        std::size_t found = 0;
        bool done = false;
    };

    std::size_t find(Search& search, std::size_t from);
    Search& closingSearch(std::string_view name);

    std::string_view bytes_;
    Search parameterEnd_{">"};
    std::vector<Search> closings_; // one per tag name asked for
    std::uint64_t bytesSearched_ = 0;
};

} // namespace tarnwick
