#pragma once
// Loading the translations of the window and of the texts the core produces.

class QLocale;
class QTranslator;

namespace tarnwick {

/// The translation context of every text of the program, the core's included.
inline constexpr char kTranslationContext[] = "Tarnwick";

/// Installs the program's catalogue for `locale` (compiled in under :/i18n) and Qt's
/// own (dialog buttons, the file dialog). Returns the program's translator, owned by
/// the application, or null when there is none for the locale (English is the key).
QTranslator* installTranslations(const QLocale& locale);

/// Routes the core's lookup (platform/Localization.h) through the installed Qt
/// translators, so that the batch job and the engine speak the window's language.
void routeCoreTextsThroughQt();

} // namespace tarnwick
