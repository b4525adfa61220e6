// Where the window hands over to the desktop: Open Destination and the README link
// when no program is registered to open them (a path shown to copy instead), and
// what the keyboard and the options do without a click on Start.
#include "TestSupport.h"

#include <QClipboard>
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

    // The About dialog's README link goes the same way.
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
        emit text->linkActivated(QStringLiteral("file:///usr/share/doc/tarnwick/README.md"));
        QDialog* dialog = nullptr;
        for (auto* d : about->findChildren<QDialog*>(QStringLiteral("locationDialog")))
            dialog = d;
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->findChild<QLineEdit*>(QStringLiteral("locationField"))->text(), "/usr/share/doc/tarnwick/README.md");
        dialog->reject();
        about->reject();
    }
};

static tarnwick::test::RegisterTest<DesktopTest> registerDesktopTest("DesktopTest");

#include "DesktopTest.moc"
