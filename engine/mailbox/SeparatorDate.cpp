#include "engine/mailbox/SeparatorDate.h"

#include <cstdint>
#include <ctime>

namespace tarnwick {
namespace {

constexpr std::string_view kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::string_view kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct DateFields {
    int year = 0;
    int month = 0; // 1-12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;             // 0 = Sunday
    std::string_view offsetText; // "+HHMM" as read, or empty for local time
    long offsetSeconds = 0;
};

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

// Index of `word` in `names` (any letter case), or -1.
template <std::size_t N> int nameIndex(std::string_view word, const std::string_view (&names)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (equalsIgnoringCase(word, names[i]))
            return static_cast<int>(i);
    }
    return -1;
}

// A number of `minDigits` to `maxDigits` decimal digits forming the whole of `text`.
bool readNumber(std::string_view text, std::size_t minDigits, std::size_t maxDigits, int& value)
{
    if (text.size() < minDigits || text.size() > maxDigits)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Weekday (0 = Sunday) of a proleptic Gregorian date.
int weekdayOf(int year, int month, int day)
{
    // Days since 1970-01-01 by the civil-from-days inverse (H. Hinnant).
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
    return static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday
}

// Splits at runs of spaces; false when there are more than `capacity` words.
std::size_t splitWords(std::string_view text, std::string_view* words, std::size_t capacity)
{
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (i == text.size())
            break;
        const std::size_t start = i;
        while (i < text.size() && text[i] != ' ')
            ++i;
        if (count == capacity)
            return capacity + 1;
        words[count++] = text.substr(start, i - start);
    }
    return count;
}

bool readTime(std::string_view text, DateFields& date)
{
    const std::size_t firstColon = text.find(':');
    if (firstColon == std::string_view::npos || text.size() != firstColon + 6 || text[firstColon + 3] != ':')
        return false;
    return readNumber(text.substr(0, firstColon), 1, 2, date.hour) && date.hour <= 23
        && readNumber(text.substr(firstColon + 1, 2), 2, 2, date.minute) && date.minute <= 59
        && readNumber(text.substr(firstColon + 4, 2), 2, 2, date.second) && date.second <= 59;
}

bool readOffset(std::string_view text, DateFields& date)
{
    int hours = 0;
    int minutes = 0;
    if (text.size() != 5 || (text[0] != '+' && text[0] != '-') || !readNumber(text.substr(1, 2), 2, 2, hours)
        || !readNumber(text.substr(3, 2), 2, 2, minutes) || hours > 23 || minutes > 59)
        return false;
    date.offsetText = text;
    date.offsetSeconds = (text[0] == '-' ? -1L : 1L) * (hours * 3600L + minutes * 60L);
    return true;
}

bool readDate(std::string_view text, DateFields& date)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) > 0x7F)
            return false;
    }
    constexpr std::size_t kMaxWords = 16;
    std::string_view words[kMaxWords];
    std::size_t count = splitWords(text, words, kMaxWords);
    if (count > kMaxWords || count < 5)
        return false;

    int dayName = nameIndex(words[0], kDayNames);
    int month = nameIndex(words[1], kMonthNames);
    if (dayName < 0 || month < 0)
        return false;
    date.month = month + 1;
    if (!readNumber(words[2], 1, 2, date.day) || !readTime(words[3], date))
        return false;

    std::size_t next = 4;
    if (words[next].size() == 5 && (words[next][0] == '+' || words[next][0] == '-')) {
        if (!readOffset(words[next], date))
            return false;
        ++next;
    }
    if (next >= count || !readNumber(words[next], 4, 4, date.year) || date.year < 1000)
        return false;
    ++next;
    if (next < count) {
        // Only "remote from HOST" may follow the year.
        if (count - next != 3 || words[next] != "remote" || words[next + 1] != "from")
            return false;
    }
    return date.day >= 1 && date.day <= daysInMonth(date.year, date.month);
}

// Turns a zone-less reading into local time of the TZ zone, with its offset then.
bool resolveLocalTime(DateFields& date)
{
    std::tm fields{};
    fields.tm_year = date.year - 1900;
    fields.tm_mon = date.month - 1;
    fields.tm_mday = date.day;
    fields.tm_hour = date.hour;
    fields.tm_min = date.minute;
    fields.tm_sec = date.second;
    fields.tm_isdst = -1; // let the zone's rules decide standard or daylight time
    fields.tm_wday = -1;  // mktime sets it on success; -1 stays only on failure
    const std::time_t instant = std::mktime(&fields);
    if (fields.tm_wday < 0)
        return false;
    std::tm local{};
    if (!::localtime_r(&instant, &local))
        return false;
    date.year = local.tm_year + 1900;
    date.month = local.tm_mon + 1;
    date.day = local.tm_mday;
    date.hour = local.tm_hour;
    date.minute = local.tm_min;
    date.second = local.tm_sec;
    date.weekday = local.tm_wday;
    date.offsetSeconds = local.tm_gmtoff;
    return date.year >= 1000 && date.year <= 9999;
}

void appendTwoDigits(std::string& out, int value)
{
    out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
}

void appendPrinted(const DateFields& date, std::string& out)
{
    out.append(kDayNames[date.weekday]);
    out += ", ";
    if (date.day >= 10)
        out += static_cast<char>('0' + date.day / 10);
    out += static_cast<char>('0' + date.day % 10);
    out += ' ';
    out.append(kMonthNames[date.month - 1]);
    out += ' ';
    appendTwoDigits(out, date.year / 100);
    appendTwoDigits(out, date.year % 100);
    out += ' ';
    appendTwoDigits(out, date.hour);
    out += ':';
    appendTwoDigits(out, date.minute);
    out += ':';
    appendTwoDigits(out, date.second);
    out += ' ';
    if (!date.offsetText.empty()) {
        out.append(date.offsetText);
        return;
    }
    long offset = date.offsetSeconds;
    out += offset < 0 ? '-' : '+';
    if (offset < 0)
        offset = -offset;
    const long minutes = offset / 60; // zones with second offsets (old LMT) lose the seconds
    appendTwoDigits(out, static_cast<int>(minutes / 60 % 100));
    appendTwoDigits(out, static_cast<int>(minutes % 60));
}

} // namespace

std::string_view separatorDateText(std::string_view contents)
{
    if (contents.size() < 5 || contents.substr(0, 5) != "From ")
        return {};
    std::size_t i = 5;
    while (i < contents.size() && contents[i] == ' ')
        ++i;
    while (i < contents.size() && contents[i] != ' ')
        ++i; // the sender
    while (i < contents.size() && contents[i] == ' ')
        ++i;
    std::size_t end = contents.size();
    while (end > i && contents[end - 1] == ' ')
        --end;
    return contents.substr(i, end - i);
}

bool appendFormattedDate(std::string_view dateText, std::string& out)
{
    DateFields date;
    if (dateText.empty() || !readDate(dateText, date))
        return false;
    if (date.offsetText.empty()) {
        if (!resolveLocalTime(date))
            return false;
    } else {
        date.weekday = weekdayOf(date.year, date.month, date.day);
    }
    appendPrinted(date, out);
    return true;
}

bool hasSeparatorDate(std::string_view separatorContents)
{
    DateFields date;
    const std::string_view text = separatorDateText(separatorContents);
    return !text.empty() && readDate(text, date);
}

bool appendSeparatorDate(std::string_view separatorContents, std::string& out)
{
    return appendFormattedDate(separatorDateText(separatorContents), out);
}

std::optional<std::int64_t> separatorInstant(std::string_view separatorContents)
{
    const std::string_view text = separatorDateText(separatorContents);
    DateFields date;
    if (text.empty() || !readDate(text, date))
        return std::nullopt;
    if (date.offsetText.empty() && !resolveLocalTime(date))
        return std::nullopt;
    // Days since 1970-01-01 of the civil date (proleptic Gregorian calendar).
    const std::int64_t year = date.month <= 2 ? date.year - 1 : date.year;
    const std::int64_t era = year / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (date.month + (date.month > 2 ? -3 : 9)) + 2) / 5 + date.day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = era * 146097 + dayOfEra - 719468;
    return days * 86400 + date.hour * 3600 + date.minute * 60 + date.second - date.offsetSeconds;
}

} // namespace tarnwick
