// The end of a job as the window shows it, and what Start does before a job: the
// one-line result with Details, keep going, a guarded Start, the destination
// question, dropped paths and a long result that never squeezes the options.
#include "TestSupport.h"

#include "settings/SettingsKeys.h"

#include <QGroupBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QUrl>

#include <signal.h>
#include <sys/resource.h>

using namespace tarnwick;

class ResultTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void init() { test::resetStore(); }

    // Two clicks on Start make one job: one output, no "_2" copy.
    void startIsGuardedAndTheResultSaysWhatWasDone()
    {
        const QString source = dir_.path() + "/guard-in", destination = dir_.path() + "/guard-out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In", test::mailbox(3));
        test::Window w;
        w.window.show();
        w.sourceEdit()->setText("  file://" + source + " ");
        w.destinationEdit()->setText(destination + "\t");
        w.startButton()->click();
        QVERIFY(!w.startButton()->isEnabled());
        w.startButton()->click();
        QTest::keyClick(&w.window, Qt::Key_Return);
        QVERIFY(test::waitForJobEnd(w));
        QCOMPARE(QDir(destination).entryList(QDir::Files), QStringList{"In"});
        QCOMPARE(w.sourceEdit()->text(), source);
        QCOMPARE(w.resultLabel()->text(), "Converted 1 mailbox, 3 messages");
        QVERIFY(!w.resultLabel()->property("needsAttention").toBool());
        QVERIFY(w.detailsButton()->isVisible() && w.openDestinationButton()->isVisible());
        QVERIFY(w.window.detailsText().contains("Processing \"In\"...\n\nIn (messages: 3)"));
        QVERIFY(w.window.detailsText().endsWith("Completed"));

        w.detailsButton()->click();
        auto* details = w.window.findChild<QDialog*>("detailsDialog");
        QVERIFY(details && details->isVisible());
        QCOMPARE(details->findChild<QPlainTextEdit*>()->toPlainText(), w.window.detailsText());
        QVERIFY(!details->findChild<QPlainTextEdit*>()->accessibleName().isEmpty());
        // Copy keeps away from Alt+C, which Close takes on some desktops.
        QVERIFY(!details->findChild<QPushButton*>("copyDetailsButton")->text().contains("&C", Qt::CaseInsensitive));
        details->close();
    }

    // A failed mailbox (a write past the file size limit) stops the job, or with the
    // check box is listed and the next one converted.
    void keepGoingFromTheWindow()
    {
        const QString source = dir_.path() + "/keep-in";
        QVERIFY(QDir().mkpath(source));
        test::writeFile(source + "/Big", test::mailbox(200));
        test::writeFile(source + "/Small", test::mailbox(1));
        const struct {
            bool keepGoing;
            const char* destination;
        } cases[] = {{false, "/keep-off"}, {true, "/keep-on"}};
        for (const auto& c : cases) {
            const QString destination = dir_.path() + c.destination;
            QVERIFY(QDir().mkpath(destination));
            test::Window w;
            w.window.show();
            w.sourceEdit()->setText(source);
            w.destinationEdit()->setText(destination);
            w.keepGoingBox()->setChecked(c.keepGoing);
            rlimit saved{};
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{64 * 1024, saved.rlim_max};
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
            w.startButton()->click();
            const bool ended = test::waitForJobEnd(w);
            ::setrlimit(RLIMIT_FSIZE, &saved);
            QVERIFY(ended);
            QCOMPARE(test::store().boolValue(keys::kKeepGoing), c.keepGoing);
            QVERIFY2(w.resultLabel()->text().startsWith("Error: "), qPrintable(w.resultLabel()->text()));
            QVERIFY(w.resultLabel()->property("needsAttention").toBool());
            QCOMPARE(w.window.detailsText().contains("Failed: "), c.keepGoing);
            if (c.keepGoing)
                QCOMPARE(QDir(destination).entryList(QDir::Files), QStringList{"Small"});
        }
    }

    // Into a folder that holds files: asked first, with the count; Cancel starts nothing.
    // A missing destination folder is offered and created.
    void destinationQuestion()
    {
        const QString source = dir_.path() + "/ask-in", destination = dir_.path() + "/ask-out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In", test::mailbox(1));
        test::writeFile(destination + "/old1", "x");
        test::writeFile(destination + "/old2", "x");
        test::Window w;
        w.window.show();
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QMessageBox* box = test::confirmation(w);
        QVERIFY(box);
        QVERIFY2(box->text().contains("The destination already holds 2 files."), qPrintable(box->text()));
        box->button(QMessageBox::Cancel)->click();
        QVERIFY(QTest::qWaitFor([&] { return w.startButton()->isEnabled(); }));
        QVERIFY(!w.statusSheet()->isVisible());
        QCOMPARE(QDir(destination).entryList(QDir::Files).size(), 2);

        w.destinationEdit()->setText(source + "/inside");
        w.startButton()->click();
        box = test::confirmation(w);
        QVERIFY(box && box->text().contains("does not exist"));
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY(QFileInfo::exists(source + "/inside/In"));

        w.destinationEdit()->setText(source);
        w.startButton()->click();
        box = test::confirmation(w);
        QVERIFY(box && box->text().contains("inside it"));
        box->button(QMessageBox::Cancel)->click();
    }

    // A file manager's text/uri-list sets the field it lands on, or the source elsewhere.
    void dropsSetFields()
    {
        test::Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const auto drop = [](QWidget* target, const QString& path) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &enter);
            QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(target, &dropped);
            return enter.isAccepted() && dropped.isAccepted();
        };
        const struct {
            QWidget* target;
            QLineEdit* field;
            const char* path;
        } cases[] = {{w.destinationEdit(), w.destinationEdit(), "/tmp/dropped-destination"},
                     {w.sourceEdit(), w.sourceEdit(), "/tmp/dropped-source"},
                     {&w.window, w.sourceEdit(), "/tmp/dropped-on-window"},
                     {w.attachmentsFolderEdit(), w.attachmentsFolderEdit(), "/tmp/dropped-folder"}};
        for (const auto& c : cases) {
            QVERIFY2(drop(c.target, c.path), c.path);
            QCOMPARE(c.field->text(), QString::fromLatin1(c.path));
        }
    }

    // A result of many long lines stays on one line: the options keep their size and
    // Start does not move.
    void longResultKeepsTheLayout()
    {
        test::Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        auto* options = w.window.findChild<QGroupBox*>();
        const QRect optionsBefore = options->geometry();
        const QRect startBefore = w.startButton()->geometry();
        const QSize windowBefore = w.window.size();
        emit w.job()->finished("Error: " + QString("a very long reason ").repeated(40) + "\nsecond line\nthird line\nfourth line");
        QCoreApplication::processEvents();
        QCOMPARE(options->geometry(), optionsBefore);
        QCOMPARE(w.startButton()->geometry(), startBefore);
        QCOMPARE(w.window.size(), windowBefore);
        QVERIFY(w.resultLabel()->property("needsAttention").toBool());
        QVERIFY(w.resultLabel()->toolTip().contains("fourth line"));
    }

    // A line longer than the label ends in an ellipsis, the whole line in the tooltip,
    // and is elided again when the window changes width.
    void longResultElided()
    {
        test::Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QString line = "Error: " + QString("a very long reason ").repeated(30) + "end";
        emit w.job()->finished(line);
        QCoreApplication::processEvents();
        QLabel* label = w.resultLabel();
        const auto fits = [label] { return label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width(); };
        const QString narrow = label->text();
        QVERIFY2(narrow.endsWith(QChar(0x2026)) && narrow.size() < line.size() && fits(), qPrintable(narrow));
        QCOMPARE(label->toolTip(), line);
        w.window.resize(w.window.width() + 300, w.window.height());
        QTRY_VERIFY(label->text().size() > narrow.size());
        QVERIFY(label->text().endsWith(QChar(0x2026)) && fits());
        emit w.job()->finished("Canceled");
        QCOMPARE(label->text(), "Canceled");
    }

    // Named for screen readers: the two Choose buttons differ, the bar has a name, the
    // labels are buddies of their fields.
    void accessibleNames()
    {
        test::Window w;
        QVERIFY(!w.sourceButton()->accessibleName().isEmpty());
        QVERIFY(w.sourceButton()->accessibleName() != w.destinationButton()->accessibleName());
        QVERIFY(!w.progressBar()->accessibleName().isEmpty());
        QSet<QWidget*> buddies;
        for (QLabel* label : w.window.findChildren<QLabel*>())
            if (label->buddy())
                buddies.insert(label->buddy());
        QVERIFY(buddies.contains(w.sourceEdit()) && buddies.contains(w.destinationEdit()));
    }
};

static tarnwick::test::RegisterTest<ResultTest> registerResultTest("ResultTest");

#include "ResultTest.moc"
