#include "batch/UploadJournal.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr std::string_view kHeader = "tarnwick upload journal 1\n";
constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kLongestLine = 64 * 1024;

bool isHexDigest(std::string_view text)
{
    return text.size() == 64
        && std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// "P|D DIGEST OCCURRENCE FOLDER": the key after "P " or "D ", empty when not an entry.
std::string_view entryKey(std::string_view line)
{
    if (line.size() < 2 || (line[0] != 'P' && line[0] != 'D') || line[1] != ' ')
        return {};
    const std::string_view key = line.substr(2);
    if (key.size() < 68 || !isHexDigest(key.substr(0, 64)) || key[64] != ' ')
        return {};
    const std::size_t space = key.find(' ', 65);
    if (space == std::string_view::npos || space == 65 || space > 75 || space + 1 >= key.size()
        || !std::all_of(key.begin() + 65, key.begin() + static_cast<std::ptrdiff_t>(space), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    return key;
}

} // namespace

JournalKeyHash journalKeyHash(std::string_view key)
{
    const auto digest = sha256(key);
    JournalKeyHash hash;
    std::copy_n(digest.begin(), hash.size(), hash.begin());
    return hash;
}

bool JournalKeySet::contains(const JournalKeyHash& hash) const
{
    return std::binary_search(sorted_.begin(), sorted_.end(), hash) || added_.count(hash) != 0;
}

void JournalKeySet::finishLoading()
{
    std::sort(sorted_.begin(), sorted_.end());
    sorted_.erase(std::unique(sorted_.begin(), sorted_.end()), sorted_.end());
    sorted_.shrink_to_fit();
}

std::string journalKey(std::string_view folder, std::string_view digest, std::uint32_t occurrence)
{
    std::string key(digest);
    key += ' ';
    key += std::to_string(occurrence);
    key += ' ';
    key += folder;
    return key;
}

std::size_t readJournalLines(std::string_view text, JournalEntries& entries)
{
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            break; // the rest comes with the next part, or a crash cut it short
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (const std::string_view key = entryKey(line); !key.empty())
            (line[0] == 'D' ? entries.done : entries.pending).load(journalKeyHash(key));
    }
    return start;
}

JournalEntries parseJournal(std::string_view text)
{
    JournalEntries entries;
    readJournalLines(text, entries);
    entries.done.finishLoading();
    entries.pending.finishLoading();
    return entries;
}

std::string UploadJournal::open(const std::string& path)
{
    entries_ = {};
    ChunkReader reader;
    if (!reader.open(path))
        return "Could not read the upload journal \"" + path + "\"";
    std::string text;
    bool empty = true;
    char lastByte = '\n';
    for (;;) {
        const std::optional<std::size_t> read = reader.readInto(text, kChunk);
        if (!read)
            return "Could not read the upload journal \"" + path + "\"";
        if (*read == 0)
            break;
        empty = false;
        lastByte = text.back();
        text.erase(0, readJournalLines(text, entries_));
        if (text.size() > kLongestLine)
            text.clear(); // no entry is this long: damage, passed over
    }
    entries_.done.finishLoading();
    entries_.pending.finishLoading();
    if (std::string error = file_.open(path); !error.empty())
        return error;
    if (empty)
        return file_.append(kHeader);
    // A line cut short by a crash must not run into the next entry.
    if (lastByte != '\n')
        return file_.append("\n");
    return {};
}

std::string UploadJournal::markPending(const std::string& key)
{
    entries_.pending.insert(journalKeyHash(key));
    return file_.append("P " + key + "\n");
}

std::string UploadJournal::markDone(const std::string& key)
{
    entries_.done.insert(journalKeyHash(key));
    return file_.append("D " + key + "\n");
}

} // namespace tarnwick
