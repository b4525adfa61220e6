// Runs one registered test class, named by the first argument (all without one).

#include "TestSupport.h"

#include "app/StatusSheet.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace tarnwick::test {

std::map<std::string, TestFactory>& testRegistry()
{
    static std::map<std::string, TestFactory> registry;
    return registry;
}

void resetStore()
{
    store().setPersistentBackend(makeMemorySettingsBackend());
    store().clearVolatile();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray mailbox(int messages)
{
    QByteArray message = "From sender@example.com Mon Jan  1 00:00:00 2001\r\nSubject: test\r\n\r\n";
    message += QByteArray("Plain body text, long enough to make a realistic line of a message.\r\n").repeated(20);
    return message.repeated(messages);
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    auto& registry = tarnwick::test::testRegistry();
    if (argc > 1) {
        if (!registry.count(argv[1])) {
            std::fprintf(stderr, "unknown test class %s\n", argv[1]);
            return 1;
        }
        auto test = registry[argv[1]]();
        argv[1] = argv[0];
        return QTest::qExec(test.get(), argc - 1, argv + 1);
    }
    int failures = 0;
    for (auto& [name, factory] : registry)
        failures += QTest::qExec(factory().get(), argc, argv);
    return failures == 0 ? 0 : 1;
}
