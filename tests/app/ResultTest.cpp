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
    void keepGoingFromTheWindow_data()
    {
        QTest::addColumn<bool>("keepGoing");
        QTest::newRow("stops") << false;
        QTest::newRow("keeps going") << true;
    }

    void keepGoingFromTheWindow()
    {
        QFETCH(bool, keepGoing);
        const QString source = dir_.path() + "/keep-in";
        QVERIFY(QDir().mkpath(source));
        test::writeFile(source + "/Big", test::mailbox(200));
        test::writeFile(source + "/Small", test::mailbox(1));
        const QString destination = dir_.path() + (keepGoing ? "/keep-on" : "/keep-off");
        QVERIFY(QDir().mkpath(destination));
        test::Window w;
        w.window.show();
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.keepGoingBox()->setChecked(keepGoing);
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, saved.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        w.startButton()->click();
        const bool ended = test::waitForJobEnd(w);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(ended);
        QCOMPARE(test::store().boolValue(keys::kKeepGoing), keepGoing);
        // Kept going, the line leads with what was converted; the job's own end is
        // last in Details.
        const QString line = w.resultLabel()->toolTip();
        const QString failure = "Could not write to \"" + destination + "/Big\": File too large";
        QVERIFY2(line.startsWith(keepGoing ? "1 of 2 mailboxes converted, 1 message; 1 failed (" + failure + ")" : "Error: " + failure),
                 qPrintable(line));
        QVERIFY(w.resultLabel()->property("needsAttention").toBool());
        QVERIFY(w.window.detailsText().endsWith("\nError: " + failure));
        QCOMPARE(w.window.detailsText().contains("Failed: "), keepGoing);
        if (keepGoing)
            QCOMPARE(QDir(destination).entryList(QDir::Files), QStringList{"Small"});
        else if (!w.window.detailsText().contains("Small (messages: 1)")) // Big came first: Small was not reached
            QVERIFY2(w.window.detailsText().contains("\nLeft unconverted, the job stopped before them: Small\n"),
                     qPrintable(w.window.detailsText()));
    }

    // Into a folder that holds files: asked first, with the count; Cancel starts nothing.
    // A missing destination folder is offered and created. Into the source (a new
    // folder or the source itself) the question warns and refusing is the default.
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

        w.destinationEdit()->setText(destination + "/new");
        w.startButton()->click();
        box = test::confirmation(w);
        QVERIFY(box && box->text().contains("does not exist") && !box->text().contains("inside it"));
        QVERIFY(box->defaultButton() != box->button(QMessageBox::Cancel));
        box->button(QMessageBox::Cancel)->click();
        QVERIFY(QTest::qWaitFor([&] { return w.startButton()->isEnabled(); }));

        for (const QString& inside : {source + "/inside", source + "/../ask-in/", source}) {
            w.destinationEdit()->setText(inside);
            w.startButton()->click();
            box = test::confirmation(w);
            QVERIFY2(box && box->text().contains("inside it"), qPrintable(inside));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Cancel));
            QTest::keyClick(box, Qt::Key_Return);
            QVERIFY(QTest::qWaitFor([&] { return w.startButton()->isEnabled(); }));
            QVERIFY(!w.statusSheet()->isVisible());
        }
        QCOMPARE(QDir(source).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"In"});
        w.destinationEdit()->setText(source + "/inside");
        w.startButton()->click();
        box = test::confirmation(w);
        QVERIFY(box && box->text().contains("does not exist"));
        box->buttons().constFirst() == box->button(QMessageBox::Cancel) ? box->buttons().constLast()->click()
                                                                        : box->buttons().constFirst()->click();
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY(QFileInfo::exists(source + "/inside/In"));
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

    // A line longer than the label is cut in the middle, the whole line in the tooltip,
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
        // Cut in the middle: the start and the end (a reason after a long path) stay.
        const auto cutInTheMiddle = [&] {
            const QString text = label->text();
            return text.contains(QChar(0x2026)) && text.startsWith("Error: a very") && text.endsWith("reason end") && fits();
        };
        const QString narrow = label->text();
        QVERIFY2(cutInTheMiddle() && narrow.size() < line.size(), qPrintable(narrow));
        QCOMPARE(label->toolTip(), line);
        w.window.resize(w.window.width() + 300, w.window.height());
        QTRY_VERIFY(label->text().size() > narrow.size());
        QVERIFY(cutInTheMiddle());
        emit w.job()->finished("Canceled");
        QCOMPARE(label->text(), "Canceled");
    }

    // Start takes down what the last job left on show before anything else: while the
    // destination question is open, no old result, no Details.
    void startClearsTheLastResult()
    {
        const QString source = dir_.path() + "/again-in", destination = dir_.path() + "/again-out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In", test::mailbox(2));
        test::Window w;
        w.window.show();
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY(!w.resultLabel()->text().isEmpty() && w.detailsButton()->isVisible() && !w.window.detailsText().isEmpty());
        w.startButton()->click(); // the destination holds In now: asked first
        QMessageBox* box = test::confirmation(w);
        QVERIFY(box);
        QVERIFY(w.resultLabel()->text().isEmpty() && w.resultLabel()->toolTip().isEmpty());
        QVERIFY(!w.detailsButton()->isVisible() && !w.openDestinationButton()->isVisible() && w.window.detailsText().isEmpty());
        box->button(QMessageBox::Cancel)->click();
    }

    // A folder that holds no mailbox (only Eudora's settings, or files that are not
    // mailboxes) completes with a warning, not "Converted 0 mailboxes"; such a file
    // chosen by itself is an error that says why.
    void noMailboxFound_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("Eudora's settings") << "Eudora.ini" << QByteArray("[Settings]\r\nReturnAddress=me@example.com\r\n");
        QTest::newRow("not a mailbox") << "notes.txt" << QByteArray("Not a mailbox\n");
    }

    void noMailboxFound()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, contents);
        const QString source = dir_.path() + "/none-" + name, destination = source + "-out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/" + name, contents);
        test::Window w;
        w.window.show();
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY2(w.resultLabel()->text().startsWith("No mailbox found"), qPrintable(w.resultLabel()->text()));
        QVERIFY(w.resultLabel()->property("needsAttention").toBool());
        QVERIFY(w.window.detailsText().endsWith("Completed"));
        // Chosen as a single file, it is the job's error, with no count of nothing.
        w.sourceEdit()->setText(source + "/" + name);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY2(w.resultLabel()->toolTip().startsWith("Error: Nothing converted: \"" + source + "/" + name + "\" is not a mailbox")
                     && !w.resultLabel()->toolTip().contains("Converted 0"),
                 qPrintable(w.resultLabel()->toolTip()));
    }

    // Stop Now abandons a mailbox: what was logged about it goes down to a count, and
    // the summary names it with those not reached.
    void abandonedMailboxLinesCounted()
    {
        test::Window w;
        w.window.show();
        JobRunner* job = w.job();
        emit job->statusChanged("Processing \"A\"...");
        emit job->logged("a line about A");
        emit job->statusChanged("Processing \"B\"...");
        for (int i = 0; i < 1650; ++i)
            emit job->logged("Attachment not found: x");
        emit job->mailboxAbandoned();
        emit job->summaryReady("A (messages: 1)\nLeft unconverted, stopped at once: B");
        emit job->finished("Canceled");
        QCOMPARE(w.window.detailsText(),
                 "Processing \"A\"...\na line about A\nProcessing \"B\"...\n1,650 lines about an abandoned "
                 "mailbox not shown\n\nA (messages: 1)\nLeft unconverted, stopped at once: B\n\nCanceled");
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
