#include "batch/ThunderbirdPrefs.h"

#include "engine/text/Ascii.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tarnwick {
namespace {

bool isWordCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-' || c == '+';
}

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Reads the statements of a prefs.js text one after another.
class PrefsReader {
public:
    explicit PrefsReader(std::string_view text) : text_(text) {}

    std::map<std::string, std::string> read()
    {
        std::map<std::string, std::string> prefs;
        for (skipBlanks(); at_ < text_.size(); skipBlanks()) {
            const std::size_t start = at_;
            if (auto setting = statement()) {
                prefs.insert_or_assign(std::move(setting->first), std::move(setting->second));
                continue;
            }
            at_ = text_.find('\n', start);
            at_ = at_ == std::string_view::npos ? text_.size() : at_ + 1;
        }
        return prefs;
    }

private:
    // `pref-kind("NAME", VALUE[, ATTRIBUTE]);`
    std::optional<std::pair<std::string, std::string>> statement()
    {
        const std::string_view kind = word();
        if (kind != "user_pref" && kind != "pref" && kind != "sticky_pref")
            return std::nullopt;
        if (!punctuation('('))
            return std::nullopt;
        std::optional<std::string> name = quoted();
        if (!name || !punctuation(','))
            return std::nullopt;
        skipBlanks();
        std::optional<std::string> value = at_ < text_.size() && (text_[at_] == '"' || text_[at_] == '\'') ? quoted() : std::nullopt;
        if (!value) {
            const std::string_view plain = word();
            if (plain.empty())
                return std::nullopt;
            value = std::string(plain);
        }
        if (punctuation(',') && word().empty())
            return std::nullopt;
        if (!punctuation(')') || !punctuation(';'))
            return std::nullopt;
        return std::pair{std::move(*name), std::move(*value)};
    }

    std::string_view word()
    {
        skipBlanks();
        const std::size_t start = at_;
        while (at_ < text_.size() && isWordCharacter(text_[at_]))
            ++at_;
        return text_.substr(start, at_ - start);
    }

    bool punctuation(char c)
    {
        skipBlanks();
        if (at_ >= text_.size() || text_[at_] != c)
            return false;
        ++at_;
        return true;
    }

    // A string in double or single quotes; none when it is not closed on its line or
    // holds an escape that cannot be read.
    std::optional<std::string> quoted()
    {
        skipBlanks();
        if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\''))
            return std::nullopt;
        const char quote = text_[at_++];
        std::string out;
        while (at_ < text_.size() && text_[at_] != quote && text_[at_] != '\n') {
            if (text_[at_] != '\\') {
                out += text_[at_++];
                continue;
            }
            if (!escape(out))
                return std::nullopt;
        }
        if (at_ >= text_.size() || text_[at_] != quote)
            return std::nullopt;
        ++at_;
        return out;
    }

    // The escape at at_ (its backslash) onto `out`.
    bool escape(std::string& out)
    {
        if (++at_ >= text_.size())
            return false;
        const char c = text_[at_++];
        switch (c) {
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case '\\':
        case '"':
        case '\'':
            out += c;
            return true;
        case 'x':
            return codePoint(out, hex(2));
        case 'u':
            return unicode(out);
        }
        return false;
    }

    // \uHHHH, a pair of them for a character beyond the first 64K.
    bool unicode(std::string& out)
    {
        const std::optional<std::uint32_t> first = hex(4);
        if (!first || *first < 0xD800 || *first > 0xDFFF)
            return codePoint(out, first);
        if (*first > 0xDBFF || text_.substr(at_, 2) != "\\u")
            return false;
        at_ += 2;
        const std::optional<std::uint32_t> second = hex(4);
        if (!second || *second < 0xDC00 || *second > 0xDFFF)
            return false;
        return codePoint(out, 0x10000 + ((*first - 0xD800) << 10) + (*second - 0xDC00));
    }

    static bool codePoint(std::string& out, std::optional<std::uint32_t> code)
    {
        if (!code || (*code >= 0xD800 && *code <= 0xDFFF))
            return false;
        appendUtf8(out, *code);
        return true;
    }

    std::optional<std::uint32_t> hex(std::size_t digits)
    {
        if (text_.size() - at_ < digits)
            return std::nullopt;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            const int digit = hexDigitValue(text_[at_ + i]);
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        at_ += digits;
        return value;
    }

    // Blanks and comments.
    void skipBlanks()
    {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++at_;
            } else if (c == '#' || text_.substr(at_, 2) == "//") {
                at_ = text_.find('\n', at_);
                at_ = at_ == std::string_view::npos ? text_.size() : at_;
            } else if (text_.substr(at_, 2) == "/*") {
                const std::size_t end = text_.find("*/", at_ + 2);
                at_ = end == std::string_view::npos ? text_.size() : end + 2;
            } else {
                return;
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::string_view valueOf(const std::map<std::string, std::string>& prefs, const std::string& name)
{
    const auto found = prefs.find(name);
    return found == prefs.end() ? std::string_view() : std::string_view(found->second);
}

// A relative path that stays inside the folder it is taken from: no "..", no NUL.
bool staysInside(std::string_view path)
{
    if (path.empty() || path.starts_with('/') || path.find('\0') != std::string_view::npos)
        return false;
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t end = path.find('/', at);
        end = end == std::string_view::npos ? path.size() : end;
        if (path.substr(at, end - at) == "..")
            return false;
        at = end + 1;
    }
    return true;
}

std::optional<std::string> serverFolder(const std::map<std::string, std::string>& prefs, const std::string& server,
                                        const std::string& profile)
{
    const std::string base = "mail.server." + server + ".";
    constexpr std::string_view kProfileFolder = "[ProfD]";
    const std::string_view relative = valueOf(prefs, base + "directory-rel");
    if (relative.starts_with(kProfileFolder) && staysInside(relative.substr(kProfileFolder.size())))
        return joinPath(profile, relative.substr(kProfileFolder.size()));
    const std::string_view absolute = valueOf(prefs, base + "directory");
    if (absolute.starts_with('/') && absolute.find('\0') == std::string_view::npos)
        return std::string(absolute);
    return std::nullopt;
}

using Prefs = std::map<std::string, std::string>;

// The Local Folders servers in the order they are looked at: the one the account
// manager names, then each of type "none" whose hostname is "Local Folders".
std::vector<std::string> localFoldersServers(const Prefs& prefs)
{
    std::vector<std::string> servers;
    if (const std::string_view chosen = valueOf(prefs, "mail.accountmanager.localfoldersserver"); !chosen.empty())
        servers.emplace_back(chosen);
    constexpr std::string_view kPrefix = "mail.server.", kHostname = ".hostname";
    for (const auto& [name, value] : prefs) {
        if (value == "Local Folders" && name.starts_with(kPrefix) && name.ends_with(kHostname)
            && name.size() > kPrefix.size() + kHostname.size())
            servers.push_back(name.substr(kPrefix.size(), name.size() - kPrefix.size() - kHostname.size()));
    }
    std::erase_if(servers, [&prefs](const std::string& server) { return valueOf(prefs, "mail.server." + server + ".type") != "none"; });
    return servers;
}

} // namespace

std::map<std::string, std::string> readPrefs(std::string_view text) { return PrefsReader(text).read(); }

std::optional<std::string> localFoldersFolder(const Prefs& prefs, const std::string& profile)
{
    for (const std::string& server : localFoldersServers(prefs)) {
        if (auto folder = serverFolder(prefs, server, profile))
            return folder;
    }
    return std::nullopt;
}

bool localFoldersKeepMessageFiles(const Prefs& prefs)
{
    // The server whose folder localFoldersFolder takes, else the first.
    const std::vector<std::string> servers = localFoldersServers(prefs);
    const auto withFolder
        = std::find_if(servers.begin(), servers.end(), [&prefs](const std::string& server) { return serverFolder(prefs, server, "/"); });
    const auto server = withFolder != servers.end() ? withFolder : servers.begin();
    std::string_view store = server == servers.end() ? std::string_view() : valueOf(prefs, "mail.server." + *server + ".storeContractID");
    if (store.empty())
        store = valueOf(prefs, "mail.serverDefaultStoreContractID");
    return store.find("maildirstore") != std::string_view::npos;
}

} // namespace tarnwick
