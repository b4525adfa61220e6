// Start with a real batch job behind it: what Start writes, the status sheet, Cancel
// between two files, and an error reported by the job.

#include "TestSupport.h"

#include "app/StatusSheet.h"
#include "platform/SettingsStore.h"
#include "platform/TextEncoding.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>

using namespace tarnwick;

namespace {

SettingsStore& store()
{
    return SettingsStore::standard();
}

QByteArray mailbox(int messages)
{
    QByteArray message = "From sender@example.com Mon Jan  1 00:00:00 2001\r\n"
                         "From: sender@example.com\r\nSubject: test\r\n\r\n";
    for (int line = 0; line < 20; ++line)
        message += "Plain body text, long enough to make a realistic line of a message.\r\n";
    QByteArray box;
    box.reserve(message.size() * messages);
    for (int i = 0; i < messages; ++i)
        box += message;
    return box;
}

} // namespace

class JobTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;

private slots:
    void init() { test::resetStore(); }

    void startWritesEveryControl()
    {
        const QString source = dir_.path() + "/in";
        const QString destination = dir_.path() + "/out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In", mailbox(3));

        test::Window w;
        Controller& c = w.controller;
        c.awakeFromNib();
        w.window.show();
        c._sourceField->setText(source + "/");
        c._destinationField->setText(destination);
        c._charsetField->setText("x");
        QTest::keyClicks(c._charsetField, ",utf-8 ,, tis-620"); // a pending edit: Start normalises it
        c._convertEncodingCheckBox->setCheckState(Qt::Unchecked); // disabled controls are stored too
        c.controlClicked(c._convertEncodingCheckBox);
        int highIndex = -1;
        for (int i = 0; i < c._encodingPopUp->count(); ++i) {
            if (static_cast<std::uint32_t>(c._encodingPopUp->itemData(i).toInt()) >= 0x80000000u)
                highIndex = i;
        }
        QVERIFY(highIndex >= 0);
        c._encodingPopUp->setCurrentIndex(highIndex);
        const std::int64_t highTag = c._encodingPopUp->itemData(highIndex).toInt();
        c._eudoraCheckBox->setCheckState(Qt::Checked);
        c._convertLineEndingsCheckBox->setCheckState(Qt::PartiallyChecked);
        c._complementDateCheckBox->setCheckState(Qt::Checked);
        c._addEmptyLineCheckBox->setCheckState(Qt::Unchecked);
        c._resultField->setText("old");

        c.controlClicked(c._startButton);
        QVERIFY(c._statusWindow->isVisible());
        QCOMPARE(c._statusWindow->windowModality(), Qt::WindowModal);
        QCOMPARE(c._titleField->text(), QStringLiteral("Converting Mbox files..."));
        QVERIFY(c._progressIndicator->isAnimating() && c._progressIndicator->isVisible());
        QCOMPARE(c._progressIndicator->maximum(), 0); // busy
        QCOMPARE(c._resultField->text(), QString());
        QCOMPARE(c._charsetField->text(), QStringLiteral("x, utf-8, , tis-620"));

        QCOMPARE(*store().stringForKey(keys::kSourcePath), (source + "/").toStdString());
        QCOMPARE(*store().stringForKey(keys::kDestinationPath), destination.toStdString());
        QCOMPARE(store().boolForKey(keys::kConvertEncodings), false);
        QCOMPARE(store().integerForKey(keys::kMboxEncoding), highTag);
        QVERIFY(highTag < 0); // the identifier's 32-bit pattern, signed
        QCOMPARE(*store().stringArrayForKey(keys::kCharsetNames), (std::vector<std::string>{"x", "utf-8", "", "tis-620"}));
        QCOMPARE(store().boolForKey(keys::kProcessEudoraTags), true);
        QCOMPARE(store().boolForKey(keys::kConvertLineEndings), false); // mixed is off
        QCOMPARE(store().boolForKey(keys::kComplementDateHeaders), true);
        QCOMPARE(store().boolForKey(keys::kAddEmptyLines), false);

        QVERIFY(test::waitForJobEnd(c));
        QCOMPARE(c._resultField->text(), QStringLiteral("Completed"));
        QCOMPARE(c._messageField->text(), QStringLiteral("Processing \"In\"..."));
        QVERIFY(QFileInfo(destination + "/In").size() > 0);
        QVERIFY(c._cancelButton->isEnabled() && !c._hasCanceled);

        // The next run starts from what Start stored, the high identifier included.
        test::Window next;
        next.controller.awakeFromNib();
        QCOMPARE(next.controller._encodingPopUp->currentIndex(), highIndex);
        QCOMPARE(next.controller._charsetField->text(), QStringLiteral("x, utf-8, , tis-620"));
    }

    void jobErrorShown()
    {
        const QString source = dir_.path() + "/errin";
        QVERIFY(QDir().mkpath(source));
        test::Window w;
        Controller& c = w.controller;
        c.awakeFromNib();
        c._sourceField->setText(source);
        c._destinationField->setText(dir_.path() + "/missing");
        c.controlClicked(c._startButton);
        QVERIFY(test::waitForJobEnd(c));
        QCOMPARE(c._resultField->text(), QStringLiteral("Error: \"%1/missing\" not found").arg(dir_.path()));
    }

    // Cancel while the first of two large files converts: that file is finished and
    // kept, the second is never started.
    void cancelBetweenFiles()
    {
        const QString source = dir_.path() + "/big";
        const QString destination = dir_.path() + "/bigout";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        const QByteArray box = mailbox(30000); // about 45 MB each
        test::writeFile(source + "/One", box);
        test::writeFile(source + "/Two", box);

        test::Window w;
        Controller& c = w.controller;
        c.awakeFromNib();
        w.window.show();
        c._sourceField->setText(source);
        c._destinationField->setText(destination);
        c._convertEncodingCheckBox->setCheckState(Qt::Checked);

        QElapsedTimer timer;
        timer.start();
        c.controlClicked(c._startButton);
        QVERIFY(QTest::qWaitFor([&] { return c._messageField->text().startsWith("Processing"); }, 30000));
        const QString first = c._messageField->text().section('"', 1, 1);
        QTest::mouseClick(c._cancelButton, Qt::LeftButton);
        QVERIFY(!c._cancelButton->isEnabled());
        QVERIFY(c._hasCanceled);
        QVERIFY(test::waitForJobEnd(c, 240000));
        qInfo("job took %lld ms", static_cast<long long>(timer.elapsed()));

        QCOMPARE(c._resultField->text(), QStringLiteral("Canceled"));
        QCOMPARE(c._messageField->text(), QStringLiteral("Processing \"%1\"...").arg(first));
        QVERIFY(QFileInfo(destination + "/" + first).size() > 0);
        QCOMPARE(QDir(destination).entryList(QDir::Files), QStringList{first});
        QVERIFY(c._cancelButton->isEnabled() && !c._hasCanceled);
    }

    // Quitting while a job runs: the controller cancels and joins the worker, which
    // finishes its current file and starts no other.
    void quitWhileRunning()
    {
        const QString source = dir_.path() + "/big"; // from cancelBetweenFiles
        const QString destination = dir_.path() + "/quitout";
        QVERIFY(QDir().mkpath(destination));
        {
            test::Window w;
            Controller& c = w.controller;
            c.awakeFromNib();
            c._sourceField->setText(source);
            c._destinationField->setText(destination);
            c.controlClicked(c._startButton);
            QVERIFY(QTest::qWaitFor([&] { return c._messageField->text().startsWith("Processing"); }, 30000));
        }
        QCOMPARE(QDir(destination).entryList(QDir::Files).size(), 1);
    }
};

static tarnwick::test::RegisterTest<JobTest> registerJobTest("JobTest");

#include "JobTest.moc"
