// The process entry: the Qt application and the main window. Closing the window quits.

#include "app/AppTranslations.h"
#include "app/MainWindow.h"
#include "platform/SettingsStore.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

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
        window.show();
        status = application.exec();
    }
    store.sync();
    return status;
}
