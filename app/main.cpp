// The process entry: the Qt application, the main window and its controller.

#include "app/AppTranslations.h"
#include "app/Controller.h"
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

    tarnwick::SettingsStore& store = tarnwick::SettingsStore::standard();
    store.setPersistentBackend(tarnwick::makeUserSettingsBackend());

    int status = 0;
    {
        tarnwick::MainWindow window;
        tarnwick::Controller controller(window); // destroyed first: it joins a running job
        tarnwick::connectController(window, controller);
        controller.awakeFromNib();
        application.setQuitOnLastWindowClosed(controller.applicationShouldTerminateAfterLastWindowClosed(&application));
        window.show();
        status = application.exec();
    }
    store.sync();
    return status;
}
