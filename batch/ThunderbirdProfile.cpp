#include "batch/ThunderbirdProfile.h"

#include "batch/ThunderbirdPrefs.h"

#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Localization.h"
#include "platform/OutputFile.h"
#include "platform/Paths.h"
#include "platform/ProfileFolders.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"
#include "platform/UploadFiles.h"

#include <cerrno>

namespace tarnwick {
namespace {

// The most of a profiles.ini read: a few sections of a few lines each.
constexpr std::uint64_t kIniLimit = 1024 * 1024;
// The most of a prefs.js read: large ones hold a few thousand settings.
constexpr std::uint64_t kPrefsLimit = 16 * 1024 * 1024;
// The most numbered names tried for the top folder.
constexpr int kMostNumbers = 9999;

std::string_view trimmed(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

struct IniSection {
    std::string_view name;
    std::string_view path, isDefault, profileName;
};

// The sections with the keys that tell profiles apart, in the order of the text.
std::vector<IniSection> iniSections(std::string_view ini)
{
    std::vector<IniSection> sections;
    for (std::size_t at = 0; at < ini.size();) {
        std::size_t end = ini.find('\n', at);
        end = end == std::string_view::npos ? ini.size() : end;
        const std::string_view line = trimmed(ini.substr(at, end - at));
        at = end + 1;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            sections.push_back({line.substr(1, line.size() - 2), {}, {}, {}});
            continue;
        }
        const std::size_t equals = line.find('=');
        if (sections.empty() || equals == std::string_view::npos || line.front() == ';' || line.front() == '#')
            continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        IniSection& section = sections.back();
        if (key == "Path")
            section.path = value;
        else if (key == "Default")
            section.isDefault = value;
        else if (key == "Name")
            section.profileName = value;
    }
    return sections;
}

bool isProfile(const IniSection& section) { return section.name.starts_with("Profile") && !section.path.empty(); }

// A path that does not begin with "/" is taken from the ini's folder, whatever
// IsRelative says: never from the folder the program was started in.
std::string resolved(std::string_view path, const std::string& iniFolder)
{
    return path.starts_with('/') ? std::string(path) : joinPath(iniFolder, path);
}

ListedProfile listed(const IniSection& section, const std::string& iniFolder)
{
    std::string folder = resolved(section.path, iniFolder);
    std::string name = section.profileName.empty() ? fileName(folder) : std::string(section.profileName);
    return {std::move(folder), std::move(name)};
}

// The [Install...] section's default: the profile of that Path when one is listed.
ListedProfile installDefault(const std::vector<IniSection>& sections, std::string_view path, const std::string& iniFolder)
{
    for (const IniSection& section : sections) {
        if (isProfile(section) && section.path == path)
            return listed(section, iniFolder);
    }
    std::string folder = resolved(path, iniFolder);
    std::string name = fileName(folder);
    return {std::move(folder), std::move(name)};
}

std::optional<ListedProfile> defaultProfile(const std::vector<IniSection>& sections, const std::string& iniFolder)
{
    for (const IniSection& section : sections) {
        if (section.name.starts_with("Install") && !section.isDefault.empty())
            return installDefault(sections, section.isDefault, iniFolder);
    }
    const IniSection* only = nullptr;
    std::size_t profiles = 0;
    for (const IniSection& section : sections) {
        if (!isProfile(section))
            continue;
        if (section.isDefault == "1")
            return listed(section, iniFolder);
        only = &section;
        ++profiles;
    }
    if (profiles != 1)
        return std::nullopt;
    return listed(*only, iniFolder);
}

} // namespace

std::optional<ListedProfile> chooseProfile(std::string_view ini, const std::string& iniFolder, std::string_view wanted)
{
    const std::vector<IniSection> sections = iniSections(ini);
    if (wanted.empty())
        return defaultProfile(sections, iniFolder);
    for (const bool byName : {true, false}) {
        for (const IniSection& section : sections) {
            if (isProfile(section) && (byName ? section.profileName : section.path) == wanted)
                return listed(section, iniFolder);
        }
    }
    return std::nullopt;
}

std::vector<std::string> profileNames(std::string_view ini)
{
    std::vector<std::string> names;
    for (const IniSection& section : iniSections(ini)) {
        if (isProfile(section))
            names.push_back(listed(section, {}).name);
    }
    return names;
}

std::vector<std::string> thunderbirdFolders(const std::string& home)
{
    return {joinPath(home, ".thunderbird"), joinPath(home, ".mozilla-thunderbird"), joinPath(home, "snap/thunderbird/common/.thunderbird"),
            joinPath(home, ".var/app/org.mozilla.Thunderbird/.thunderbird")};
}

namespace {

// The folder the profile's prefs.js gives its Local Folders account, else
// Mail/Local Folders; or why the mail cannot go there: prefs.js is there but cannot be
// read, or the account keeps a file per message, where Thunderbird would not show
// mbox folders.
struct LocalFolders {
    std::string folder;
    std::string problem;
};

LocalFolders localFoldersOf(const std::string& profile)
{
    LocalFolders found{joinPath(joinPath(profile, "Mail"), "Local Folders"), {}};
    const std::string prefsPath = joinPath(profile, "prefs.js");
    if (entryType(prefsPath) == EntryType::None)
        return found;
    const std::optional<std::string> text = readSmallFile(prefsPath, kPrefsLimit);
    if (!text)
        return {{}, translate("Could not read \"%1\"", {prefsPath})};
    const std::map<std::string, std::string> prefs = readPrefs(*text);
    if (localFoldersKeepMessageFiles(prefs))
        return {{},
                translate("The Thunderbird profile \"%1\" keeps its Local Folders as one file per message (Maildir), where Thunderbird "
                          "would not show the converted folders: convert into a folder instead",
                          {profile})};
    if (std::optional<std::string> folder = localFoldersFolder(prefs, profile))
        found.folder = std::move(*folder);
    return found;
}

std::string namesText(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

} // namespace

ProfileSearch findThunderbirdProfile(const std::string& home, std::string_view wanted)
{
    for (const std::string& folder : thunderbirdFolders(home)) {
        const std::string iniPath = joinPath(folder, "profiles.ini");
        if (targetType(iniPath) != EntryType::Regular)
            continue;
        const std::optional<std::string> ini = readSmallFile(iniPath, kIniLimit);
        if (!ini)
            return {std::nullopt, translate("Could not read \"%1\"", {iniPath})};
        const std::optional<ListedProfile> profile = chooseProfile(*ini, folder, wanted);
        if (!profile && !wanted.empty())
            return {std::nullopt,
                    translate("\"%1\" names no Thunderbird profile \"%2\" (its profiles: %3)",
                              {iniPath, std::string(wanted), namesText(profileNames(*ini))})};
        if (!profile || targetType(profile->folder) != EntryType::Directory)
            return {std::nullopt, translate("\"%1\" names no default Thunderbird profile", {iniPath})};
        const LocalFolders localFolders = localFoldersOf(profile->folder);
        if (!localFolders.problem.empty())
            return {std::nullopt, localFolders.problem};
        if (targetType(localFolders.folder) != EntryType::Directory)
            return {std::nullopt,
                    translate("The Thunderbird profile \"%1\" has no Local Folders yet: start Thunderbird once, then try again",
                              {profile->folder})};
        return {ThunderbirdProfile{profile->folder, localFolders.folder, profile->name}, {}};
    }
    return {std::nullopt, translate("No Thunderbird profile found (looked in \"%1\")", {joinPath(home, ".thunderbird")})};
}

std::string ThunderbirdPlacement::begin(const ThunderbirdProfile& profile)
{
    profile_ = profile;
    if (profileInUse(profile.folder))
        return translate("Thunderbird is running (its profile \"%1\" is in use): quit Thunderbird, then try again", {profile.folder});
    const PrivateFolder staging = createPrivateFolder(profile.localFolders, ".tarnwick-");
    if (staging.error != 0)
        return translate("Could not create a folder in \"%1\": %2", {profile.localFolders, systemErrorText(staging.error)});
    staging_ = staging.path;
    return {};
}

std::string ThunderbirdPlacement::finish()
{
    if (profileInUse(profile_.folder))
        return translate("Thunderbird is running (its profile \"%1\" is in use): quit Thunderbird, then try again", {profile_.folder});
    for (int number = 1; number <= kMostNumbers; ++number) {
        const std::string name
            = number == 1 ? std::string(kThunderbirdFolderName) : std::string(kThunderbirdFolderName) + "_" + std::to_string(number);
        const std::string mailbox = joinPath(profile_.localFolders, name);
        if (entryType(mailbox + ".sbd") != EntryType::None || entryType(mailbox + ".msf") != EntryType::None)
            continue;
        // The empty mailbox NAME that Thunderbird shows NAME.sbd's folders under.
        const CreateResult claim = createExclusively(mailbox);
        if (claim.error == EEXIST)
            continue;
        if (!claim.created())
            return translate("Could not create \"%1\": %2", {mailbox, systemErrorText(claim.error)});
        const int error = renameWithoutReplacing(staging_, mailbox + ".sbd");
        if (error == EEXIST)
            removeFile(mailbox, claim.identity);
        else if (error != 0) {
            removeFile(mailbox, claim.identity);
            return translate("Could not rename \"%1\": %2", {staging_, systemErrorText(error)});
        } else {
            placed_ = name;
            staging_.clear();
            return {};
        }
    }
    return translate("Could not create \"%1\": %2", {joinPath(profile_.localFolders, kThunderbirdFolderName), systemErrorText(EEXIST)});
}

void ThunderbirdPlacement::abandon()
{
    if (!staging_.empty())
        removeFolderTree(staging_);
    staging_.clear();
}

namespace {

// The job's texts as they come, its final text held back for what follows the job.
class HeldResultReporter : public BatchReporter {
public:
    explicit HeldResultReporter(BatchReporter& inner) : inner_(inner) {}
    void statusText(const std::string& text) override { inner_.statusText(text); }
    void progress(const JobProgress& progress) override { inner_.progress(progress); }
    void logLine(const std::string& line) override { inner_.logLine(line); }
    void summary(const JobSummary& summary) override { inner_.summary(summary); }
    void finalText(const std::string& text) override { final_ = text; }
    const std::string& held() const { return final_; }

private:
    BatchReporter& inner_;
    std::string final_;
};

} // namespace

PlacementOutcome runJobIntoThunderbird(const ThunderbirdProfile& profile, BatchReporter& reporter, const std::atomic<bool>& hasCanceled,
                                       const std::atomic<bool>& stopsAtOnce)
{
    ThunderbirdPlacement placement;
    if (const std::string error = placement.begin(profile); !error.empty()) {
        reporter.finalText(translate("Error: %1", {error}));
        return {};
    }
    SettingsStore& store = SettingsStore::instance();
    store.setVolatile(keys::kDestinationPath, SettingValue(placement.stagingFolder()));
    store.setVolatile(keys::kOutputLayout, SettingValue(std::string("thunderbird")));
    store.setVolatile(keys::kOutputFormat, SettingValue(std::string("mbox")));
    HeldResultReporter held(reporter);
    PlacementOutcome result;
    result.outcome = runBatchJob(held, hasCanceled, stopsAtOnce);
    if (result.outcome != JobOutcome::Completed) {
        placement.abandon();
        reporter.finalText(held.held());
        return result;
    }
    if (const std::string error = placement.finish(); !error.empty()) {
        const std::string kept = translate("The converted folders stay in \"%1\"", {placement.stagingFolder()});
        logMessage(kept);
        reporter.logLine(kept);
        reporter.finalText(translate("Error: %1", {error}));
        result.outcome = JobOutcome::Failed;
        return result;
    }
    result.placedFolder = joinPath(profile.localFolders, placement.placedName());
    reporter.logLine(
        translate("Placed into Thunderbird: Local Folders > %1 (\"%2\")", {placement.placedName(), result.placedFolder + ".sbd"}));
    reporter.finalText(held.held());
    return result;
}

} // namespace tarnwick
