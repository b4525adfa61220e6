#pragma once
// Eudora tag scanner: one <NAME>...</NAME> or <NAME PARAM>...</NAME> block that
// begins at a '<' in raw message bytes.

#include "engine/ByteRange.h"
#include "platform/encodings/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tarnwick {

/// One tag block, as offsets from its opening '<'.
struct TagBlock {
    ByteRange opening;   // the opening tag
    ByteRange closing;   // the first matching closing tag
    EncodingId encoding; // named by the tag's parameter, or kEncodingNone
};

/// Scans `bytes` (which must begin with '<') for a block of the tag `name` ("x-charset",
/// "x-flowed" or "x-html"); none when they do not hold one. Never reads outside `bytes`.
std::optional<TagBlock> scanTag(std::string_view bytes, std::string_view name);

/// Message bytes in memory, as the tag scanner and the body cutter read them. A type
/// with the same members reads a message kept outside memory.
class MemoryBytes {
public:
    MemoryBytes(std::string_view bytes) : bytes_(bytes) {}
    std::size_t size() const { return bytes_.size(); }
    char at(std::size_t offset) const { return bytes_[offset]; }
    /// The first occurrence of `needle` at or after `from`, or npos.
    std::size_t find(std::string_view needle, std::size_t from) const { return bytes_.find(needle, from); }
    std::size_t find(char c, std::size_t from) const { return bytes_.find(c, from); }
    /// Whether the bytes at `offset` are `text` (false when they run past the end).
    bool matches(std::size_t offset, std::string_view text) const
    {
        return offset <= bytes_.size() && bytes_.substr(offset, text.size()) == text;
    }
    void copy(std::size_t offset, std::size_t length, std::string& out) const { out.assign(bytes_.substr(offset, length)); }

private:
    std::string_view bytes_;
};

/// The encoding that a tag's parameter names (at most 64 ASCII bytes are looked up).
EncodingId encodingForTagParameter(std::string_view parameter);
/// Parameters longer than this name no encoding and are not read.
inline constexpr std::size_t kLongestTagParameter = 64;

/// The tag scanner of one message, for a walk that tries many opening tags in it. The
/// closing tag of a name, and the '>' that ends a parameter, are each searched for
/// once per stretch of the message and the answer reused by every later opening tag
/// before it, so that a message of unclosed tags takes time linear in its size.
template <typename Bytes> class BasicTagScanner {
public:
    explicit BasicTagScanner(Bytes bytes) : bytes_(bytes) {}
    explicit BasicTagScanner(std::string_view bytes) requires std::is_same_v<Bytes, MemoryBytes> : bytes_(bytes) {}

    /// What scanTag(bytes.substr(offset), name) gives; `offset` must not move backwards
    /// between calls for the reuse to pay off (it is correct in any order).
    std::optional<TagBlock> blockAt(std::size_t offset, std::string_view name)
    {
        if (offset >= bytes_.size())
            return std::nullopt;
        const std::size_t remaining = bytes_.size() - offset;
        const std::size_t nameLength = name.size();
        // '<', the name and at least one byte after it.
        if (bytes_.at(offset) != '<' || remaining < nameLength + 2 || !bytes_.matches(offset + 1, name))
            return std::nullopt;

        std::size_t openingLength = 0;
        EncodingId encoding = kEncodingNone;
        const char afterName = bytes_.at(offset + nameLength + 1);
        if (afterName == '>') {
            openingLength = nameLength + 2;
        } else if (afterName == ' ') {
            // The parameter runs untrimmed up to the first '>', line breaks included.
            const std::size_t parameterStart = nameLength + 2;
            const std::size_t gt = find(parameterEnd_, offset + parameterStart);
            if (gt == std::string_view::npos)
                return std::nullopt;
            openingLength = gt - offset + 1;
            const std::size_t parameterLength = gt - offset - parameterStart;
            // No charset name is that long (the lookup refuses them too): never read,
            // so that many tags sharing one far '>' cost nothing each.
            if (parameterLength <= kLongestTagParameter) {
                bytes_.copy(offset + parameterStart, parameterLength, parameter_);
                encoding = encodingForTagParameter(parameter_);
            }
        } else {
            return std::nullopt;
        }

        // The first "</NAME>" after the opening tag closes the block; there is no nesting.
        const std::size_t closing = find(closingSearch(name), offset + openingLength);
        if (closing == std::string_view::npos)
            return std::nullopt;
        return TagBlock{ByteRange{0, openingLength}, ByteRange{closing - offset, nameLength + 3}, encoding};
    }

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

    std::size_t find(Search& search, std::size_t from)
    {
        if (search.done && from >= search.from && (search.found == std::string_view::npos || from <= search.found))
            return search.found;
        const std::size_t found = from < bytes_.size() ? bytes_.find(search.needle, from) : std::string_view::npos;
        const std::size_t end = found == std::string_view::npos ? bytes_.size() : found + search.needle.size();
        bytesSearched_ += end > from ? end - from : 0;
        search.from = from;
        search.found = found;
        search.done = true;
        return found;
    }

    Search& closingSearch(std::string_view name)
    {
        for (Search& search : closings_) {
            if (std::string_view(search.needle).substr(2, name.size()) == name && search.needle.size() == name.size() + 3)
                return search;
        }
        std::string needle = "</";
        needle.append(name);
        needle += '>';
        return closings_.emplace_back(Search{std::move(needle)});
    }

    Bytes bytes_;
    Search parameterEnd_{">"};
    std::vector<Search> closings_; // one per tag name asked for
    std::string parameter_;
    std::uint64_t bytesSearched_ = 0;
};

using TagScanner = BasicTagScanner<MemoryBytes>;

} // namespace tarnwick
