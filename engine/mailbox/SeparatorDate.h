#pragma once
// The date of a separator line ("From sender Wed Jan  3 01:05:34 1996"), read and
// printed as the value of a Date header ("Wed, 3 Jan 1996 01:05:34 +0100").
//
// Accepted date texts (English names, no dependence on the C locale):
//   DAY MON D HH:MM:SS YYYY          local time of the TZ zone; offset of that zone
//   DAY MON D HH:MM:SS +HHMM YYYY    the offset as written, printed unchanged
// - Fields are separated by one or more spaces (0x20 only), so "Jan  3" and "Jan 03"
//   and "Jan 3" are all read; a tab belongs to its field and fails it.
// - DAY and MON are the English abbreviations in any letter case. DAY must be a day
//   name but need not agree with the date: the printed name is always the true
//   weekday of the date, as the day name carries no information of its own.
// - D is 1 or 2 digits and must exist in that month (leap years included); HH is 1 or
//   2 digits 0-23; MM and SS are 2 digits 0-59; YYYY is exactly 4 digits, 1000-9999;
//   the offset is a sign and 4 digits with hours 0-23 and minutes 0-59.
// - After the year only the UUCP suffix "remote from HOST" may follow. Any other
//   trailing word is refused: it may be a zone name ("1996 PST") that would make
//   the local-time reading wrong.
// - A local time that the zone skips (a spring-forward gap) is normalised by the C
//   library and printed as the time it becomes, with the offset in force then.
// Anything else, and any byte above 0x7F, gives no date.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

/// The date text of a separator line's contents: after "From ", the spaces, the sender
/// and the spaces after it, up to the end less trailing spaces. Empty when there is none.
std::string_view separatorDateText(std::string_view separatorContents);

/// Reads `dateText` as described above and appends the printed date
/// ("%a, %e %b %Y %H:%M:%S %z") to `out`. False, with `out` untouched, when the text
/// is not accepted.
bool appendFormattedDate(std::string_view dateText, std::string& out);

/// Whether a separator line's contents have a sender and a date text read as described
/// above (whether the local time exists in the zone aside). Reads nothing but
/// `separatorContents` and allocates nothing.
bool hasSeparatorDate(std::string_view separatorContents);

/// separatorDateText then appendFormattedDate.
bool appendSeparatorDate(std::string_view separatorContents, std::string& out);

/// The instant (seconds since 1970, UTC) of a separator line's date, read as
/// appendSeparatorDate reads it; none when it gives no date.
std::optional<std::int64_t> separatorInstant(std::string_view separatorContents);

} // namespace tarnwick
