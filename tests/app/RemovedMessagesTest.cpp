// The window's choice for messages removed in Eudora (bytes of an indexed mailbox that
// no .toc entry covers): shown from the store, usable only with Eudora's records read,
// stored as it changes and used by the job.

#include "TestSupport.h"

#include "app/AppTranslations.h"

#include <QTemporaryDir>
#include <QTranslator>

using namespace tarnwick;
using test::store;

namespace {

// A Windows .toc (a 104-byte header with the count at 102, then 218 bytes an entry)
// whose one entry, of normal priority, covers the first `length` bytes of its mailbox.
QByteArray tocCovering(quint32 length)
{
    QByteArray bytes(104 + 218, '\0');
    bytes[102] = 1;
    for (int i = 0; i < 4; ++i)
        bytes[104 + 4 + i] = char((length >> (8 * i)) & 0xff);
    bytes[104 + 16] = 3;
    return bytes;
}

// The messages of an mbox file: its lines that begin "From ".
int messagesIn(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        count += line.startsWith("From ");
    return count;
}

} // namespace

class RemovedMessagesTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void init() { test::resetStore(); }

    void choiceReachesTheJob_data()
    {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<int>("listed");  // messages in In.mbx
        QTest::addColumn<int>("removed"); // in In (removed in Eudora).mbx; -1: no such file
        QTest::newRow("apart") << "apart" << 1 << 1;
        QTest::newRow("omit") << "omit" << 1 << -1;
        QTest::newRow("inside") << "inside" << 2 << -1;
    }

    // The menu starts at another choice than the one picked, so that both the loading
    // and the storing are seen; the job writes what the picked choice says.
    void choiceReachesTheJob()
    {
        QFETCH(QString, choice);
        QFETCH(int, listed);
        QFETCH(int, removed);
        const QString source = dir_.path() + "/" + choice, destination = dir_.path() + "/out-" + choice;
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        const QByteArray kept = "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: kept\r\n\r\nstill listed\r\n";
        const QByteArray gone = "From ???@??? Mon Dec 13 18:45:30 2010\r\nSubject: gone\r\n\r\ndeleted in Eudora\r\n";
        test::writeFile(source + "/In.mbx", kept + gone);
        test::writeFile(source + "/In.toc", tocCovering(quint32(kept.size())));
        const std::string other = choice == "inside" ? "omit" : "inside";
        store().setString(keys::kRemovedMessages, other);
        store().setBool(keys::kUseEudoraRecords, true);

        test::Window w;
        w.window.show();
        QCOMPARE(w.removedMenu()->currentData().toString().toStdString(), other);
        QVERIFY(w.removedMenu()->isEnabled());
        w.removedMenu()->setCurrentIndex(w.removedMenu()->findData(choice));
        QCOMPARE(store().stringValue(keys::kRemovedMessages).value_or(std::string()), choice.toStdString());
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QCOMPARE(messagesIn(destination + "/In.mbx"), listed);
        QCOMPARE(messagesIn(destination + "/In (removed in Eudora).mbx"), removed);
        test::Window next;
        QCOMPARE(next.removedMenu()->currentData().toString(), choice);
    }

    // Nothing stored or an unknown value: apart, the default. Without Eudora's records
    // the choice has nothing to act on and is disabled, its label too.
    void defaultAndDisabledWithoutRecords()
    {
        store().setString(keys::kRemovedMessages, "elsewhere");
        test::Window w;
        QCOMPARE(w.removedMenu()->currentData().toString(), "apart");
        QCOMPARE(w.removedMenu()->count(), 3);
        w.eudoraRecordsBox()->setCheckState(Qt::Unchecked);
        QVERIFY(!w.removedMenu()->isEnabled());
        const QString name = w.removedMenu()->accessibleName();
        const auto labels = w.window.findChildren<QLabel*>();
        const auto label = std::find_if(labels.begin(), labels.end(), [&name](const QLabel* l) { return l->text() == name; });
        QVERIFY(label != labels.end() && !(*label)->isEnabled());
        w.eudoraRecordsBox()->setCheckState(Qt::Checked);
        QVERIFY(w.removedMenu()->isEnabled() && (*label)->isEnabled());
    }

    // The menu's items have Japanese texts (the catalogue test sees labels and tooltips,
    // not menu items).
    void japaneseItems()
    {
        QStringList english;
        {
            test::Window w;
            for (int i = 0; i < w.removedMenu()->count(); ++i)
                english << w.removedMenu()->itemText(i);
        }
        QTranslator* translator = installTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(translator);
        QStringList japanese;
        {
            test::Window w;
            for (int i = 0; i < w.removedMenu()->count(); ++i)
                japanese << w.removedMenu()->itemText(i);
            japanese << w.removedMenu()->accessibleName();
        }
        QCoreApplication::removeTranslator(translator);
        delete translator;
        QCOMPARE(japanese.size(), english.size() + 1);
        for (qsizetype i = 0; i < english.size(); ++i)
            QVERIFY2(japanese[i] != english[i] && !japanese[i].isEmpty(), qPrintable(english[i]));
        QVERIFY(japanese.last().startsWith("Eudora で"));
    }
};

static tarnwick::test::RegisterTest<RemovedMessagesTest> registerRemovedMessagesTest("RemovedMessagesTest");

#include "RemovedMessagesTest.moc"
