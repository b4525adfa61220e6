#pragma once
// Two compatibility switches over the toolkit: offering "New Folder" in a chooser, and
// trimming a string at both ends. Each takes a version number and either calls the
// public operation (a version above its threshold, or not a number) or falls back to
// an older or own way that gives the same visible result. The version defaults to the
// running Qt's, which always takes the public path; tests pass others.

#include <QString>

#include <bitset>
#include <string_view>

class QFileDialog;

namespace tarnwick {

/// A set of UTF-16 code units; membership is tested one unit at a time.
class CharacterSet {
public:
    explicit CharacterSet(std::u16string_view members);

    /// U+0009-U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029,
    /// U+202F, U+205F and U+3000: the characters with the Unicode White_Space property.
    static const CharacterSet& whitespaceAndNewlineCharacterSet();

    bool characterIsMember(char16_t unit) const { return members_.test(unit); }

private:
    std::bitset<0x10000> members_;
};

inline constexpr double kToolkitCreateDirectoriesThreshold = 663.0;
inline constexpr double kFoundationTrimmingThreshold = 462.0;

/// The running Qt version as one number, major * 10000 + minor * 100 + patch
/// (6.4.2 is 60402).
double toolkitVersionNumber();
double foundationVersionNumber();

/// The gate of both switches: true (public operation) when the floor of `version` is
/// above `threshold` or `version` is not a number.
bool takesPublicOperation(double version, double threshold);

/// Makes the chooser offer (true) or not offer (false) "New Folder". The public path
/// toggles the dialog's ReadOnly option; the fallback enables or disables the dialog's
/// own New Folder button. Either way the button and the context menu's entry are
/// enabled exactly when `flag` is true.
void ZQAK_setCanCreateDirectories(QFileDialog& panel, bool flag, double toolkitVersion = toolkitVersionNumber());

/// The receiver without the set's units at its start and end, as a new string.
/// A null set throws std::invalid_argument with the reason
/// "*** -[QString ZQ_stringByTrimmingCharactersInSet:]: nil character set argument"
/// on the own path (and the public operation's like reason on the other).
QString ZQ_stringByTrimmingCharactersInSet(const QString& receiver, const CharacterSet* set,
                                           double foundationVersion = foundationVersionNumber());

/// The public trimming operation that the gate calls above its threshold.
QString stringByTrimmingCharactersInSet(const QString& receiver, const CharacterSet* set);

} // namespace tarnwick
