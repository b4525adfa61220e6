#include "app/AppTranslations.h"

#include "platform/Localization.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <string>

namespace tarnwick {

QTranslator* installTranslations(const QLocale& locale)
{
    auto* qtTranslator = new QTranslator(QCoreApplication::instance());
    if (qtTranslator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTranslator);
    else
        delete qtTranslator;

    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(locale, QStringLiteral("tarnwick"), QStringLiteral("_"), QStringLiteral(":/i18n"))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

void routeCoreTextsThroughQt()
{
    // QCoreApplication::translate is safe to call from the worker thread.
    setTranslator([](std::string_view key) {
        const std::string source(key);
        return QCoreApplication::translate(kTranslationContext, source.c_str()).toStdString();
    });
}

} // namespace tarnwick
