// Where the window hands over to the desktop: Open Destination and the README link
// when no program is registered to open them (a path shown to copy instead), and
// what the keyboard and the options do without a click on Start.
#include "TestSupport.h"

#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QClipboard>
#include <QToolButton>
#include <QToolTip>
#include <QDesktopServices>
#include <QDialog>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QUrl>

using namespace tarnwick;

class DesktopTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QList<QUrl> opened_;

public slots:
    void open(const QUrl& url) { opened_ << url; }

private:
    static QDialog* locationDialog(const test::Window& w)
    {
        for (auto* dialog : w.window.findChildren<QDialog*>(QStringLiteral("locationDialog")))
            if (dialog->isVisible())
                return dialog;
        return nullptr;
    }

    // Runs one job into `destination` so that Open Destination shows.
    void convertInto(test::Window& w, const QString& destination)
    {
        const QString source = dir_.path() + "/desk-in";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In", test::mailbox(1));
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY(w.openDestinationButton()->isVisible());
    }

private slots:
    void init()
    {
        test::resetStore();
        opened_.clear();
    }

    // With no program for folders (the offscreen platform opens nothing), Open
    // Destination shows the folder's path with a Copy button; with one, it opens it.
    void openDestinationSaysWhereWhenNothingOpensIt()
    {
        const QString destination = dir_.path() + "/desk-out";
        for (const bool handled : {false, true}) {
            if (handled)
                QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
            test::Window w;
            w.window.show();
            convertInto(w, destination + (handled ? "-2" : ""));
            w.openDestinationButton()->click();
            QDialog* dialog = locationDialog(w);
            if (handled) {
                QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
                QVERIFY(!dialog);
                QCOMPARE(opened_, QList<QUrl>{QUrl::fromLocalFile(destination + "-2")});
                continue;
            }
            QVERIFY(dialog);
            auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("locationField"));
            QCOMPARE(field->text(), destination);
            QVERIFY(field->isReadOnly());
            QGuiApplication::clipboard()->clear();
            dialog->findChild<QPushButton*>(QStringLiteral("copyLocationButton"))->click();
            QCOMPARE(QGuiApplication::clipboard()->text(), destination);
            dialog->reject();
        }
    }

    // The About dialog names the program, its version and the Qt it runs on; its README
    // link goes the same way.
    void aboutLinkSaysWhereWhenNothingOpensIt()
    {
        test::Window w;
        w.window.show();
        QMetaObject::invokeMethod(&w.window, [&] {
            for (QAction* action : w.window.findChildren<QAction*>())
                if (action->text() == "&About Tarnwick")
                    action->trigger();
        });
        QVERIFY(QTest::qWaitFor([&] { return w.window.findChild<QDialog*>("aboutDialog") != nullptr; }));
        auto* about = w.window.findChild<QDialog*>("aboutDialog");
        auto* text = about->findChild<QLabel*>("aboutText");
        QVERIFY(!text->openExternalLinks());
        QVERIFY(text->text().contains("file:///usr/share/doc/tarnwick/README.md"));
        QVERIFY(text->text().contains("Tarnwick " TARNWICK_TEST_VERSION) && text->text().contains(QLatin1String("Qt ") + qVersion()));
        emit text->linkActivated(QStringLiteral("file:///usr/share/doc/tarnwick/README.md"));
        QDialog* dialog = nullptr;
        for (auto* d : about->findChildren<QDialog*>(QStringLiteral("locationDialog")))
            dialog = d;
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("locationField"))->text(), "/usr/share/doc/tarnwick/README.md");
        dialog->reject();
        about->reject();
    }

    // F1 and Help > Tarnwick Help open the README at its usage part; with nothing to
    // open it, its path is shown to copy.
    void helpOpensTheManual()
    {
        for (const bool handled : {true, false}) {
            if (handled)
                QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
            test::Window w;
            w.window.show();
            QVERIFY(QTest::qWaitForWindowActive(&w.window));
            QTest::keyClick(w.sourceEdit(), Qt::Key_F1);
            if (handled) {
                QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
                QCOMPARE(opened_, QList<QUrl>{QUrl("file:///usr/share/doc/tarnwick/README.md#convert-your-eudora-mail-in-three-steps")});
                QVERIFY(!locationDialog(w));
                continue;
            }
            w.window.findChild<QAction*>(QStringLiteral("helpAction"))->trigger();
            QDialog* dialog = locationDialog(w);
            QVERIFY(dialog);
            QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("locationField"))->text(), "/usr/share/doc/tarnwick/README.md");
            dialog->reject();
        }
    }

    // Tab goes from the charset field to its warning icon while the icon shows, and on
    // to the next option; with no warning, straight to the next option.
    void tabReachesTheCharsetWarning()
    {
        test::Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        auto* warning = w.window.findChild<QAction*>(QStringLiteral("charsetWarning"));
        for (const char* names : {"utf-8, bogus-charset", "utf-8"}) {
            w.charsetEdit()->setText(names);
            w.charsetEdit()->setFocus();
            QTest::keyClick(w.charsetEdit(), Qt::Key_Tab);
            if (warning->isVisible()) {
                auto* icon = qobject_cast<QToolButton*>(QApplication::focusWidget());
                QVERIFY2(icon && icon->defaultAction() == warning, names);
                QVERIFY(icon->accessibleDescription().endsWith("bogus-charset"));
                QTRY_VERIFY(QToolTip::isVisible() && QToolTip::text().endsWith("bogus-charset")); // the icon draws no focus mark
                QTest::keyClick(icon, Qt::Key_Tab);
            }
            QCOMPARE(QApplication::focusWidget(), w.eudoraTagsBox());
        }
    }

    // Enter in a field, on a check box or on a menu starts, as a click on Start does;
    // on another button it does not.
    void enterStarts()
    {
        const QString source = dir_.path() + "/enter-in";
        QVERIFY(QDir().mkpath(source));
        test::writeFile(source + "/In", test::mailbox(1));
        int jobs = 0;
        for (const char* focus : {"destinationEdit", "keepGoingBox", "layoutMenu", "sourceEdit", "detailsButton"}) {
            test::Window w;
            w.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w.window));
            const QString destination = dir_.path() + "/enter-out-" + focus;
            QVERIFY(QDir().mkpath(destination));
            w.sourceEdit()->setText(source);
            w.destinationEdit()->setText(destination);
            auto* target = w.window.findChild<QWidget*>(focus);
            target->show(); // Details shows only after a job
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Return);
            const bool started = QString(focus) != "detailsButton";
            if (started) {
                QVERIFY2(test::waitForJobEnd(w), focus);
                ++jobs;
            }
            QCOMPARE(QDir(destination).entryList(QDir::Files).size(), started ? 1 : 0);
        }
        QCOMPARE(jobs, 4);
    }

    // An option changed is stored at once: quitting without a job keeps it. Loading the
    // stored values stores nothing.
    void optionsAreStoredAsTheyChange()
    {
        test::store().setBool(keys::kConvertLineEndings, false);
        test::store().setStringList(keys::kCharsetNames, {"utf-8"});
        test::Window w;
        QCOMPARE(test::store().boolValue(keys::kConvertLineEndings), false);
        QCOMPARE(test::store().stringListValue(keys::kCharsetNames).value(), std::vector<std::string>{"utf-8"});
        w.lineEndingsBox()->setChecked(true);
        QCOMPARE(test::store().boolValue(keys::kConvertLineEndings), true);
        w.keepGoingBox()->click();
        QCOMPARE(test::store().boolValue(keys::kKeepGoing), w.keepGoingBox()->isChecked());
        w.layoutMenu()->setCurrentIndex(1);
        QCOMPARE(test::store().stringValue(keys::kOutputLayout).value(), "tree");
        w.charsetEdit()->setText("us-ascii,utf-8");
        emit w.charsetEdit()->editingFinished();
        QCOMPARE(test::store().stringListValue(keys::kCharsetNames).value(), (std::vector<std::string>{"us-ascii", "utf-8"}));
    }

    // "tarnwick PATH" fills the source, absolute, "~" for the home folder.
    void pathFromTheCommandLine()
    {
        test::Window w;
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(QDir::homePath());
        w.window.setSourcePath("Eudora Folder");
        QDir::setCurrent(cwd);
        QCOMPARE(w.sourceEdit()->text(), "~/Eudora Folder");
    }
};

static tarnwick::test::RegisterTest<DesktopTest> registerDesktopTest("DesktopTest");

#include "DesktopTest.moc"
