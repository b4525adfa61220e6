#pragma once
// Path texts as byte strings. Nothing here decodes a path: file names that are not
// valid UTF-8 pass through unchanged.

#include <string>
#include <string_view>

namespace tarnwick {

/// The current user's home folder: $HOME when set and not empty, else the password
/// database's entry; empty when neither is known.
std::string homeDirectory();

/// Standardises a path: a leading "~" or "~name" component becomes that user's home
/// folder (an unknown name is left as it is); empty and "." components are dropped;
/// in an absolute path each ".." goes to the real parent of what precedes it (symbolic
/// links resolved when that exists, else one component is dropped; "/.." is "/"); a
/// relative path keeps its ".."; the trailing "/" goes. The empty text stays empty, and
/// a relative path of nothing but "." components gives ".".
std::string standardizePath(std::string_view path);

/// A path inside the home folder (or the home folder itself) rewritten to begin with
/// "~"; any other path unchanged.
std::string abbreviateHomeFolder(std::string_view path);

/// Joins a folder and a name with exactly one "/" between them. An empty folder gives
/// the name, an empty name gives the folder.
std::string joinPath(std::string_view folder, std::string_view name);

/// The final name of a path ("/a/b/" gives "b"); "/" gives "/", the empty text itself.
std::string fileName(std::string_view path);

/// Text with its control characters (C0 and DEL) written as escapes: "\n", "\t", "\r"
/// and "\xHH" for the others, so that a file name cannot start a line of its own or
/// drive a terminal. Every other byte (non-ASCII names included) passes unchanged.
std::string escapeControlCharacters(std::string_view text);

/// The parent: "/a/b" gives "/a", "/a" gives "/", a bare name and the empty text give
/// the empty text, "/" stays "/".
std::string parentPath(std::string_view path);

} // namespace tarnwick
