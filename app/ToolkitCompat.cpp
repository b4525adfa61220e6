#include "app/ToolkitCompat.h"

#include "platform/Localization.h"

#include <QFileDialog>
#include <QToolButton>
#include <QVersionNumber>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace tarnwick {
namespace {

constexpr char16_t kWhitespaceAndNewlines[] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A,
    0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

double runningQtVersionNumber()
{
    const QVersionNumber version = QVersionNumber::fromString(QString::fromLatin1(qVersion()));
    return version.majorVersion() * 10000.0 + version.minorVersion() * 100.0 + version.microVersion();
}

[[noreturn]] void throwNilSet(std::string_view operation)
{
    throw std::invalid_argument(
        formatText("*** -[%@ %@]: nil character set argument", {"QString", operation}));
}

// The own trimming: scan by UTF-16 code unit from the end, then from the start.
QString trimByCodeUnits(const QString& receiver, const CharacterSet* set)
{
    if (!set)
        throwNilSet("ZQ_stringByTrimmingCharactersInSet:");
    const qsizetype n = receiver.size();
    if (n == 0)
        return QString(receiver.constData(), 0);
    const char16_t* units = reinterpret_cast<const char16_t*>(receiver.utf16());
    qsizetype end = n;
    while (end > 0 && set->characterIsMember(units[end - 1]))
        --end;
    qsizetype start = 0;
    while (start < end && set->characterIsMember(units[start]))
        ++start;
    if (start == 0 && end == n)
        return QString(receiver.constData(), n); // a copy that shares nothing
    if (start == end)
        return QString();
    return QString(receiver.constData() + start, end - start);
}

} // namespace

CharacterSet::CharacterSet(std::u16string_view members)
{
    for (char16_t unit : members)
        members_.set(unit);
}

const CharacterSet& CharacterSet::whitespaceAndNewlineCharacterSet()
{
    static const CharacterSet set(std::u16string_view(kWhitespaceAndNewlines, std::size(kWhitespaceAndNewlines)));
    return set;
}

double toolkitVersionNumber()
{
    return runningQtVersionNumber();
}

double foundationVersionNumber()
{
    return runningQtVersionNumber();
}

bool takesPublicOperation(double version, double threshold)
{
    return std::isnan(version) || std::floor(version) > threshold;
}

void ZQAK_setCanCreateDirectories(QFileDialog& panel, bool flag, double toolkitVersion)
{
    if (takesPublicOperation(toolkitVersion, kToolkitCreateDirectoriesThreshold)) {
        panel.setOption(QFileDialog::ReadOnly, !flag);
        return;
    }
    // The older way: the widget-based dialog's own switch, its New Folder button, which
    // the context menu's New Folder entry follows.
    if (auto* button = panel.findChild<QToolButton*>(QStringLiteral("newFolderButton")))
        button->setEnabled(flag);
}

QString stringByTrimmingCharactersInSet(const QString& receiver, const CharacterSet* set)
{
    if (!set)
        throwNilSet("stringByTrimmingCharactersInSet:");
    const auto* first = reinterpret_cast<const char16_t*>(receiver.utf16());
    const auto* last = first + receiver.size();
    const auto isMember = [set](char16_t unit) { return set->characterIsMember(unit); };
    const auto* begin = std::find_if_not(first, last, isMember);
    const auto* end = std::find_if_not(std::make_reverse_iterator(last), std::make_reverse_iterator(begin), isMember).base();
    return QString(reinterpret_cast<const QChar*>(begin), end - begin);
}

QString ZQ_stringByTrimmingCharactersInSet(const QString& receiver, const CharacterSet* set, double foundationVersion)
{
    if (takesPublicOperation(foundationVersion, kFoundationTrimmingThreshold))
        return stringByTrimmingCharactersInSet(receiver, set);
    return trimByCodeUnits(receiver, set);
}

} // namespace tarnwick
