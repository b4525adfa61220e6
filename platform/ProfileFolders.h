#pragma once
// The file steps of placing converted folders into a mail program's profile: whether
// the program holds the profile, a private folder to convert into, a move that never
// replaces anything, and the removal of that private folder.

#include <string>
#include <string_view>

namespace tarnwick {

/// Whether a Mozilla program (Thunderbird) has the profile folder open: another
/// process holds a lock on its `.parentlock`, or its `lock` link names a process
/// ("ADDRESS:+PID") that is alive here. A `lock` that is not such a link, or whose
/// target cannot be read as one, counts as held.
bool profileInUse(const std::string& profileFolder);

/// The result of createPrivateFolder: the folder's path, or the errno of the failure.
struct PrivateFolder {
    std::string path;
    int error = 0;
};

/// Creates a new folder in `parent` only this user may enter (0700), named `prefix`
/// followed by six random characters.
PrivateFolder createPrivateFolder(const std::string& parent, std::string_view prefix);

/// Renames `from` to `to` unless anything (a link included) is at `to`; 0 or the errno.
int renameWithoutReplacing(const std::string& from, const std::string& to);

/// Removes the folder at `path` and everything in it, links removed, never followed;
/// false when something could not be removed.
bool removeFolderTree(const std::string& path);

} // namespace tarnwick
