#include "batch/ImapTarget.h"

#include "engine/text/Ascii.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == ',')
        return 63;
    return -1;
}

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexDigitValue(text[i + 1]);
        const int low = hexDigitValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        result.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return result;
}

// The next code point of UTF-8 text; U+FFFD for a byte that starts no valid sequence.
char32_t nextCodePoint(std::string_view text, std::size_t& i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char first = byte(i);
    if (first < 0x80) {
        ++i;
        return first;
    }
    std::size_t length = first >= 0xF0 && first <= 0xF4 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 && first < 0xE0 ? 2 : 0;
    if (first >= 0xF5)
        length = 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t value = first & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return value;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// Decodes one "&...-" run starting after the '&' at text[start]; none when invalid.
std::optional<std::string> decodeRun(std::string_view run)
{
    std::u16string units;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : run) {
        const int value = base64Value(c);
        if (value < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 16) {
            count -= 16;
            units.push_back(static_cast<char16_t>((bits >> count) & 0xFFFF));
        }
    }
    // Left-over bits must be zero and fewer than six; an empty run is "&-" only.
    if (count >= 6 || (bits & ((1u << count) - 1)) != 0 || units.empty())
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return std::nullopt;
        }
        // A printable ASCII character must stand for itself, not be encoded.
        if (c >= 0x20 && c <= 0x7E)
            return std::nullopt;
        appendUtf8(out, c);
    }
    return out;
}

// The host and, when one follows, the port's text of "HOST[:PORT]" or "[V6][:PORT]"
// into target.host; an error text when the form is wrong.
std::string splitHostPort(std::string_view hostPort, ImapTarget& target, std::string_view& portText)
{
    if (!hostPort.empty() && hostPort.front() == '[') {
        const std::size_t close = hostPort.find(']');
        if (close == std::string_view::npos)
            return "an IPv6 address must end with ]";
        target.host = std::string(hostPort.substr(1, close - 1));
        const std::string_view after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return "unexpected text after the host";
            portText = after.substr(1);
            if (portText.empty())
                return "the port is missing after ':'";
        }
        return {};
    }
    const std::size_t colon = hostPort.find(':');
    target.host = std::string(hostPort.substr(0, colon));
    if (colon != std::string_view::npos) {
        portText = hostPort.substr(colon + 1);
        if (portText.empty())
            return "the port is missing after ':'";
    }
    return {};
}

// The host and port of the address's authority into target; an error text when not valid.
std::string readHostPort(std::string_view hostPort, ImapTarget& target)
{
    std::string_view portText;
    if (std::string error = splitHostPort(hostPort, target, portText); !error.empty())
        return error;
    if (target.host.empty())
        return "the address needs a host";
    if (!std::all_of(target.host.begin(), target.host.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':'
                || c == '_';
        }))
        return "the host name is not valid";
    if (!portText.empty()) {
        if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return "the port must be a number from 1 to 65535";
        const unsigned long port = std::stoul(std::string(portText));
        if (port == 0 || port > 65535)
            return "the port must be a number from 1 to 65535";
        target.port = static_cast<std::uint16_t>(port);
    }
    return {};
}

// The user name before the authority's last '@' into target; an error text when missing or not valid.
std::string readUser(std::string_view authority, std::size_t at, ImapTarget& target)
{
    if (at == std::string_view::npos || at == 0)
        return "the address needs a user name (imaps://USER@HOST/FOLDER)";
    const std::string_view userPart = authority.substr(0, at);
    if (userPart.find(':') != std::string_view::npos)
        return "a password is never given in the address: use TARNWICK_IMAP_PASSWORD or type it when asked";
    const auto user = percentDecoded(userPart);
    if (!user || user->empty())
        return "the user name in the address is not valid";
    target.user = *user;
    return {};
}

// The folder's components from the address's path into target ("Eudora" when none).
std::string readTopFolder(std::string_view path, ImapTarget& target)
{
    const auto decodedPath = percentDecoded(path);
    if (!decodedPath)
        return "the folder in the address is not valid";
    std::string_view folder = *decodedPath;
    std::size_t start = 0;
    while (start <= folder.size()) {
        const std::size_t end = std::min(folder.find('/', start), folder.size());
        if (end > start)
            target.topFolder.emplace_back(folder.substr(start, end - start));
        start = end + 1;
    }
    if (target.topFolder.empty())
        target.topFolder.emplace_back("Eudora");
    return {};
}

} // namespace

ImapTargetResult parseImapTarget(std::string_view address)
{
    auto fail = [](std::string text) { return ImapTargetResult{std::nullopt, std::move(text)}; };
    ImapTarget target;
    std::string_view rest;
    if (address.substr(0, 8) == "imaps://") {
        target.security = ImapSecurity::Tls;
        target.port = 993;
        rest = address.substr(8);
    } else if (address.substr(0, 7) == "imap://") {
        target.security = ImapSecurity::StartTls;
        target.port = 143;
        rest = address.substr(7);
    } else {
        return fail("the address must begin with imaps:// or imap://");
    }
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    const std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    const std::size_t at = authority.rfind('@');
    if (std::string error = readUser(authority, at, target); !error.empty())
        return fail(std::move(error));
    if (std::string error = readHostPort(authority.substr(at + 1), target); !error.empty())
        return fail(std::move(error));
    if (std::string error = readTopFolder(path, target); !error.empty())
        return fail(std::move(error));
    return {std::move(target), {}};
}

std::string encodeModifiedUtf7(std::string_view utf8)
{
    std::string out;
    std::u16string pending;
    auto flush = [&] {
        if (pending.empty())
            return;
        out.push_back('&');
        std::uint32_t bits = 0;
        int count = 0;
        for (char16_t unit : pending) {
            bits = (bits << 16) | unit;
            count += 16;
            while (count >= 6) {
                count -= 6;
                out.push_back(kBase64[(bits >> count) & 63]);
            }
            bits &= (1u << count) - 1;
        }
        if (count > 0)
            out.push_back(kBase64[(bits << (6 - count)) & 63]);
        out.push_back('-');
        pending.clear();
    };
    std::size_t i = 0;
    while (i < utf8.size()) {
        const char32_t c = nextCodePoint(utf8, i);
        if (c >= 0x20 && c <= 0x7E) {
            flush();
            out += c == '&' ? std::string("&-") : std::string(1, static_cast<char>(c));
        } else if (c >= 0x10000) {
            pending.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            pending.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            pending.push_back(static_cast<char16_t>(c));
        }
    }
    flush();
    return out;
}

std::string decodeModifiedUtf7(std::string_view name)
{
    std::string out;
    std::size_t i = 0;
    while (i < name.size()) {
        if (name[i] != '&') {
            out.push_back(name[i++]);
            continue;
        }
        const std::size_t end = name.find('-', i + 1);
        if (end == std::string_view::npos) {
            out.push_back(name[i++]);
            continue;
        }
        if (end == i + 1) {
            out.push_back('&');
            i = end + 1;
            continue;
        }
        if (const auto decoded = decodeRun(name.substr(i + 1, end - i - 1))) {
            out += *decoded;
            i = end + 1;
        } else {
            out.push_back(name[i++]);
        }
    }
    return out;
}

std::optional<std::vector<std::string>> maildirFolderComponents(std::string_view name)
{
    if (name.size() < 2 || name.front() != '.' || name == "..")
        return std::nullopt;
    std::vector<std::string> components;
    std::size_t start = 1;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('.', start), name.size());
        if (end == start)
            return std::nullopt; // an empty component: "..", ".A..B" or a trailing "."
        components.push_back(decodeModifiedUtf7(name.substr(start, end - start)));
        start = end + 1;
    }
    return components;
}

std::string serverFolderName(const std::vector<std::string>& components, char delimiter)
{
    const char joiner = delimiter != 0 ? delimiter : '.';
    std::string name;
    for (std::size_t i = 0; i < components.size(); ++i) {
        std::string component = components[i];
        std::replace(component.begin(), component.end(), joiner, '_');
        if (i > 0)
            name.push_back(joiner);
        name += encodeModifiedUtf7(component);
    }
    return name;
}

} // namespace tarnwick
