#pragma once
// Shared pieces of the window tests: the class registry, a connected window, helpers.

#include "app/Controller.h"
#include "app/MainWindow.h"
#include "platform/SettingsStore.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace tarnwick::test {

using TestFactory = std::function<std::unique_ptr<QObject>()>;
std::map<std::string, TestFactory>& testRegistry();

template <typename T>
struct RegisterTest {
    explicit RegisterTest(const char* name) { testRegistry()[name] = [] { return std::make_unique<T>(); }; }
};

/// A window with its controller connected; the controller goes first on destruction.
struct Window {
    MainWindow window;
    Controller controller{window};
    Window() { connectController(window, controller); }
};

inline SettingsStore& store() { return SettingsStore::standard(); }
/// Gives the standard store a fresh memory layer and no volatile values.
void resetStore();
void writeFile(const QString& path, const QByteArray& bytes);
/// `messages` copies of one CR LF message of about 1.5 kB.
QByteArray mailbox(int messages);
/// Waits until the status sheet is down after a Start; false on timeout.
bool waitForJobEnd(Controller& controller, int timeoutMs = 60000);

} // namespace tarnwick::test
