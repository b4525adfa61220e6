#pragma once
// Thunderbird's default profile and its Local Folders, and converted folders placed
// there as a new top folder without touching the folders already there.

#include "batch/BatchJob.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

/// A profile that a profiles.ini lists: its folder, and the name Thunderbird shows.
struct ListedProfile {
    std::string folder;
    std::string name;
};

/// The profile of a profiles.ini (its text, read from `iniFolder`) that is `wanted`:
/// the [Profile...] section whose Name, else whose Path, is `wanted`. With `wanted`
/// empty, the default: the first [Install...] section's Default, else the
/// [Profile...] section with Default=1, else the only [Profile...] section. A path is
/// taken from `iniFolder` unless it begins with "/" (IsRelative=0 says the same of such
/// paths); a profile without a Name is named after its folder. None when the text
/// names no such profile.
std::optional<ListedProfile> chooseProfile(std::string_view ini, const std::string& iniFolder, std::string_view wanted = {});

/// The Name of every [Profile...] section with a Path, in the order of the text.
std::vector<std::string> profileNames(std::string_view ini);

/// Where Thunderbird keeps its settings below a home folder, in the order looked at:
/// ~/.thunderbird, then the older ~/.mozilla-thunderbird, then the Snap's and the
/// Flatpak's.
std::vector<std::string> thunderbirdFolders(const std::string& home);

/// A Thunderbird profile and the folder of its Local Folders account.
struct ThunderbirdProfile {
    std::string folder;
    std::string localFolders; // where prefs.js says, else folder/Mail/Local Folders
    std::string name;         // as profiles.ini names it
};

/// The outcome of findThunderbirdProfile: the profile, or why there is none.
struct ProfileSearch {
    std::optional<ThunderbirdProfile> profile;
    std::string problem;
};

/// The profile named `wanted` (the default one when empty) of the first of
/// thunderbirdFolders(home) that has a profiles.ini, when its Local Folders exist: the
/// folder its prefs.js gives the Local Folders account (localFoldersFolder), else
/// Mail/Local Folders.
ProfileSearch findThunderbirdProfile(const std::string& home, std::string_view wanted = {});

/// The name of the top folder the converted folders become.
inline constexpr std::string_view kThunderbirdFolderName = "Eudora";

/// Converted folders on their way into a profile's Local Folders: converted into a
/// hidden folder there (which Thunderbird does not show), then renamed into place as
/// NAME.sbd beside a new empty mailbox NAME: "Eudora", or "Eudora_2", "Eudora_3", ...
/// when a folder of that name (NAME, NAME.sbd or NAME.msf) is there.
class ThunderbirdPlacement {
public:
    /// Refuses while Thunderbird has the profile open; makes the hidden folder.
    /// Returns the error text, empty on success.
    std::string begin(const ThunderbirdProfile& profile);
    /// The folder to convert into (after begin succeeded).
    const std::string& stagingFolder() const { return staging_; }
    /// Places the converted folders, checking again that Thunderbird is not running.
    /// Returns the error text, empty on success; on failure the converted folders stay
    /// in stagingFolder().
    std::string finish();
    /// The top folder made ("Eudora"), after finish succeeded.
    const std::string& placedName() const { return placed_; }
    /// Removes the hidden folder and what it holds.
    void abandon();

private:
    ThunderbirdProfile profile_;
    std::string staging_;
    std::string placed_;
};

/// What runJobIntoThunderbird did: the job's outcome (Failed also when placing
/// failed), and the top folder made (its path), when one was.
struct PlacementOutcome {
    JobOutcome outcome = JobOutcome::Failed;
    std::string placedFolder;
};

/// Runs the job on the calling thread (SourcePath and the options the store holds) in
/// Thunderbird's layout into a ThunderbirdPlacement's hidden folder, made a top folder
/// of `profile` once the job completed; otherwise the hidden folder is removed. The
/// reporter gets the job's texts, a line saying where the folder went (logLine), and
/// its final text after the placement: "Error: ..."
/// when it failed (a log line names where the converted folders stay). The run's
/// destination, layout and format are set in the store's volatile layer.
PlacementOutcome runJobIntoThunderbird(const ThunderbirdProfile& profile, BatchReporter& reporter, const std::atomic<bool>& hasCanceled,
                                       const std::atomic<bool>& stopsAtOnce);

} // namespace tarnwick
