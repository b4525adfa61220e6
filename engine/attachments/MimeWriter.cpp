#include "engine/attachments/MimeWriter.h"

#include "engine/text/Base64.h"

#include <algorithm>
#include <cstring>

namespace tarnwick {
namespace {

constexpr std::size_t kBoundaryHexDigits = 32;
// Encoded characters per RFC 2231 continuation line.
constexpr std::size_t kContinuationLength = 60;

// FNV-1a, 64 bits, continued from `hash`.
std::uint64_t fnv1a(std::string_view bytes, std::uint64_t hash)
{
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

void appendHex(std::uint64_t value, std::string& out)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4)
        out += kDigits[(value >> shift) & 15];
}

bool isPrintableAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// RFC 2231 attribute-char: anything but controls, space, non-ASCII and tspecials, '*', '\'' and '%'.
bool isAttributeChar(unsigned char c) { return c > 0x20 && c < 0x7F && std::strchr("*'%()<>@,;:\\\"/[]?=", c) == nullptr; }

} // namespace

void appendBase64Lines(const unsigned char* bytes, std::size_t length, std::string_view terminator, std::string& out)
{
    const std::size_t lines = (length + kBase64LineInput - 1) / kBase64LineInput;
    std::size_t at = out.size();
    out.resize(at + (length + 2) / 3 * 4 + lines * terminator.size());
    char* const base = out.data();
    std::size_t done = 0;
    while (done < length) {
        const std::size_t lineEnd = std::min(length, done + kBase64LineInput);
        for (; done < lineEnd; done += 3) {
            base64Quantum(bytes + done, std::min<std::size_t>(3, lineEnd - done), base + at);
            at += 4;
        }
        done = lineEnd;
        std::memcpy(base + at, terminator.data(), terminator.size());
        at += terminator.size();
    }
}

std::string boundaryFor(std::initializer_list<std::string_view> contents, std::uint64_t salt)
{
    std::uint64_t first = 0xcbf29ce484222325ULL;
    std::uint64_t second = 0x84222325cbf29ce4ULL;
    for (const std::string_view piece : contents) {
        first = fnv1a(piece, first);
        second = fnv1a(piece, second ^ piece.size());
    }
    for (std::uint64_t attempt = 0;; ++attempt) {
        const char mix[16] = {static_cast<char>(salt),          static_cast<char>(salt >> 8),    static_cast<char>(salt >> 16),
                              static_cast<char>(salt >> 24),    static_cast<char>(attempt),      static_cast<char>(attempt >> 8),
                              static_cast<char>(attempt >> 16), static_cast<char>(attempt >> 24)};
        std::string boundary = "=_";
        boundary.reserve(2 + kBoundaryHexDigits);
        appendHex(fnv1a(std::string_view(mix, sizeof mix), first), boundary);
        appendHex(fnv1a(std::string_view(mix, sizeof mix), second), boundary);
        const bool occurs = std::any_of(contents.begin(), contents.end(),
                                        [&boundary](std::string_view piece) { return piece.find(boundary) != std::string_view::npos; });
        if (!occurs)
            return boundary;
    }
}

void appendNameParameter(std::string& header, std::string_view name, std::string_view value, std::string_view terminator)
{
    if (isPrintableAscii(value)) {
        header.append("; ").append(name).append("=\"");
        for (const char c : value) {
            if (c == '"' || c == '\\')
                header += '\\';
            header += c;
        }
        header += '"';
        return;
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAttributeChar(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kDigits[byte >> 4];
            encoded += kDigits[byte & 15];
        }
    }
    if (encoded.size() <= kContinuationLength) {
        header.append(";").append(terminator).append(" ").append(name).append("*=UTF-8''").append(encoded);
        return;
    }
    std::size_t at = 0;
    for (int index = 0; at < encoded.size(); ++index) {
        std::size_t end = std::min(encoded.size(), at + kContinuationLength);
        // Never split a %XX escape between two pieces.
        if (end < encoded.size() && encoded[end - 1] == '%')
            end -= 1;
        else if (end < encoded.size() && end >= 2 && encoded[end - 2] == '%')
            end -= 2;
        header.append(";").append(terminator).append(" ").append(name).append("*").append(std::to_string(index)).append("*=");
        if (index == 0)
            header.append("UTF-8''");
        header.append(encoded, at, end - at);
        at = end;
    }
}

bool isSevenBit(std::string_view bytes)
{
    return std::none_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

} // namespace tarnwick
