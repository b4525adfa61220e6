#pragma once
// Shared pieces of the window tests: the class registry, a connected window, helpers.

#include "app/Controller.h"
#include "app/MainWindow.h"
#include "app/StatusSheet.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace tarnwick::test {

/// The test classes by name; an inline variable, so it is built before any registration below it.
inline std::map<std::string, std::function<std::unique_ptr<QObject>()>> testRegistry;

template <typename T>
struct RegisterTest {
    explicit RegisterTest(const char* name) { testRegistry[name] = [] { return std::make_unique<T>(); }; }
};

/// A window with its controller connected; the controller goes first on destruction.
struct Window {
    MainWindow window;
    Controller controller{window};
    Window() { connectController(window, controller); }
};

inline SettingsStore& store() { return SettingsStore::standard(); }

inline void resetStore() // a fresh memory layer and no volatile values
{
    store().setPersistentBackend(makeMemorySettingsBackend());
    store().clearVolatile();
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

inline QByteArray mailbox(int messages) // CR LF messages of about 1.5 kB
{
    const QByteArray line = "Plain body text, long enough to make a realistic line of a message.\r\n";
    return ("From sender@example.com Mon Jan  1 00:00:00 2001\r\nSubject: test\r\n\r\n" + line.repeated(20)).repeated(messages);
}

inline bool waitForJobEnd(Controller& controller, int timeoutMs = 60000) // false on timeout
{
    return QTest::qWaitFor([&] { return !controller._statusWindow->isVisible(); }, timeoutMs);
}

} // namespace tarnwick::test
