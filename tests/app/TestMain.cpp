// Runs one registered test class, named by the first argument (all without one).

#include "TestSupport.h"

#include "app/StatusSheet.h"
#include "platform/SettingsStore.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace tarnwick::test {

std::map<std::string, TestFactory>& testRegistry()
{
    static std::map<std::string, TestFactory> registry;
    return registry;
}

void resetStore()
{
    SettingsStore& store = SettingsStore::standard();
    store.setPersistentBackend(makeMemorySettingsBackend());
    store.clearVolatile();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

bool waitForJobEnd(Controller& controller, int timeoutMs)
{
    return QTest::qWaitFor([&] { return !controller._statusWindow->isVisible(); }, timeoutMs);
}

} // namespace tarnwick::test

int main(int argc, char* argv[])
{
    // A private home and settings folder: nothing of the user's is read or written.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));

    QApplication application(argc, argv);
    auto& registry = tarnwick::test::testRegistry();
    int failures = 0;
    if (argc > 1 && registry.count(argv[1])) {
        auto test = registry[argv[1]]();
        argv[1] = argv[0];
        return QTest::qExec(test.get(), argc - 1, argv + 1);
    }
    if (argc > 1) {
        std::fprintf(stderr, "unknown test class %s\n", argv[1]);
        return EXIT_FAILURE;
    }
    for (auto& [name, factory] : registry) {
        auto test = factory();
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
