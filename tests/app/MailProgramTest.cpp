// The mail-program choice: what each choice sets (format, layout, line ends), the
// first start on Thunderbird, and the question of placing the mail into a Thunderbird
// profile found in the home folder.
#include "TestSupport.h"

#include "settings/SettingsKeys.h"

#include <QTemporaryDir>

using namespace tarnwick;

namespace {

QComboBox* programMenu(const test::Window& w) { return w.child<QComboBox>("mailProgramMenu"); }

// Chooses as the user does: the menu's item activated.
void choose(const test::Window& w, const QString& program)
{
    QComboBox* menu = programMenu(w);
    const int index = menu->findData(program);
    QVERIFY(index >= 0);
    menu->setCurrentIndex(index);
    emit menu->activated(index);
}

QString stored(std::string_view key) { return QString::fromStdString(test::store().stringValue(key).value_or("(none)")); }

QMessageBox* intoThunderbirdBox(const test::Window& w)
{
    for (auto* box : w.window.findChildren<QMessageBox*>(QStringLiteral("intoThunderbirdBox")))
        if (box->isVisible())
            return box;
    return nullptr;
}

} // namespace

class MailProgramTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void init() { test::resetStore(); }
    void cleanup() { QDir(QDir::homePath() + "/.thunderbird").removeRecursively(); }

    // Each choice stores the format and layout it stands for and sets the CR LF box;
    // plain mbox files give the layout menu back and keep what it says.
    void eachChoiceSetsFormatLayoutAndLineEnds()
    {
        test::Window w;
        w.layoutMenu()->setCurrentIndex(w.layoutMenu()->findData("tree"));
        const struct {
            const char* program;
            const char* format;
            const char* layout;
            bool crlf;
        } cases[] = {
            {"thunderbird", "mbox", "thunderbird", false},
            {"mbox", "mbox", "tree", true},
            {"server", "maildir", "flat", false},
            {"mutt", "maildir", "tree", false},
            {"mbox", "mbox", "tree", true},
        };
        for (const auto& c : cases) {
            choose(w, c.program);
            const QString seen = stored(keys::kMailProgram) + " " + stored(keys::kOutputFormat) + " " + stored(keys::kOutputLayout) + " "
                + (test::store().boolValue(keys::kConvertLineEndings) ? "crlf" : "lf");
            QCOMPARE(seen, QString("%1 %2 %3 %4").arg(c.program, c.format, c.layout, c.crlf ? "crlf" : "lf"));
            QCOMPARE(w.lineEndingsBox()->isChecked(), c.crlf);
            QCOMPARE(w.layoutMenu()->isEnabled(), QString(c.program) == "mbox");
        }
        // The CR LF box stays the user's: ticked again, it is stored with the choice.
        choose(w, "thunderbird");
        w.lineEndingsBox()->setChecked(true);
        QVERIFY(test::store().boolValue(keys::kConvertLineEndings));
        test::Window again;
        QCOMPARE(programMenu(again)->currentData().toString(), "thunderbird");
        QVERIFY(again.lineEndingsBox()->isChecked());
        QVERIFY(!again.layoutMenu()->isEnabled());
    }

    // With no choice stored, the window starts on Thunderbird with LF lines, and a job
    // writes Thunderbird's folders.
    void firstStartWritesThunderbirdsFolders()
    {
        test::store().setPersistentBackend(makeMemorySettingsBackend());
        test::store().setBool(keys::kConvertLineEndings, true);
        const QString source = dir_.path() + "/first-in", destination = dir_.path() + "/first-out";
        QVERIFY(QDir().mkpath(source + "/Work") && QDir().mkpath(destination));
        test::writeFile(source + "/Work/Old.mbx", test::mailbox(2));
        test::Window w;
        w.window.show();
        QCOMPARE(programMenu(w)->currentData().toString(), "thunderbird");
        QVERIFY(!w.lineEndingsBox()->isChecked());
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QCOMPARE(QDir(destination).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"Work", "Work.sbd"}));
        QFile old(destination + "/Work.sbd/Old");
        QVERIFY(old.open(QIODevice::ReadOnly));
        QVERIFY(!old.readAll().contains('\r'));
    }

    // A profile in the home folder: Start asks; Cancel runs nothing, "Only into the
    // Destination" converts there, "Put into Thunderbird" makes Local Folders > Eudora.
    void thunderbirdFoundIsOfferedThePlacement()
    {
        // The default of two profiles, its Local Folders where its prefs.js says.
        const QString local = QDir::homePath() + "/.thunderbird/t.default/Mail/Local Folders-1";
        QVERIFY(QDir().mkpath(local) && QDir().mkpath(QDir::homePath() + "/.thunderbird/u.other/Mail/Local Folders"));
        test::writeFile(QDir::homePath() + "/.thunderbird/profiles.ini",
                        "[Profile1]\nName=other\nPath=u.other\n[Profile0]\nName=Family mail\nPath=t.default\nDefault=1\n");
        test::writeFile(QDir::homePath() + "/.thunderbird/t.default/prefs.js",
                        "user_pref(\"mail.server.server1.hostname\", \"Local Folders\");\n"
                        "user_pref(\"mail.server.server1.type\", \"none\");\n"
                        "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/Local Folders-1\");\n");
        test::writeFile(local + "/Inbox", "mine");
        const QString source = dir_.path() + "/tb-in", destination = dir_.path() + "/tb-out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In.mbx", test::mailbox(2));
        test::Window w;
        w.window.show();
        choose(w, "thunderbird");
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        for (const char* button : {"cancel", "onlyDestinationButton", "intoThunderbirdButton"}) {
            w.startButton()->click();
            QMessageBox* box = intoThunderbirdBox(w);
            QVERIFY2(box, button);
            QVERIFY2(box->text().contains("\"Family mail\""), qPrintable(box->text()));
            QVERIFY2(box->informativeText().contains(local), qPrintable(box->informativeText()));
            if (QString(button) == "cancel") {
                box->button(QMessageBox::Cancel)->click();
                QVERIFY(QTest::qWaitFor([&] { return w.startButton()->isEnabled(); }));
                QVERIFY(!w.statusSheet()->isVisible());
                QCOMPARE(QDir(destination).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
                continue;
            }
            box->findChild<QPushButton*>(button)->click();
            QVERIFY(test::waitForJobEnd(w));
        }
        QCOMPARE(QDir(destination).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"In"}));
        QCOMPARE(QDir(local).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList({"Eudora", "Eudora.sbd", "Inbox"}));
        QVERIFY(QFileInfo(local + "/Eudora.sbd/In").size() > 0);
        QVERIFY(w.window.detailsText().endsWith("Completed"));
        QVERIFY2(w.window.detailsText().contains("Placed into Thunderbird: Local Folders > Eudora (\"" + local + "/Eudora.sbd\")"),
                 qPrintable(w.window.detailsText()));
        // The run's own destination is not kept for the next job.
        QCOMPARE(stored(keys::kDestinationPath), destination);
    }

    // When the mail cannot go straight into Thunderbird, a line below the choice says
    // why (and Start asks nothing); when it can, or another program is chosen, none.
    void thunderbirdNotOfferedSaysWhy_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("prefs");    // the profile's prefs.js; "-": no profile at all
        QTest::addColumn<bool>("running");     // Thunderbird's lock link names a live process
        QTest::addColumn<QString>("expected"); // in the line; empty: no line, Start asks
        const QString maildirStore = "user_pref(\"mail.server.server1.hostname\", \"Local Folders\");\n"
                                     "user_pref(\"mail.server.server1.type\", \"none\");\n"
                                     "user_pref(\"mail.server.server1.storeContractID\", \"@mozilla.org/msgstore/maildirstore;1\");\n";
        QTest::newRow("no profile") << "thunderbird"
                                    << "-" << false << "No Thunderbird profile found (looked in";
        QTest::newRow("Maildir store") << "thunderbird" << maildirStore << false << "keeps its Local Folders as one file per message";
        QTest::newRow("Thunderbird running") << "thunderbird"
                                             << "" << true << "Thunderbird is running (its profile";
        QTest::newRow("offered") << "thunderbird"
                                 << "" << false << "";
        QTest::newRow("another program") << "mbox"
                                         << "-" << false << "";
    }
    void thunderbirdNotOfferedSaysWhy()
    {
        QFETCH(QString, program);
        QFETCH(QString, prefs);
        QFETCH(bool, running);
        QFETCH(QString, expected);
        const QString profile = QDir::homePath() + "/.thunderbird/t.default";
        if (prefs != "-") {
            QVERIFY(QDir().mkpath(profile + "/Mail/Local Folders"));
            test::writeFile(QDir::homePath() + "/.thunderbird/profiles.ini", "[Profile0]\nName=default\nPath=t.default\nDefault=1\n");
            test::writeFile(profile + "/prefs.js", prefs.toUtf8());
        }
        if (running)
            QVERIFY(QFile::link(QString("127.0.0.1:+%1").arg(QCoreApplication::applicationPid()), profile + "/lock"));
        const QString source = dir_.path() + "/note-in", destination = dir_.path() + "/note-out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In.mbx", test::mailbox(1));
        test::Window w;
        w.window.show();
        choose(w, program);
        auto* note = w.child<QLabel>("thunderbirdNote");
        QCOMPARE(note->isVisible(), !expected.isEmpty());
        QVERIFY2(expected.isEmpty() ? note->text().isEmpty()
                                    : note->text().startsWith("Not put straight into Thunderbird: ") && note->text().contains(expected),
                 qPrintable(note->text()));
        QCOMPARE(note->toolTip(), note->text());
        // Start: asked only when offered; otherwise the mail goes into the Destination.
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QMessageBox* box = intoThunderbirdBox(w);
        QCOMPARE(box != nullptr, expected.isEmpty() && program == "thunderbird");
        if (box)
            box->findChild<QPushButton*>("onlyDestinationButton")->click();
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY(w.window.detailsText().endsWith("Completed"));
        // Thunderbird quit meanwhile: the line goes when the window is active again.
        if (running) {
            QVERIFY(QFile::remove(profile + "/lock"));
            QEvent activate(QEvent::WindowActivate);
            QCoreApplication::sendEvent(&w.window, &activate); // passed on to the children shown
            QVERIFY(!note->isVisible());
        }
    }
};

static tarnwick::test::RegisterTest<MailProgramTest> registerMailProgramTest("MailProgramTest");

#include "MailProgramTest.moc"
