#include "platform/Paths.h"

#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

namespace tarnwick {
namespace {

std::string_view stripTrailingSlashes(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

// getpwnam_r/getpwuid_r need a caller buffer; the reentrant forms keep this safe
// on the worker thread.
std::optional<std::string> homeFromPasswd(const char* name)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    const int rc = name ? ::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found)
                        : ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0 || !found || !found->pw_dir)
        return std::nullopt;
    return std::string(found->pw_dir);
}

std::optional<std::string> expandTilde(std::string_view path)
{
    const std::size_t slash = path.find('/');
    const std::string_view head = path.substr(0, slash);
    const std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    std::optional<std::string> home;
    if (head.size() == 1) {
        std::string current = homeDirectory();
        if (!current.empty())
            home = std::move(current);
    } else {
        home = homeFromPasswd(std::string(head.substr(1)).c_str());
    }
    if (!home)
        return std::nullopt;
    return *home + std::string(rest);
}

std::string joinComponents(bool absolute, const std::vector<std::string>& parts)
{
    std::string out;
    if (absolute)
        out = "/";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += '/';
        out.append(parts[i]);
    }
    return out;
}

void appendComponents(std::string_view path, std::vector<std::string>& parts)
{
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (!part.empty())
            parts.emplace_back(part);
    }
}

} // namespace

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    return homeFromPasswd(nullptr).value_or(std::string());
}

std::string standardizePath(std::string_view input)
{
    if (input.empty())
        return {};
    std::string expanded;
    if (input.front() == '~') {
        if (auto home = expandTilde(input))
            expanded = std::move(*home);
        else
            expanded = std::string(input);
    } else {
        expanded = std::string(input);
    }

    const bool absolute = expanded.front() == '/';
    std::vector<std::string> parts;
    std::string_view rest(expanded);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part != ".." || !absolute) {
            parts.emplace_back(part);
            continue;
        }
        if (parts.empty())
            continue; // "/.." is "/"
        // The real parent: resolve what precedes ".." when it exists, so that
        // "link/.." goes to the parent of the link's target.
        char real[PATH_MAX];
        if (::realpath(joinComponents(true, parts).c_str(), real)) {
            parts.clear();
            appendComponents(parentPath(real), parts);
        } else {
            parts.pop_back();
        }
    }
    if (!absolute && parts.empty())
        return ".";
    return joinComponents(absolute, parts);
}

std::string abbreviateHomeFolder(std::string_view path)
{
    const std::string homeText = homeDirectory();
    const std::string_view home = stripTrailingSlashes(homeText);
    if (home.empty() || home == "/" || home.front() != '/')
        return std::string(path);
    if (path.substr(0, home.size()) != home)
        return std::string(path);
    const std::string_view tail = path.substr(home.size());
    if (tail.empty())
        return "~";
    if (tail.front() != '/')
        return std::string(path);
    return "~" + std::string(stripTrailingSlashes(tail) == "/" ? std::string_view() : tail);
}

std::string joinPath(std::string_view folder, std::string_view name)
{
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    folder = stripTrailingSlashes(folder);
    if (folder.empty())
        return std::string(name);
    if (name.empty())
        return std::string(folder);
    std::string out;
    out.reserve(folder.size() + 1 + name.size());
    out.append(folder);
    if (out.back() != '/')
        out += '/';
    out.append(name);
    return out;
}

std::string fileName(std::string_view path)
{
    path = stripTrailingSlashes(path);
    if (path == "/")
        return "/";
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string escapeControlCharacters(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

std::string parentPath(std::string_view path)
{
    path = stripTrailingSlashes(path);
    if (path == "/")
        return "/";
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    std::string_view parent = path.substr(0, slash);
    while (parent.size() > 1 && parent.back() == '/')
        parent.remove_suffix(1);
    return parent.empty() ? "/" : std::string(parent);
}

} // namespace tarnwick
