// Not a test: renders the README screenshots when run by hand under Xvfb, e.g.
//   TARNWICK_SCREENSHOTS=docs/screenshots xvfb-run -a -s "-screen 0 1280x800x24" build/tests/app/tests_app Screenshots
// (TARNWICK_SCREENSHOT_LOCALE=ja for the Japanese window). CTest does not run it.

#include "TestSupport.h"

#include "app/AppTranslations.h"
#include "app/StatusSheet.h"
#include "platform/Localization.h"
#include "platform/SettingsStore.h"
#include "platform/TextEncoding.h"
#include "settings/SettingsKeys.h"

#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace tarnwick;

namespace {

QByteArray mailbox(int messages)
{
    const QByteArray message = "From sender@example.com Mon Jan  1 00:00:00 2001\r\n"
                               "Subject: test\r\n\r\n" + QByteArray(4000, 'x') + "\r\n";
    return message.repeated(messages);
}

} // namespace

class Screenshots : public QObject {
    Q_OBJECT
private slots:
    void render()
    {
        const QString out = qEnvironmentVariable("TARNWICK_SCREENSHOTS");
        if (out.isEmpty())
            QSKIP("TARNWICK_SCREENSHOTS names no folder");
        const QString suffix = qEnvironmentVariable("TARNWICK_SCREENSHOT_LOCALE");
        if (!suffix.isEmpty()) {
            installTranslations(QLocale(suffix));
            routeCoreTextsThroughQt();
        }
        const QString home = QDir::homePath();
        QVERIFY(QDir(home).mkpath("Eudora Folder/Archive") && QDir(home).mkpath("Converted"));
        test::writeFile(home + "/Eudora Folder/In", mailbox(20000));
        test::writeFile(home + "/Eudora Folder/Archive/2003.mbx", mailbox(20000));

        test::resetStore();
        SettingsStore& store = SettingsStore::standard();
        store.setString(keys::kSourcePath, "~/Eudora Folder");
        store.setString(keys::kDestinationPath, "~/Converted");
        store.setInteger(keys::kMboxEncoding, kEncodingShiftJIS);
        store.setStringArray(keys::kCharsetNames, {"us-ascii", "iso-2022-jp", "shift_jis", "utf-8"});

        test::Window w;
        Controller& c = w.controller;
        c.awakeFromNib();
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        c._resultField->setText(QString::fromStdString(localizedString("Completed")));
        QTest::qWait(300);
        const auto grabScreen = [&w](const QString& path) {
            const QRect frame = w.window.frameGeometry().adjusted(-12, -12, 12, 12);
            QScreen* screen = w.window.screen();
            QVERIFY(screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(path));
        };
        const QString tag = suffix.isEmpty() ? QString() : "-" + suffix;
        grabScreen(out + "/window" + tag + ".png");

        c.controlClicked(c._startButton);
        QVERIFY(QTest::qWaitFor([&] { return c._messageField->text() != QString::fromStdString(localizedString("Waiting...")); }, 20000));
        QTest::qWait(300);
        grabScreen(out + "/status-sheet" + tag + ".png");
        c.controlClicked(c._cancelButton);
        QVERIFY(test::waitForJobEnd(c));
    }
};

static tarnwick::test::RegisterTest<Screenshots> registerScreenshots("Screenshots");

#include "Screenshots.moc"
