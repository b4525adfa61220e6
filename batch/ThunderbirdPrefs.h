#pragma once
// What a Thunderbird profile's prefs.js says about its Local Folders account.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

/// The settings of a prefs.js text: each `user_pref("NAME", VALUE);` (also `pref` and
/// `sticky_pref`) as NAME -> VALUE, a string value with its escapes (\\ \" \' \n \r
/// \t \xHH \uHHHH) resolved, a number or true/false as written. The last setting of a
/// name wins; a statement that cannot be read is passed over up to the end of its line,
/// as are comments (//, #, /* */).
std::map<std::string, std::string> readPrefs(std::string_view text);

/// The folder of the Local Folders account that `prefs` describe for the profile
/// folder `profile`: the server that mail.accountmanager.localfoldersserver names,
/// else the first server of type "none" whose hostname is "Local Folders"; its
/// directory-rel when that is "[ProfD]" and a path inside the profile, else its
/// directory when that is an absolute path. None when no such server has either.
std::optional<std::string> localFoldersFolder(const std::map<std::string, std::string>& prefs, const std::string& profile);

/// Whether the Local Folders account (the server localFoldersFolder takes its folder
/// from, else the first it looks at) keeps each message in a file of its own
/// (Thunderbird's Maildir store) rather than a folder's messages in one mbox file: its
/// storeContractID, else mail.serverDefaultStoreContractID, names the Maildir store.
bool localFoldersKeepMessageFiles(const std::map<std::string, std::string>& prefs);

} // namespace tarnwick
