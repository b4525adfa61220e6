#include "engine/TagScanner.h"

#include <cstring>
#include <string_view>

namespace tarnwick {
namespace {

constexpr std::uint64_t kLongestCharsetName = 64;

/// The encoding that a tag's parameter names: only ASCII text is looked up, and a name
/// the lookup does not know gives kEncodingNone. Availability is not tested here.
EncodingId encodingForParameter(const char* bytes, std::uint64_t length)
{
    // No charset name is that long (the lookup refuses them too): never walked, so
    // that many tags sharing one far '>' cost nothing each.
    if (length > kLongestCharsetName)
        return kEncodingNone;
    for (std::uint64_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(bytes[i]) > 0x7F)
            return kEncodingNone;
    }
    const PlatformEncoding encoding = encodingForIANAName(std::string_view(bytes, length));
    if (encoding == kPlatformEncodingInvalid)
        return kEncodingNone;
    return carryEncoding(encoding);
}

} // namespace

std::optional<TagBlock> scanTag(std::string_view bytes, std::string_view name)
{
    return TagScanner(bytes).blockAt(0, name);
}

std::size_t TagScanner::find(Search& search, std::size_t from)
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

TagScanner::Search& TagScanner::closingSearch(std::string_view name)
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

std::optional<TagBlock> TagScanner::blockAt(std::size_t offset, std::string_view name)
{
    if (offset >= bytes_.size())
        return std::nullopt;
    const std::string_view text = bytes_.substr(offset);
    const std::size_t nameLength = name.size();
    // '<', the name and at least one byte after it.
    if (text[0] != '<' || text.size() < nameLength + 2 || text.substr(1, nameLength) != name)
        return std::nullopt;

    std::size_t openingLength = 0;
    EncodingId encoding = kEncodingNone;
    const char afterName = text[nameLength + 1];
    if (afterName == '>') {
        openingLength = nameLength + 2;
    } else if (afterName == ' ') {
        // The parameter runs untrimmed up to the first '>', line breaks included.
        const std::size_t parameterStart = nameLength + 2;
        const std::size_t gt = find(parameterEnd_, offset + parameterStart);
        if (gt == std::string_view::npos)
            return std::nullopt;
        openingLength = gt - offset + 1;
        encoding = encodingForParameter(text.data() + parameterStart, gt - offset - parameterStart);
    } else {
        return std::nullopt;
    }

    // The first "</NAME>" after the opening tag closes the block; there is no nesting.
    const std::size_t closing = find(closingSearch(name), offset + openingLength);
    if (closing == std::string_view::npos)
        return std::nullopt;
    return TagBlock{ByteRange{0, openingLength}, ByteRange{closing - offset, nameLength + 3}, encoding};
}

} // namespace tarnwick
