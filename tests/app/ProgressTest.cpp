// What the window shows while a job runs and after it: progress in numbers with a bar
// that is determinate only where the total is known, the full log in Details, and
// closing or quitting during a job, which offers to stop at once.
#include "TestSupport.h"

#include "app/AppTranslations.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>

using namespace tarnwick;

namespace {

// The sheet as each progress report left it.
struct Shown {
    int maximum;
    int value;
    QString numbers;
};

QLabel* progressLabel(const test::Window& w) { return w.child<QLabel>("progressLabel"); }

} // namespace

class ProgressTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void init() { test::resetStore(); }

    // A folder counts its files ("2 of 3 files"), a single file its bytes; either way
    // the bar is busy until the first report, then determinate, and full at the end.
    void progressInNumbers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("lastNumbers");
        QTest::newRow("folder") << "folder" << 3 << "3 of 3 files";
        QTest::newRow("single file") << "single" << 1 << "(100%)";
    }
    void progressInNumbers()
    {
        QFETCH(QString, name);
        QFETCH(int, files);
        QFETCH(QString, lastNumbers);
        const QString source = dir_.path() + "/" + name, destination = dir_.path() + "/" + name + "-out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        for (int i = 1; i <= files; ++i)
            test::writeFile(source + QStringLiteral("/Box%1").arg(i), test::mailbox(files == 1 ? 12000 : 50));
        test::Window w;
        w.window.show();
        w.sourceEdit()->setText(files == 1 ? source + "/Box1" : source);
        w.destinationEdit()->setText(destination);
        QList<Shown> shown;
        connect(w.job(), &JobRunner::progressChanged, &w.window, [&] {
            shown.append({w.progressBar()->maximum(), w.progressBar()->value(), progressLabel(w)->text()});
        });
        w.startButton()->click();
        QVERIFY(w.isBusy() && progressLabel(w)->text().isEmpty());
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY(!shown.isEmpty());
        for (const Shown& s : shown) {
            QVERIFY2(s.maximum > 0 && s.value >= 0 && s.value <= s.maximum, qPrintable(s.numbers));
            if (files == 1)
                QVERIFY2(QRegularExpression(R"(^\S+ \S+ of \S+ \S+ \(\d+%\)$)").match(s.numbers).hasMatch(), qPrintable(s.numbers));
            else
                QVERIFY2(QRegularExpression(R"(^[1-3] of 3 files$)").match(s.numbers).hasMatch(), qPrintable(s.numbers));
        }
        QCOMPARE(shown.last().value, shown.last().maximum);
        QVERIFY2(shown.last().numbers.endsWith(lastNumbers), qPrintable(shown.last().numbers));
        if (files > 1) {
            QCOMPARE(shown.first().numbers, "1 of 3 files");
            QCOMPARE(shown.first().value, 0);
        }
        // The bar never goes back, and the sheet comes down busy-free with no numbers.
        for (qsizetype i = 1; i < shown.size(); ++i)
            QVERIFY(double(shown[i].value) / shown[i].maximum >= double(shown[i - 1].value) / shown[i - 1].maximum);
        QVERIFY(progressLabel(w)->text().isEmpty() && w.progressBar()->isHidden());
    }

    // Cancel says, once pressed, that the job stops when the mailbox under way is
    // done (a single large one may take a while); the next job starts without it.
    void cancelSaysWhenItStops()
    {
        test::Window w;
        w.window.show();
        StatusSheet* sheet = w.statusSheet();
        auto* hint = w.child<QLabel>("hintLabel");
        sheet->begin(QString(), QString());
        sheet->setProgress(1, 1, 100, 1000);
        QVERIFY(hint->isHidden());
        w.cancelButton()->click();
        QVERIFY2(hint->isVisible() && hint->text().startsWith("Stopping when this mailbox is done."), qPrintable(hint->text()));
        emit w.job()->finished("Canceled");
        sheet->begin(QString(), QString());
        QVERIFY(hint->isHidden() && w.cancelButton()->text() == "Cancel");
        sheet->end();
    }

    // What is not known is not shown: no count, no bytes, a busy bar.
    void unknownTotalsStayBusy()
    {
        test::Window w;
        w.window.show();
        StatusSheet* sheet = w.statusSheet();
        sheet->begin(QString(), QString());
        const struct {
            qulonglong file, files, done, bytes;
            bool busy;
            QString numbers;
        } reports[] = {
            {1, 0, 0, 100, true, ""}, // files not counted
            {1, 1, 0, 0, true, ""},   // a single file of unknown size
            {1, 1, 512, 2048, false, "512 bytes of 2.00 KiB (25%)"},
            {2, 4, 0, 10, false, "2 of 4 files"},
            {2, 4, 5, 10, false, "2 of 4 files; this one 5 bytes of 10 bytes"},
            {2, 4, 10, 10, false, "2 of 4 files"},
            {0, 4, 0, 0, true, ""}, // before the first file
        };
        for (const auto& r : reports) {
            sheet->setProgress(r.file, r.files, r.done, r.bytes);
            QCOMPARE(w.isBusy(), r.busy);
            QCOMPARE(progressLabel(w)->text(), r.numbers);
        }
        sheet->setProgress(2, 4, 5, 10);
        QCOMPARE(w.progressBar()->value() * 8, w.progressBar()->maximum() * 3); // 1.5 of 4 files
        // The numbers speak the window's language.
        QTranslator* translator = installTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(translator);
        sheet->setProgress(2, 4, 0, 10);
        const QString japanese = progressLabel(w)->text();
        QCoreApplication::removeTranslator(translator);
        delete translator;
        QCOMPARE(japanese, "4 ファイル中 2 番目");
        sheet->end();
    }

    // Details holds what the job logged, in its place before the summary.
    void detailsHoldTheLog()
    {
        const QString source = dir_.path() + "/logged", destination = dir_.path() + "/logged-out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In", test::mailbox(2));
        QVERIFY(QFile::link("In", source + "/Link"));
        test::Window w;
        w.window.show();
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        const QStringList lines = w.window.detailsText().split('\n');
        const qsizetype logged = lines.indexOf("'Link' is a symbolic link: passed over");
        const qsizetype summary = lines.indexOf("Links and special files passed over: 1");
        QVERIFY2(logged >= 0 && summary > logged, qPrintable(w.window.detailsText()));
        QCOMPARE(lines.last(), "Completed");
        w.detailsButton()->click();
        auto* details = w.window.findChild<QDialog*>("detailsDialog");
        QVERIFY(details && details->isVisible());
        QCOMPARE(details->findChild<QPlainTextEdit*>()->toPlainText(), w.window.detailsText());
        details->close();
    }

    // Closing the window or Ctrl+Q during a job asks first, with buttons named by what
    // they do (none "Cancel", which the sheet has with another meaning); Stop and Quit
    // abandons the mailbox under way (no output, no temporary file, named in Details
    // with those not reached) and the window goes when the job has ended; Keep
    // Converting lets the job go on to its end with the window open. Left unanswered,
    // the question goes with the job's end, and the quit asked for goes ahead.
    void closingDuringAJob_data()
    {
        QTest::addColumn<bool>("byShortcut");
        QTest::addColumn<int>("answer"); // 1 stop, 0 keep converting, -1 none
        QTest::newRow("close, stop now") << false << 1;
        QTest::newRow("Ctrl+Q, stop now") << true << 1;
        QTest::newRow("close, keep converting") << false << 0;
        QTest::newRow("close, unanswered") << false << -1;
    }
    void closingDuringAJob()
    {
        QFETCH(bool, byShortcut);
        QFETCH(int, answer);
        const bool stop = answer == 1;
        const QString source = dir_.path() + "/closing", destination = dir_.path() + "/" + QTest::currentDataTag();
        QVERIFY(QDir(source).exists() || QDir().mkpath(source));
        QVERIFY(QDir().mkpath(destination));
        // Large enough that the job is still under way when the window is asked to close.
        for (const auto& [name, messages] : {std::pair{"One", 80000}, std::pair{"Two", 30000}})
            if (!QFileInfo::exists(source + "/" + name))
                test::writeFile(source + "/" + name, test::mailbox(messages)); // about 120 and 45 MB
        test::Window w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(QTest::qWaitFor([&] { return w.messageLabel()->text().startsWith("Processing"); }, 30000));
        if (byShortcut) {
            QVERIFY(QTest::qWaitForWindowActive(w.statusSheet()));
            QTest::keyClick(QApplication::activeWindow(), Qt::Key_Q, Qt::ControlModifier);

        } else {
            w.window.close();
        }
        QPointer<QMessageBox> box = w.window.findChild<QMessageBox*>("stopBox");
        QVERIFY(box && box->isVisible());
        QVERIFY(w.window.isVisible() && w.job()->isRunning());
        QStringList names;
        for (QAbstractButton* button : box->buttons())
            names << button->text();
        names.sort();
        QCOMPARE(names, (QStringList{"&Keep Converting", "Stop and &Quit"}));
        QCOMPARE(box->buttonRole(box->defaultButton()), QMessageBox::RejectRole);
        QSignalSpy abandoned(w.job(), &JobRunner::mailboxAbandoned);
        if (answer >= 0)
            for (QAbstractButton* button : box->buttons())
                if ((box->buttonRole(button) == QMessageBox::DestructiveRole) == stop)
                    button->click();
        QVERIFY(QTest::qWaitFor([&] { return !w.job()->isRunning(); }, 240000));
        QVERIFY(!box || !box->isVisible());
        QCOMPARE(w.window.isVisible(), answer == 0);
        QCOMPARE(abandoned.size(), stop ? 1 : 0);
        const QStringList written = QDir(destination).entryList(QDir::Files | QDir::Hidden);
        if (answer == 0) {
            QCOMPARE(written, (QStringList{"One", "Two"}));
            QVERIFY(w.resultLabel()->text().startsWith("Converted 2 mailboxes"));
            return;
        }
        if (!stop)
            return;
        QVERIFY(w.resultLabel()->text().startsWith("Canceled"));
        const QString underWay = w.messageLabel()->text().section('"', 1, 1);
        QVERIFY2(!written.contains(underWay) && written.size() <= 1, qPrintable(written.join(',')));
        QVERIFY(w.window.detailsText().contains("\nLeft unconverted, stopped at once: " + underWay + "\n"));
        QCOMPARE(w.window.detailsText().contains("\nLeft unconverted, the job stopped before them: Two\n"), underWay == "One");
        for (const QString& file : written)
            QVERIFY(QFileInfo(destination + "/" + file).size() > 0);
    }
};

static tarnwick::test::RegisterTest<ProgressTest> registerProgressTest("ProgressTest");

#include "ProgressTest.moc"
