// Runs the test class named by the first argument, in a private home and settings
// folder: nothing of the user's is read or written.

#include "TestSupport.h"

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const auto& registry = tarnwick::test::testRegistry;
    const auto it = argc > 1 ? registry.find(argv[1]) : registry.end();
    if (it == registry.end())
        qFatal("usage: tests_app <test class> [QtTest options]");
    argv[1] = argv[0];
    return QTest::qExec(it->second().get(), argc - 1, argv + 1);
}
