// The process entry: the Qt application and the main window. Closing the window quits.

#include "app/AppTranslations.h"
#include "app/MainWindow.h"
#include "platform/SettingsStore.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QStringList>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnwick"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnwick"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tarnwick.png")));
    tarnwick::installTranslations(QLocale());
    tarnwick::routeCoreTextsThroughQt();

    tarnwick::SettingsStore& store = tarnwick::SettingsStore::instance();
    store.setPersistentBackend(tarnwick::makeUserSettingsBackend());

    int status = 0;
    {
        tarnwick::MainWindow window;
        // "tarnwick PATH" (Open With from a file manager) fills the source.
        const QStringList arguments = QApplication::arguments();
        if (arguments.size() > 1 && !arguments.at(1).isEmpty())
            window.setSourcePath(arguments.at(1));
        window.show();
        status = application.exec();
    }
    store.sync();
    return status;
}
