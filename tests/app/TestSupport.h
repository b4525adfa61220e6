#pragma once
// Shared pieces of the window tests: the class registry, a window and its controls
// found by object name, helpers.

#include "app/JobRunner.h"
#include "app/MainWindow.h"
#include "app/StatusSheet.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace tarnwick::test {

/// The test classes by name; an inline variable, so it is built before any registration below it.
inline std::map<std::string, std::function<std::unique_ptr<QObject>()>> testRegistry;

template <typename T> struct RegisterTest {
    explicit RegisterTest(const char* name)
    {
        testRegistry[name] = [] { return std::make_unique<T>(); };
    }
};

/// A main window and its controls, found by their object names.
struct Window {
    MainWindow window;

    template <typename T> T* child(const char* name) const
    {
        T* found = window.findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("the window has no %s", name);
        return found;
    }
    QLineEdit* sourceEdit() const { return child<QLineEdit>("sourceEdit"); }
    QPushButton* sourceButton() const { return child<QPushButton>("sourceButton"); }
    QLineEdit* destinationEdit() const { return child<QLineEdit>("destinationEdit"); }
    QPushButton* destinationButton() const { return child<QPushButton>("destinationButton"); }
    QCheckBox* convertEncodingsBox() const { return child<QCheckBox>("convertEncodingsBox"); }
    QComboBox* encodingMenu() const { return child<QComboBox>("encodingMenu"); }
    QLineEdit* charsetEdit() const { return child<QLineEdit>("charsetEdit"); }
    QCheckBox* eudoraTagsBox() const { return child<QCheckBox>("eudoraTagsBox"); }
    QCheckBox* lineEndingsBox() const { return child<QCheckBox>("lineEndingsBox"); }
    QCheckBox* dateHeadersBox() const { return child<QCheckBox>("dateHeadersBox"); }
    QCheckBox* emptyLinesBox() const { return child<QCheckBox>("emptyLinesBox"); }
    QCheckBox* attachmentsBox() const { return child<QCheckBox>("attachmentsBox"); }
    QLineEdit* attachmentsFolderEdit() const { return child<QLineEdit>("attachmentsFolderEdit"); }
    QPushButton* attachmentsFolderButton() const { return child<QPushButton>("attachmentsFolderButton"); }
    QCheckBox* eudoraRecordsBox() const { return child<QCheckBox>("eudoraRecordsBox"); }
    QComboBox* layoutMenu() const { return child<QComboBox>("layoutMenu"); }
    QComboBox* removedMenu() const { return child<QComboBox>("removedMenu"); }
    QLabel* summaryLabel() const { return child<QLabel>("summaryLabel"); }
    QLabel* resultLabel() const { return child<QLabel>("resultLabel"); }
    QCheckBox* keepGoingBox() const { return child<QCheckBox>("keepGoingBox"); }
    QPushButton* detailsButton() const { return child<QPushButton>("detailsButton"); }
    QPushButton* openDestinationButton() const { return child<QPushButton>("openDestinationButton"); }
    QPushButton* startButton() const { return child<QPushButton>("startButton"); }
    StatusSheet* statusSheet() const { return window.findChild<StatusSheet*>(); }
    QLabel* titleLabel() const { return child<QLabel>("titleLabel"); }
    QLabel* messageLabel() const { return child<QLabel>("messageLabel"); }
    QProgressBar* progressBar() const { return child<QProgressBar>("progressBar"); }
    QPushButton* cancelButton() const { return child<QPushButton>("cancelButton"); }
    JobRunner* job() const { return window.findChild<JobRunner*>(); }
    /// The bar runs busy (no range) while a job runs.
    bool isBusy() const { return progressBar()->maximum() == 0; }
};

inline SettingsStore& store() { return SettingsStore::instance(); }

// A fresh memory layer and no volatile values; the mail program "Plain mbox files",
// so that the detailed options decide the output.
inline void resetStore()
{
    store().setPersistentBackend(makeMemorySettingsBackend());
    store().clearVolatile();
    store().setString(keys::kMailProgram, "mbox");
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

/// The question Start asks about a destination that holds files or does not exist, if open.
inline QMessageBox* confirmation(const Window& w)
{
    for (auto* box : w.window.findChildren<QMessageBox*>(QStringLiteral("confirmationBox")))
        if (box->isVisible())
            return box;
    return nullptr;
}

/// Waits for the job's end, agreeing to the destination question if Start asks it.
inline bool waitForJobEnd(const Window& w, int timeoutMs = 60000) // false on timeout
{
    if (QTest::qWaitFor([&] { return confirmation(w) != nullptr || w.statusSheet()->isVisible(); }, 1000) && confirmation(w))
        confirmation(w)->defaultButton()->click();
    return QTest::qWaitFor([&] { return !w.statusSheet()->isVisible() && w.startButton()->isEnabled(); }, timeoutMs);
}

} // namespace tarnwick::test
