#include "batch/EudoraIni.h"

namespace tarnwick {
namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    return lower;
}

std::string keyOf(std::string_view section, std::string_view key) { return lowerAscii(section) + '\n' + lowerAscii(key); }

// Windows refuses these in a file name; "\" and "/" separate components.
bool isNameCharacter(char c)
{
    return static_cast<unsigned char>(c) >= 0x20 && std::string_view("<>:\"|?*").find(c) == std::string_view::npos;
}

// A colour part: a decimal number 0 ... 255.
std::optional<std::uint32_t> colourPart(std::string_view text)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text)
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    return value <= 255 ? std::optional<std::uint32_t>(value) : std::nullopt;
}

// The longest label value taken.
constexpr std::size_t kMaximumLabelValue = 255;

} // namespace

std::optional<std::string> windowsText(std::string_view bytes, EncodingId windowsEncoding)
{
    std::u16string text;
    if (decodeAppend(bytes.data(), bytes.size(), kEncodingUTF8, text))
        return std::string(bytes);
    text.clear();
    std::string utf8;
    if (!decodeAppend(bytes.data(), bytes.size(), windowsEncoding, text) || !encodeText(text, kEncodingUTF8, utf8))
        return std::nullopt;
    return utf8;
}

std::optional<EudoraLabel> parseEudoraLabel(std::string_view value)
{
    if (value.size() > kMaximumLabelValue)
        return std::nullopt;
    std::optional<std::uint32_t> colour = 0;
    for (int part = 0; part < 3; ++part) {
        const std::size_t comma = value.find(',');
        if (comma == std::string_view::npos)
            return std::nullopt;
        const std::optional<std::uint32_t> level = colourPart(value.substr(0, comma));
        colour = colour && level ? std::optional<std::uint32_t>(*colour << 8 | *level) : std::nullopt;
        value.remove_prefix(comma + 1);
    }
    return EudoraLabel{colour, std::string(trimmed(value))};
}

std::vector<std::string> eudoraLabelNames(const EudoraIni& ini, EncodingId windowsEncoding)
{
    std::vector<std::string> names;
    for (int label = 1; label <= kEudoraLabels; ++label) {
        const std::string key = "Label" + std::to_string(label);
        const std::optional<std::string> value = ini.value("Labels", key);
        const std::optional<EudoraLabel> read = value ? parseEudoraLabel(*value) : std::nullopt;
        if (!read) {
            names.push_back("Label " + std::to_string(label));
            continue;
        }
        std::string name = windowsText(read->name, windowsEncoding).value_or(std::string());
        for (char& c : name)
            c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c;
        names.emplace_back(trimmed(name));
    }
    return names;
}

EudoraIni EudoraIni::parse(std::string_view bytes)
{
    EudoraIni ini;
    std::string section;
    while (!bytes.empty()) {
        const std::size_t end = std::min(bytes.find_first_of("\r\n"), bytes.size());
        const std::string_view line = trimmed(bytes.substr(0, end));
        bytes.remove_prefix(end);
        if (bytes.starts_with("\r\n"))
            bytes.remove_prefix(2);
        else if (!bytes.empty())
            bytes.remove_prefix(1);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section.assign(trimmed(line.substr(1, line.size() - 2)));
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0 || line.front() == ';')
            continue;
        ini.values_.try_emplace(keyOf(section, trimmed(line.substr(0, equals))), trimmed(line.substr(equals + 1)));
    }
    return ini;
}

std::optional<std::string> EudoraIni::value(std::string_view section, std::string_view key) const
{
    const auto it = values_.find(keyOf(section, key));
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

std::optional<WindowsPath> parseWindowsPath(std::string_view text)
{
    text = trimmed(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = trimmed(text.substr(1, text.size() - 2));
    WindowsPath path;
    const bool drive = text.size() >= 2 && text[1] == ':' && ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
    if (drive)
        text.remove_prefix(2);
    path.absolute = drive || text.starts_with('\\') || text.starts_with('/');
    while (!text.empty()) {
        const std::size_t end = std::min(text.find_first_of("\\/"), text.size());
        const std::string_view component = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (component.empty() || component == ".")
            continue;
        if (component == "..") {
            if (!path.components.empty())
                path.components.pop_back();
            else if (!path.absolute)
                ++path.ups;
            continue;
        }
        for (const char c : component)
            if (!isNameCharacter(c))
                return std::nullopt;
        path.components.emplace_back(component);
    }
    if (path.components.empty() && path.ups == 0 && !path.absolute)
        return std::nullopt;
    return path;
}

} // namespace tarnwick
