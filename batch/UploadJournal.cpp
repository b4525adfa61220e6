#include "batch/UploadJournal.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr std::string_view kHeader = "tarnwick upload journal 1\n";
constexpr std::uint64_t kJournalLimit = 1ull << 30;

bool isHexDigest(std::string_view text)
{
    return text.size() == 64
           && std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace

std::string journalKey(std::string_view folder, std::string_view digest, std::uint32_t occurrence)
{
    std::string key(digest);
    key += ' ';
    key += std::to_string(occurrence);
    key += ' ';
    key += folder;
    return key;
}

JournalEntries parseJournal(std::string_view text)
{
    JournalEntries entries;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            break; // the last line was cut short
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        // "P|D DIGEST OCCURRENCE FOLDER"
        if (line.size() < 2 || (line[0] != 'P' && line[0] != 'D') || line[1] != ' ')
            continue;
        const std::string_view key = line.substr(2);
        if (key.size() < 68 || !isHexDigest(key.substr(0, 64)) || key[64] != ' ')
            continue;
        const std::size_t space = key.find(' ', 65);
        if (space == std::string_view::npos || space == 65 || space > 75 || space + 1 >= key.size()
            || !std::all_of(key.begin() + 65, key.begin() + static_cast<std::ptrdiff_t>(space),
                            [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        (line[0] == 'D' ? entries.done : entries.pending).emplace(key);
    }
    return entries;
}

std::string UploadJournal::open(const std::string& path)
{
    const auto text = readSmallFile(path, kJournalLimit);
    if (!text)
        return "Could not read the upload journal \"" + path + "\"";
    entries_ = parseJournal(*text);
    if (std::string error = file_.open(path); !error.empty())
        return error;
    if (text->empty())
        return file_.append(kHeader);
    // A line cut short by a crash must not run into the next entry.
    if (text->back() != '\n')
        return file_.append("\n");
    return {};
}

std::string UploadJournal::markPending(const std::string& key)
{
    entries_.pending.insert(key);
    return file_.append("P " + key + "\n");
}

std::string UploadJournal::markDone(const std::string& key)
{
    entries_.done.insert(key);
    entries_.pending.erase(key);
    return file_.append("D " + key + "\n");
}

} // namespace tarnwick
