// Not a test: renders the README screenshots when run by hand under Xvfb, e.g.
//   TARNWICK_SCREENSHOTS=docs/screenshots xvfb-run -a -s "-screen 0 1280x800x24" build/tests/app/tests_app Screenshots
// (TARNWICK_SCREENSHOT_LOCALE=ja for the Japanese window, with a Japanese font such as
// fonts-ipafont-gothic installed). CTest does not run it.

#include "TestSupport.h"

#include "app/AppTranslations.h"
#include "platform/Localization.h"
#include "platform/encodings/TextEncoding.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QPainter>
#include <QScreen>

using namespace tarnwick;

class Screenshots : public QObject {
    Q_OBJECT
private slots:
    void render()
    {
        const QString out = qEnvironmentVariable("TARNWICK_SCREENSHOTS"), locale = qEnvironmentVariable("TARNWICK_SCREENSHOT_LOCALE");
        if (out.isEmpty())
            QSKIP("TARNWICK_SCREENSHOTS names no folder");
        if (!locale.isEmpty() && installTranslations(QLocale(locale)))
            routeCoreTextsThroughQt();
        const QString home = QDir::homePath();
        QVERIFY(QDir(home).mkpath("Eudora Folder/Archive") && QDir(home).mkpath("Converted"));
        test::writeFile(home + "/Eudora Folder/In", test::mailbox(40000));
        test::writeFile(home + "/Eudora Folder/Archive/2003.mbx", test::mailbox(250000)); // reports as it goes
        test::writeFile(home + "/Eudora Folder/Out", test::mailbox(40000));
        test::resetStore();
        SettingsStore& store = test::store();
        store.setString(keys::kSourcePath, "~/Eudora Folder");
        store.setString(keys::kDestinationPath, "~/Converted");
        store.setInteger(keys::kMboxEncoding, kEncodingShiftJIS);
        store.setStringList(keys::kCharsetNames, {"us-ascii", "iso-2022-jp", "shift_jis", "utf-8"});
        test::Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        // The window and the dialogs over it, each rendered by itself: nothing else on
        // the screen (other windows, what an unmapped one left behind) can get in.
        const auto grab = [&](const QString& name, int settleMs = 300) {
            QTest::qWait(settleMs);
            QPixmap shot = w.window.grab();
            QPainter painter(&shot);
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top != &w.window && top->isVisible() && top->parentWidget() == &w.window)
                    painter.drawPixmap(w.window.mapFromGlobal(top->geometry().topLeft()), top->grab());
            painter.end();
            QVERIFY(shot.save(out + "/" + name + (locale.isEmpty() ? "" : "-" + locale) + ".png"));
        };
        grab("window");
        w.startButton()->click();
        // The sheet with numbers and a bar part-way along, taken soon after the large
        // mailbox has said how far it is.
        const auto* numbers = w.child<QLabel>("progressLabel");
        const QString mebibytes = QLocale().formattedDataSize(1 << 20).section(' ', -1); // the bytes of this one
        QVERIFY(QTest::qWaitFor([&] { return w.progressBar()->value() > 0 && numbers->text().contains(mebibytes); }, 20000));
        grab("status-sheet", 50);
        QVERIFY(test::waitForJobEnd(w, 120000));
        grab("result");
    }
};

static tarnwick::test::RegisterTest<Screenshots> registerScreenshots("Screenshots");

#include "Screenshots.moc"
