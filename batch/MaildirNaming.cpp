#include "batch/MaildirNaming.h"

#include "batch/OutputNaming.h"
#include "platform/FolderHandle.h"
#include "platform/FolderListing.h"
#include "platform/LeftoverFolder.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <random>

namespace tarnwick {
namespace {

constexpr int kLastNumber = 100000;

// The next code point of UTF-8 `text` at `at`, which moves past it; U+FFFD for a byte
// that begins no well-formed sequence.
char32_t nextCodePoint(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80)
        return lead;
    int length = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
    if (lead > 0xF4)
        length = -1;
    if (length < 0 || at + static_cast<std::size_t>(length) > text.size())
        return U'\uFFFD';
    char32_t value = lead & (0x3F >> length);
    for (int i = 0; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
        if ((next & 0xC0) != 0x80)
            return U'\uFFFD';
        value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    const char32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (value < least[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return U'\uFFFD';
    at += static_cast<std::size_t>(length);
    return value;
}

void appendBase64(const std::u16string& units, std::string& out)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    std::uint32_t bits = 0;
    int count = 0;
    for (const char16_t unit : units) {
        bits = (bits << 16) | unit;
        count += 16;
        while (count >= 6) {
            count -= 6;
            out += kAlphabet[(bits >> count) & 0x3F];
        }
    }
    if (count > 0)
        out += kAlphabet[(bits << (6 - count)) & 0x3F];
}

} // namespace

std::string mailFolderName(std::string_view mailboxName)
{
    constexpr std::string_view kExtension = ".mbx";
    if (mailboxName.size() > kExtension.size()) {
        const std::string_view tail = mailboxName.substr(mailboxName.size() - kExtension.size());
        if (std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char a, char b) { return (a | 0x20) == b; }))
            mailboxName.remove_suffix(kExtension.size());
    }
    return std::string(mailboxName);
}

std::string modifiedUtf7(std::string_view name)
{
    std::string out;
    std::u16string pending;
    auto flush = [&] {
        if (pending.empty())
            return;
        out += '&';
        appendBase64(pending, out);
        out += '-';
        pending.clear();
    };
    for (std::size_t at = 0; at < name.size();) {
        const char32_t c = nextCodePoint(name, at);
        if (c >= 0x20 && c <= 0x7E) {
            flush();
            out += c == U'&' ? std::string("&-") : std::string(1, static_cast<char>(c));
        } else if (c >= 0x10000) {
            pending += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            pending += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            pending += static_cast<char16_t>(c);
        }
    }
    flush();
    return out;
}

std::string maildirPlusName(const std::vector<std::string>& path)
{
    std::string name;
    for (std::string component : path) {
        std::replace(component.begin(), component.end(), '.', '_');
        std::replace(component.begin(), component.end(), '/', '_');
        name += '.';
        name += modifiedUtf7(component);
    }
    return name;
}

MaildirClaim claimMaildir(const std::string& destination, const std::vector<std::string>& path, bool nested, MaildirFolder& folder)
{
    MaildirClaim claim;
    std::string parent = destination;
    std::vector<std::string> names = path;
    if (nested) {
        const FolderPath made = createFolderPath(destination, {path.begin(), path.end() - 1});
        claim.createdFolders = made.created;
        if (!made.failedPath.empty()) {
            claim.path = made.failedPath;
            claim.error = made.error;
            return claim;
        }
        parent = made.path;
        names = {path.back()};
    } else if (const int error = MaildirFolder::completeRoot(destination); error != 0) {
        claim.path = destination;
        claim.error = error;
        return claim;
    }
    const std::string last = names.back();
    for (int number = 2;; ++number) {
        claim.path = joinPath(parent, nested ? names.back() : maildirPlusName(names));
        claim.error = folder.create(claim.path);
        if (claim.error != EEXIST || number > kLastNumber)
            return claim;
        names.back() = last + "_" + std::to_string(number);
    }
}

bool isMaildirStagingName(std::string_view name)
{
    const std::string_view prefix = kMaildirStagingPrefix;
    return name.size() == prefix.size() + 6 && name.substr(0, prefix.size()) == prefix
        && std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

std::vector<StagingLeftover> removeStagingLeftovers(const FolderHandle& destination)
{
    std::vector<StagingLeftover> found;
    if (destination.entryType("tmp") != EntryType::Directory)
        return found;
    int error = 0;
    const std::shared_ptr<const FolderHandle> tmp = destination.openFolder("tmp", error);
    if (!tmp)
        return found;
    bool onlyRemoved = true; // tmp/ held nothing but staging folders, all removed
    for (const std::string& name : folderEntryNames(*tmp)) {
        if (!isMaildirStagingName(name) || tmp->entryType(name) != EntryType::Directory) {
            onlyRemoved = false;
            continue;
        }
        StagingLeftover leftover{tmp->pathOf(name)};
        leftover.outcome = removeLeftoverFolder(*tmp, name, leftover.error);
        onlyRemoved = onlyRemoved && leftover.outcome == LeftoverOutcome::Removed;
        found.push_back(std::move(leftover));
    }
    // The tmp/ a killed job made for its staging goes too, as the job would have removed
    // it; a Maildir root's own (cur/ beside it) stays.
    if (!found.empty() && onlyRemoved && destination.entryType("cur") == EntryType::None)
        destination.removeEmptyFolder("tmp");
    return found;
}

std::unique_ptr<MaildirPlacement> MaildirPlacement::open(const std::string& destination, int& error)
{
    std::shared_ptr<const FolderHandle> held = FolderHandle::open(destination, error);
    if (!held)
        return nullptr;
    return std::unique_ptr<MaildirPlacement>(new MaildirPlacement(std::move(held)));
}

MaildirPlacement::~MaildirPlacement()
{
    if (staging_)
        tmp_->removeEmptyFolder(stagingName_); // only when empty: a Maildir left in it is kept
    if (madeTmp_)
        destination_->removeEmptyFolder("tmp");
}

const std::string& MaildirPlacement::path() const { return destination_->path(); }

int MaildirPlacement::openStaging(bool rootIsMaildir)
{
    if (staging_)
        return 0;
    const CreateResult tmp = destination_->createFolder("tmp");
    if (!tmp.created() && tmp.error != EEXIST)
        return tmp.error;
    madeTmp_ = tmp.created() && !rootIsMaildir;
    int error = 0;
    tmp_ = destination_->openFolder("tmp", error);
    if (!tmp_)
        return error;
    std::random_device device;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = kMaildirStagingPrefix;
        for (int i = 0; i < 6; ++i)
            name += "abcdefghijklmnopqrstuvwxyz0123456789"[device() % 36];
        const CreateResult made = tmp_->createFolder(name);
        if (made.error == EEXIST)
            continue;
        if (!made.created())
            return made.error;
        staging_ = tmp_->openFolder(name, error);
        if (!staging_)
            return error;
        // Locked for the job: another run's clean-up may have taken this folder for a
        // killed run's between its creation and the lock; then another is made.
        if (const int locked = staging_->lockAsEntryOf(*tmp_, name); locked == EWOULDBLOCK || locked == ENOENT) {
            staging_.reset();
            continue;
        }
        stagingName_ = name;
        stagingPath_ = tmp_->pathOf(name);
        return 0;
    }
    return EEXIST;
}

MaildirClaim MaildirPlacement::claim(const std::vector<std::string>& path, bool nested, MaildirFolder& folder, bool exactName)
{
    MaildirClaim claim;
    std::shared_ptr<const FolderHandle> parent = destination_;
    if (nested) {
        const FolderPath made = createFolderPath(destination_, {path.begin(), path.end() - 1});
        claim.createdFolders = made.created;
        if (!made.failedPath.empty()) {
            claim.path = made.failedPath;
            claim.error = made.error;
            return claim;
        }
        parent = made.folder;
    } else {
        for (const char* part : {"cur", "new", "tmp"}) {
            const CreateResult made = destination_->createFolder(part);
            if (!made.created() && made.error != EEXIST) {
                claim.path = destination_->path();
                claim.error = made.error;
                return claim;
            }
        }
    }
    if (const int error = openStaging(!nested); error != 0) {
        claim.path = joinPath(destination_->path(), "tmp");
        claim.error = error;
        return claim;
    }
    const std::string staged = std::to_string(++staged_);
    claim.path = staging_->pathOf(staged);
    claim.error = folder.create(staging_, staged);
    if (claim.error != 0)
        return claim;
    const std::vector<std::string> names = nested ? std::vector<std::string>{path.back()} : path;
    folder.placeLater(parent, [names, nested, exactName](int number) {
        if (exactName && number > 1)
            return std::string(); // no other name
        std::vector<std::string> numbered = names;
        if (number > 1)
            numbered.back() += "_" + std::to_string(number);
        return nested ? numbered.back() : maildirPlusName(numbered);
    });
    return claim;
}

} // namespace tarnwick
