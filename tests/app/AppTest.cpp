// The window's tests: the choosers (ChooserTest), the window without a job
// (MainWindowTest), and Start with a real batch job (JobTest).

#include "TestSupport.h"

#include "app/AppTranslations.h"
#include "app/ChooserStart.h"
#include "platform/Localization.h"
#include "platform/encodings/TextEncoding.h"
#include "settings/SettingsKeys.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QThread>
#include <QSet>
#include <QToolButton>
#include <QTranslator>

#include <algorithm>

using namespace tarnwick;
using test::store;

namespace {
// The five check boxes' states as digits (0 off, 1 mixed, 2 on), in window order.
// Opens a chooser: the entry of a button's menu, or a click on a button without one.
void openChooser(QPushButton* button, const char* menuEntry)
{
    if (!button->menu())
        return button->click();
    if (auto* action = button->menu()->findChild<QAction*>(QLatin1String(menuEntry)))
        action->trigger();
}

QString checkStates(const test::Window& w)
{
    QString states;
    for (const QCheckBox* box : {w.convertEncodingsBox(), w.eudoraTagsBox(), w.lineEndingsBox(), w.dateHeadersBox(), w.emptyLinesBox()})
        states += QString::number(box->checkState());
    return states;
}
} // namespace

class ChooserTest : public QObject {
    Q_OBJECT
private slots:
    // Where a chooser opens for what its field holds: the folder and the name to select,
    // "-" for none ("@" stands for the home's Mail folder).
    void chooserStartLocation_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("destination");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& field, bool destination, const char* expected) {
            QTest::newRow(name) << field << destination << QString(expected);
        };
        row("source folder", "@", false, "@|-");
        row("source folder typed with ~", "~/Mail/", false, "@|-");
        row("source file", "@/In", false, "@|In");
        row("source file through ..", "@/Sub/../In", false, "@|In");
        row("source file missing", "@/Out", false, "@|-");
        row("source folder missing", "@/None/Out", false, "-|-");
        row("source empty", "", false, "-|-");
        row("source relative", "Nowhere", false, "-|-");
        row("destination a file", "@/In", true, "@|-");
        row("destination a new name", "~/Mail/New", true, "@|-");
        row("destination empty", "", true, "-|-");
    }

    void chooserStartLocation()
    {
        QFETCH(QString, field);
        QFETCH(bool, destination);
        QFETCH(QString, expected);
        const QString mail = QDir::homePath() + "/Mail"; // the private home main set up
        QVERIFY(QDir(mail).mkpath("Sub"));
        test::writeFile(mail + "/In", "From a\n");
        if (field.startsWith('@'))
            field.replace(0, 1, mail);
        const ChooserStart start
            = tarnwick::chooserStartLocation(destination ? ChooserKind::Destination : ChooserKind::Source, field.toStdString());
        QCOMPARE(QString::fromStdString(start.folder.value_or("-") + "|" + start.name.value_or("-")), expected.replace('@', mail));
    }

    // The source chooser picks a file or a folder (Choose on a folder picks it) and
    // offers no "New Folder"; the destination chooser picks a folder and offers it.
    // Either puts the chosen path into its field with "~" for the home folder.
    void choosers_data()
    {
        QTest::addColumn<bool>("destination"); // else the source
        QTest::addColumn<QString>("select");   // under ~/Mail
        QTest::newRow("source file") << false << "In";
        QTest::newRow("source folder") << false << "Sub";
        QTest::newRow("destination folder") << true << "Sub";
    }

    void choosers()
    {
        QFETCH(bool, destination);
        QFETCH(QString, select);
        const QString mail = QDir::homePath() + "/Mail";
        QVERIFY(QDir(mail).mkpath("Sub"));
        test::writeFile(mail + "/In", "From a\n");
        test::Window w;
        w.window.show();
        QLineEdit* field = destination ? w.destinationEdit() : w.sourceEdit();
        const char* name = destination ? "destinationChooser" : "sourceChooser";
        field->setText(mail + "/");
        openChooser(destination ? w.destinationButton() : w.sourceButton(), "sourceFileAction");
        auto* chooser = w.window.findChild<QFileDialog*>(QLatin1String(name));
        QVERIFY2(chooser && chooser->isVisible() && chooser->windowModality() == Qt::WindowModal, name);
        QCOMPARE(QFileInfo(chooser->directory().path()).canonicalFilePath(), QFileInfo(mail).canonicalFilePath());
        QCOMPARE(chooser->fileMode(), destination ? QFileDialog::Directory : QFileDialog::ExistingFile);
        const auto* newFolderButton = chooser->findChild<QToolButton*>(QStringLiteral("newFolderButton"));
        QVERIFY2(newFolderButton && newFolderButton->isEnabled() == destination, name);
        chooser->selectFile(mail + "/" + select);
        QPushButton* choose = chooser->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
        QVERIFY2(choose, name);
        choose->click();
        QVERIFY2(!chooser->isVisible(), qPrintable(select));
        QCOMPARE(field->text(), "~/Mail/" + select);
        QTRY_VERIFY(!w.window.findChild<QFileDialog*>(QLatin1String(name))); // deleted once it has ended
    }

    void sourceFolderChooser()
    {
        const QString mail = QDir::homePath() + "/Mail";
        QVERIFY(QDir(mail).mkpath("Sub"));
        test::Window w;
        w.window.show();
        // The source's Folder entry: a folder dialog, no "New Folder".
        w.sourceEdit()->setText(mail + "/");
        openChooser(w.sourceButton(), "sourceFolderAction");
        auto* folders = w.window.findChild<QFileDialog*>(QStringLiteral("sourceFolderChooser"));
        QVERIFY(folders && folders->isVisible() && folders->fileMode() == QFileDialog::Directory);
        QVERIFY(!folders->findChild<QToolButton*>(QStringLiteral("newFolderButton"))->isEnabled());
        folders->selectFile(mail + "/Sub");
        folders->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
        QCOMPARE(w.sourceEdit()->text(), "~/Mail/Sub");
    }
};

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::resetStore(); }

    void startupFromStore()
    {
        store().setString(keys::kSourcePath, "~/Mail");
        store().setString(keys::kDestinationPath, "/tmp/Out");
        store().setStringList(keys::kCharsetNames, {"utf-8", "tis-620", "shift_jis"});
        for (auto [key, value] : {std::pair{keys::kConvertEncodings, false},
                                  {keys::kProcessEudoraTags, true},
                                  {keys::kConvertLineEndings, false},
                                  {keys::kComplementDateHeaders, true},
                                  {keys::kAddEmptyLines, false}})
            store().setBool(key, value);
        test::Window w;
        QCOMPARE(w.sourceEdit()->text() + "|" + w.destinationEdit()->text(), "~/Mail|/tmp/Out");
        QCOMPARE(w.charsetEdit()->text(), "utf-8, tis-620, shift_jis");
        QCOMPARE(checkStates(w), "02020");
        // The convert check box is off: its three controls are disabled.
        QVERIFY(!w.encodingMenu()->isEnabled() && !w.charsetEdit()->isEnabled() && !w.eudoraTagsBox()->isEnabled());
        QVERIFY(w.resultLabel()->text().isEmpty() && w.progressBar()->isHidden());
    }

    // "Automatic" first, then every named encoding once, titles ascending by UTF-16
    // units (canonically equal titles count as equal); a stored identifier selects by
    // its 32-bit pattern, and one that no item has selects Automatic.
    void encodingMenu()
    {
        test::Window w;
        const QComboBox* menu = w.encodingMenu();
        QCOMPARE(menu->itemText(0), QString("Automatic"));
        QCOMPARE(menu->itemData(0).toInt(), int(kEncodingAutomatic));
        const auto named = std::ranges::count_if(availableEncodings(), [](EncodingId id) { return encodingDisplayName(id).has_value(); });
        QSet<int> tags;
        for (int i = 1; i < menu->count(); ++i) {
            tags << menu->itemData(i).toInt();
            QCOMPARE(menu->itemText(i).toStdString(), *encodingDisplayName(EncodingId(menu->itemData(i).toInt())));
            QVERIFY2(i == 1
                         || menu->itemText(i - 1).normalized(QString::NormalizationForm_D)
                             <= menu->itemText(i).normalized(QString::NormalizationForm_D),
                     qPrintable(menu->itemText(i)));
        }
        QVERIFY(named > 10 && menu->count() == named + 1 && tags.size() == named && !tags.contains(0));

        const qint64 high = kEncodingMacJapanese, tag = int(kEncodingMacJapanese); // 0 below: the first item
        const qint64 cases[][2] = {{kEncodingShiftJIS, kEncodingShiftJIS},   {0x7FFFFFF0, 0}, {0, 0},
                                   {qint64(1) << 32 | kEncodingShiftJIS, 0}, {high, tag},     {tag, tag}};
        for (const auto& [setting, want] : cases) {
            store().setInteger(keys::kMboxEncoding, setting);
            test::Window other;
            const QComboBox* m = other.encodingMenu();
            QVERIFY2(want ? m->currentData().toLongLong() == want : m->currentIndex() == 0, qPrintable(QString::number(setting)));
        }
    }

    void charsetNormalisation()
    {
        const QString cases[][2] = {{"utf-8 ,tis-620,  shift_jis", "utf-8, tis-620, shift_jis"},
                                    {"\tutf-8\n,\r\ntis-620\u3000", "utf-8, tis-620"},
                                    {" x y , z", "x y, z"},
                                    {"a, ,b", "a, , b"},
                                    {"a,", "a, "},
                                    {" \t\n ", ""}};
        test::Window w;
        for (const auto& [text, expected] : cases) {
            w.charsetEdit()->setText(text);
            w.sourceEdit()->setText(text);
            QTest::keyClick(w.sourceEdit(), Qt::Key_Return); // another field ends: nothing changes
            QVERIFY2(w.charsetEdit()->text() == text && w.sourceEdit()->text() == text, qPrintable(text));
            QTest::keyClick(w.charsetEdit(), Qt::Key_Return);
            QVERIFY2(w.charsetEdit()->text() == expected, qPrintable(text));
        }
    }

    // The trimming rule of the charset field: the characters with the Unicode White_Space
    // property go at both ends of each name; other invisible characters and inner
    // blanks stay.
    void charsetTrimmingRule()
    {
        const QString cases[][2] = {{"\u00A0utf-8\u0085", "utf-8"},
                                    {"\u1680\u2000\u200Akoi8-r\u2028\u2029", "koi8-r"},
                                    {"\u202Fbig5\u205F,\u000B\u000Cgbk", "big5, gbk"},
                                    {"\u200Butf-8\uFEFF", "\u200Butf-8\uFEFF"},
                                    {"iso 2022 jp", "iso 2022 jp"},
                                    {"\u3000\u3000", ""}};
        test::Window w;
        for (const auto& [text, expected] : cases) {
            w.charsetEdit()->setText(text);
            QTest::keyClick(w.charsetEdit(), Qt::Key_Return);
            QVERIFY2(w.charsetEdit()->text() == expected, qPrintable(text));
        }
    }

    // Names that no output charset stands for are marked as they are typed.
    void unknownCharsetsMarked()
    {
        test::Window w;
        auto* warning = w.window.findChild<QAction*>(QStringLiteral("charsetWarning"));
        QVERIFY(warning);
        const struct {
            const char* typed;
            const char* listed;
        } cases[] = {{"utf-8, iso-8859-1", ""},
                     {"utf-8, bogus-charset", "bogus-charset"},
                     {"nonsense ,shift_jis,  also-bad", "nonsense, also-bad"},
                     {"Shift_JIS, , tis-620", ""},
                     {"", ""}};
        for (const auto& c : cases) {
            w.charsetEdit()->clear();
            QTest::keyClicks(w.charsetEdit(), QString::fromUtf8(c.typed));
            const bool marked = *c.listed != '\0';
            QVERIFY2(warning->isVisible() == marked, c.typed);
            QVERIFY2(marked ? warning->toolTip().endsWith(QLatin1String(c.listed)) : warning->toolTip().isEmpty(),
                     qPrintable(warning->toolTip()));
        }
    }

    // A failed check stores nothing after the source and starts no job; it says what to
    // do and puts the focus in the field at fault, its text selected.
    void validation()
    {
        const QString cases[][4] = {{"", "/tmp", "Error: Source not found. Choose the Eudora folder", "sourceEdit"},
                                    {"~/no such mailbox", "/tmp", "Error: Source not found. Check the path", "sourceEdit"},
                                    {"~", "", "Error: Choose a destination folder. Choose the folder", "destinationEdit"},
                                    {"~", " \t", "Error: Choose a destination folder. Choose the folder", "destinationEdit"}};
        for (const auto& [source, destination, result, field] : cases) {
            test::resetStore();
            store().setString(keys::kDestinationPath, "before");
            test::Window w;
            w.sourceEdit()->setText(source);
            w.destinationEdit()->setText(destination);
            w.startButton()->click();
            QVERIFY2(w.resultLabel()->text().startsWith(result) && !w.statusSheet()->isVisible(), qPrintable(w.resultLabel()->text()));
            auto* focused = qobject_cast<QLineEdit*>(w.window.focusWidget());
            QVERIFY2(focused && focused->objectName() == field && focused->selectedText() == focused->text(), qPrintable(source));
            const auto stored = std::optional<std::string>();
            QVERIFY2(store().stringValue(keys::kSourcePath) == stored, qPrintable(source));
            QVERIFY(*store().stringValue(keys::kDestinationPath) == "before");
        }
    }

    // Escape on the sheet acts as Cancel and keeps the sheet up until the job's end.
    void cancelAndJobEnd()
    {
        test::Window w;
        w.window.show();
        w.statusSheet()->begin(QString(), QString());
        QTest::keyClick(w.statusSheet(), Qt::Key_Escape);
        QVERIFY(w.cancelButton()->isEnabled() && w.job()->isCancelRequested() && w.statusSheet()->isVisible());
        QCOMPARE(w.cancelButton()->text(), "Stop Now"); // a second press stops at once
        w.cancelButton()->click();
        QVERIFY(!w.cancelButton()->isEnabled() && w.statusSheet()->isVisible());
        emit w.job()->finished("Canceled");
        QVERIFY(!w.statusSheet()->isVisible() && w.cancelButton()->isEnabled() && !w.job()->isCancelRequested());
        QVERIFY(!w.isBusy() && w.progressBar()->isHidden());
        QCOMPARE(w.resultLabel()->text(), "Canceled");
        emit w.job()->finished(QString());
        QCOMPARE(w.resultLabel()->text(), QString());
    }

    // The Japanese catalogue covers the window's and the core's texts.
    void japanese()
    {
        QTranslator* translator = installTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(translator);
        routeCoreTextsThroughQt();
        for (const char* key : {"\"%1\" not found",
                                "\"%1\" is not a directory",
                                "\"%1\" already exists",
                                "Could not create \"%1\": %2",
                                "Processing \"%1\"...",
                                "Error: %1",
                                "Canceled",
                                "Completed",
                                "Could not open \"%1\": %2",
                                "Could not read folder \"%1\": %2",
                                "\"%1\" cannot be the mailbox encoding: it does not read ASCII as ASCII",
                                "Could not write to \"%1\": %2",
                                "Destination not found",
                                "Converting Mbox files...",
                                "Waiting...",
                                "Attachments put back: %1, missing: %2",
                                "%1 of %2 (%3%)",
                                "%1 of %2 files",
                                "%1 of %2 files; this one %3 of %4",
                                "Left unconverted, stopped at once: %1",
                                "Left unconverted, the job stopped before them: %1",
                                "%1 of %2 mailboxes converted, %3",
                                "No mailbox found: nothing was converted",
                                "%1 lines about an abandoned mailbox not shown",
                                "Stop and &Quit",
                                "&Keep Converting",
                                "Could not create \"%1\"",
                                "The destination folder \"%1\" does not exist. Create it?",
                                "Not put straight into Thunderbird: %1",
                                "Nothing converted: \"%1\" is not a mailbox (it does not begin with \"From \")"}) {
            const QString text = QCoreApplication::translate(kTranslationContext, key);
            QVERIFY2(text != key && !text.isEmpty() && text.count("%1") == QString(key).count("%1")
                         && text.count("%2") == QString(key).count("%2"),
                     key);
            // A quoted name is quoted the Japanese way.
            QVERIFY2(!QString(key).contains("\"%1\"") || (text.contains("「%1」") && !text.contains('"')), qPrintable(text));
        }
        {
            test::Window w;
            w.startButton()->click();
            QVERIFY2(w.resultLabel()->text().startsWith("エラー: 変換元が見つかりません。") && w.startButton()->text() == "開始(&S)",
                     qPrintable(w.resultLabel()->text()));
        }
        QCoreApplication::removeTranslator(translator);
        delete translator;
        setTranslator({});
    }

    // Every fixed text of the window, the status sheet and the choosers has a Japanese
    // translation: a text added without a catalogue entry shows up here in English.
    void japaneseWindowComplete()
    {
        const auto texts = [] {
            test::Window w;
            w.statusSheet()->begin(QString(), QString()); // the sheet's own texts only
            openChooser(w.sourceButton(), "sourceFolderAction");
            openChooser(w.sourceButton(), "sourceFileAction");
            w.destinationButton()->click();
            w.attachmentsFolderButton()->click();
            QStringList all;
            for (const QWidget* widget : w.window.findChildren<QWidget*>()) {
                if (widget->isWindow() && widget->objectName().endsWith("Chooser"))
                    all << widget->windowTitle() + " / " + qobject_cast<const QFileDialog*>(widget)->labelText(QFileDialog::Accept);
                if (qobject_cast<const QFileDialog*>(widget->window()) || widget == w.sourceEdit() || widget == w.destinationEdit()
                    || widget == w.attachmentsFolderEdit() || widget == w.charsetEdit() || widget == w.encodingMenu())
                    continue; // Qt's own dialog, and the user's data
                all << widget->toolTip();
                if (const auto* label = qobject_cast<const QLabel*>(widget))
                    all << label->text();
                else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
                    all << button->text();
                else if (const auto* box = qobject_cast<const QGroupBox*>(widget))
                    all << box->title();
            }
            all.removeAll(QString());
            all.removeAll(QStringLiteral("Tarnwick"));
            return all;
        };
        const QStringList english = texts();
        QTranslator* translator = installTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(translator);
        const QStringList japanese = texts();
        QCoreApplication::removeTranslator(translator);
        delete translator;
        QCOMPARE(japanese.size(), english.size());
        QVERIFY(english.size() > 15);
        for (qsizetype i = 0; i < english.size(); ++i)
            QVERIFY2(japanese[i] != english[i], qPrintable(english[i]));
    }

    // Every button, check box, buddy label and menu of the window has a mnemonic, no
    // letter twice; Japanese texts carry it as "(&X)".
    void mnemonics()
    {
        const auto letters = [](bool japanese) {
            test::Window w;
            QStringList texts;
            for (const QWidget* widget : w.window.findChildren<QWidget*>()) {
                if (widget->window() != &w.window)
                    continue;
                if (const auto* button = qobject_cast<const QAbstractButton*>(widget); button && !button->text().isEmpty())
                    texts << button->text(); // not the menu bar's own icon-only button
                else if (const auto* label = qobject_cast<const QLabel*>(widget); label && label->buddy())
                    texts << label->text();
                else if (const auto* bar = qobject_cast<const QMenuBar*>(widget))
                    for (const QAction* menu : bar->actions())
                        texts << menu->text();
            }
            QStringList found;
            for (const QString& text : texts) {
                const qsizetype at = text.indexOf(QLatin1Char('&'));
                const bool marked = at >= 0 && at + 1 < text.size()
                    && (!japanese || (at > 0 && text[at - 1] == QLatin1Char('(') && text.mid(at + 2, 1) == QLatin1String(")")));
                found << (marked ? text.mid(at + 1, 1).toUpper() : QStringLiteral("none in \"%1\"").arg(text));
            }
            return found;
        };
        for (const bool japanese : {false, true}) {
            QTranslator* translator = japanese ? installTranslations(QLocale(QLocale::Japanese, QLocale::Japan)) : nullptr;
            QStringList found = letters(japanese);
            if (translator) {
                QCoreApplication::removeTranslator(translator);
                delete translator;
            }
            QVERIFY(found.size() >= 20);
            for (const QString& letter : found)
                QVERIFY2(letter.size() == 1 && found.count(letter) == 1, qPrintable(letter));
        }
    }
};

class JobTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void init() { test::resetStore(); }

    // Disabled controls are stored too, a mixed check box as off, the menu's tag as the
    // identifier's signed 32-bit pattern; the next run shows it all again.
    void startWritesEveryControl()
    {
        const QString source = dir_.path() + "/in", destination = dir_.path() + "/out";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(destination));
        test::writeFile(source + "/In", test::mailbox(3));
        test::Window w;
        w.window.show();
        w.sourceEdit()->setText(source + "/");
        w.destinationEdit()->setText(destination);
        w.charsetEdit()->setText("x");
        QTest::keyClicks(w.charsetEdit(), ",utf-8 ,, tis-620"); // a pending edit: Start normalises it
        w.convertEncodingsBox()->setCheckState(Qt::PartiallyChecked);
        QVERIFY(!w.encodingMenu()->isEnabled() && !w.charsetEdit()->isEnabled() && !w.eudoraTagsBox()->isEnabled());
        const int highIndex = w.encodingMenu()->findData(int(kEncodingMacJapanese));
        QVERIFY(highIndex >= 0);
        w.encodingMenu()->setCurrentIndex(highIndex);
        w.eudoraTagsBox()->setCheckState(Qt::Checked);
        w.lineEndingsBox()->setCheckState(Qt::PartiallyChecked);
        w.dateHeadersBox()->setCheckState(Qt::Checked);
        w.emptyLinesBox()->setCheckState(Qt::Unchecked);
        w.resultLabel()->setText("old");
        w.startButton()->click();
        QVERIFY(w.statusSheet()->isVisible() && w.statusSheet()->windowModality() == Qt::WindowModal);
        QVERIFY(w.isBusy() && w.progressBar()->isVisible() && w.resultLabel()->text().isEmpty());
        QCOMPARE(w.titleLabel()->text(), "Converting Mbox files...");
        QCOMPARE(w.charsetEdit()->text(), "x, utf-8, , tis-620");
        QCOMPARE(*store().stringValue(keys::kSourcePath), (source + "/").toStdString());
        QCOMPARE(*store().stringValue(keys::kDestinationPath), destination.toStdString());
        QCOMPARE(store().integerValue(keys::kMboxEncoding), int(kEncodingMacJapanese));
        QCOMPARE(*store().stringListValue(keys::kCharsetNames), (std::vector<std::string>{"x", "utf-8", "", "tis-620"}));
        QVERIFY(test::waitForJobEnd(w));
        QCOMPARE(w.resultLabel()->text() + "|" + w.messageLabel()->text(), "Converted 1 mailbox, 3 messages|Processing \"In\"...");
        QVERIFY(QFileInfo(destination + "/In").size() > 0);
        test::Window next;
        QCOMPARE(next.encodingMenu()->currentIndex(), highIndex);
        QCOMPARE(next.charsetEdit()->text(), "x, utf-8, , tis-620");
        QCOMPARE(checkStates(next), "02020"); // the mixed boxes stored as off
    }

    // The attachments check box and its folder: shown from the store, the folder
    // controls enabled only with the box on, stored at Start and used by the job.
    void attachmentsFromTheWindow()
    {
        const QString source = dir_.path() + "/mail", elsewhere = dir_.path() + "/elsewhere", destination = dir_.path() + "/att";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(elsewhere) && QDir().mkpath(destination));
        test::writeFile(source + "/In",
                        "From a Mon Jan  1 00:00:00 2001\r\nSubject: s\r\n\r\nText\r\n"
                        "Attachment Converted: \"c:\\eudora\\attach\\a.txt\"\r\n");
        test::writeFile(elsewhere + "/a.txt", "attached");
        store().setBool(keys::kPutBackAttachments, false);
        store().setStringList(keys::kAttachmentFolders, {"~/somewhere"});
        test::Window w;
        w.window.show();
        QCOMPARE(w.attachmentsBox()->checkState(), Qt::Unchecked);
        QCOMPARE(w.attachmentsFolderEdit()->text(), "~/somewhere");
        QVERIFY(!w.attachmentsFolderEdit()->isEnabled() && !w.attachmentsFolderButton()->isEnabled());
        w.attachmentsBox()->setCheckState(Qt::Checked);
        QVERIFY(w.attachmentsFolderEdit()->isEnabled() && w.attachmentsFolderButton()->isEnabled());

        w.attachmentsFolderEdit()->setText(dir_.path() + "/");
        w.attachmentsFolderButton()->click();
        auto* chooser = w.window.findChild<QFileDialog*>(QStringLiteral("attachmentsFolderChooser"));
        QVERIFY(chooser && chooser->isVisible() && chooser->fileMode() == QFileDialog::Directory);
        QCOMPARE(QFileInfo(chooser->directory().path()).canonicalFilePath(), QFileInfo(dir_.path()).canonicalFilePath());
        chooser->selectFile(elsewhere);
        chooser->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
        QCOMPARE(QFileInfo(w.attachmentsFolderEdit()->text()).canonicalFilePath(), QFileInfo(elsewhere).canonicalFilePath());

        w.sourceEdit()->setText(source + "/In");
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QCOMPARE(w.resultLabel()->text(), "Converted 1 mailbox, 1 message");
        QVERIFY(store().boolValue(keys::kPutBackAttachments));
        const auto folders = store().stringListValue(keys::kAttachmentFolders).value_or(std::vector<std::string>{});
        QCOMPARE(folders.size(), std::size_t{1});
        QFile output(destination + "/In");
        QVERIFY(output.open(QIODevice::ReadOnly));
        const QByteArray converted = output.readAll();
        QVERIFY2(converted.contains("filename=\"a.txt\"") && converted.contains("YXR0YWNoZWQ="), converted.constData());

        w.attachmentsBox()->setCheckState(Qt::Unchecked);
        w.attachmentsFolderEdit()->clear();
        w.destinationEdit()->setText(destination + "/plain");
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QVERIFY(!store().boolValue(keys::kPutBackAttachments));
        QVERIFY(store().stringListValue(keys::kAttachmentFolders).value_or(std::vector<std::string>{"x"}).empty());
        QFile plain(destination + "/plain");
        QVERIFY(plain.open(QIODevice::ReadOnly));
        QVERIFY(plain.readAll().contains("Attachment Converted:"));
    }

    // Eudora's records and the layout: shown from the store, stored at Start, used by
    // the job; what the job passed over shows below the options.
    void eudoraRecordsAndLayoutFromTheWindow()
    {
        const QString source = dir_.path() + "/eudora", destination = dir_.path() + "/records";
        QVERIFY(QDir().mkpath(source + "/WORK.FOL") && QDir().mkpath(destination));
        test::writeFile(source + "/descmap.pce", "Out,OUT.MBX,S,N\r\nWork,WORK.FOL,F,N\r\n");
        test::writeFile(source + "/WORK.FOL/descmap.pce", "Project Alpha,PROJECTA.MBX,M,N\r\n");
        test::writeFile(source + "/WORK.FOL/PROJECTA.MBX", "From a Mon Jan  1 00:00:00 2001\r\nSubject: s\r\n\r\nText\r\n");
        test::writeFile(source + "/OUT.MBX", "");
        store().setBool(keys::kUseEudoraRecords, false);
        store().setString(keys::kOutputLayout, "tree");
        test::Window w;
        w.window.show();
        QCOMPARE(w.eudoraRecordsBox()->checkState(), Qt::Unchecked);
        QCOMPARE(w.layoutMenu()->currentData().toString(), "tree");
        QVERIFY(w.summaryLabel()->isHidden());

        w.eudoraRecordsBox()->setCheckState(Qt::Checked);
        w.sourceEdit()->setText(source);
        w.destinationEdit()->setText(destination);
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QCOMPARE(w.resultLabel()->text(), "Converted 1 mailbox, 1 message");
        QVERIFY(store().boolValue(keys::kUseEudoraRecords));
        QVERIFY(QFileInfo::exists(destination + "/Work/Project Alpha.MBX"));
        QCOMPARE(w.summaryLabel()->text(),
                 "Work/Project Alpha (messages: 1)\nMailboxes converted: 1, messages: 1\n"
                 "Eudora's own files not converted: 2\nOut: empty\nWritten:\n"
                 "Work/Project Alpha -> Work/Project Alpha.MBX: messages 1, read 0, replied 0, "
                 "forwarded 0, attachments 0");
        QVERIFY(w.window.detailsText().contains(w.summaryLabel()->text()) && w.detailsButton()->isVisible());

        w.layoutMenu()->setCurrentIndex(w.layoutMenu()->findData(QStringLiteral("flat")));
        w.destinationEdit()->setText(destination + "/flat");
        QVERIFY(QDir().mkpath(destination + "/flat"));
        w.startButton()->click();
        QVERIFY(test::waitForJobEnd(w));
        QCOMPARE(store().stringValue(keys::kOutputLayout).value_or(std::string()), std::string("flat"));
        QVERIFY(QFileInfo::exists(destination + "/flat/Work:Project Alpha.MBX"));
    }

    // Cancel, or quitting (the window cancels and joins its job), while the first
    // of two large files converts: that file is finished and kept, the second never started.
    void cancelBetweenFiles()
    {
        const QString source = dir_.path() + "/big";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(dir_.path() + "/cancel") && QDir().mkpath(dir_.path() + "/quit"));
        test::writeFile(source + "/One", test::mailbox(30000)); // about 45 MB each
        test::writeFile(source + "/Two", test::mailbox(30000));
        for (const QString& destination : {dir_.path() + "/cancel", dir_.path() + "/quit"}) {
            auto w = std::make_unique<test::Window>();
            w->window.show();
            w->sourceEdit()->setText(source);
            w->destinationEdit()->setText(destination);
            // The job waits at its first file until the cancel is requested, however fast
            // it converts: on the job's thread, before the file's conversion begins.
            JobRunner* job = w->job();
            bool held = false;
            connect(
                job, &JobRunner::statusChanged, job,
                [job, &held](const QString& text) {
                    if (held || !text.startsWith("Processing"))
                        return;
                    held = true;
                    for (int i = 0; i < 3000 && !job->isCancelRequested(); ++i)
                        QThread::msleep(10);
                },
                Qt::DirectConnection);
            w->startButton()->click();
            QVERIFY(QTest::qWaitFor([&] { return w->messageLabel()->text().startsWith("Processing"); }, 30000));
            const QString first = w->messageLabel()->text().section('"', 1, 1);
            if (destination.endsWith("/quit")) {
                w.reset();
            } else {
                QTest::mouseClick(w->cancelButton(), Qt::LeftButton);
                QVERIFY(w->cancelButton()->isEnabled() && w->job()->isCancelRequested());
                QVERIFY(test::waitForJobEnd(*w, 240000));
                QCOMPARE(w->resultLabel()->text().section(' ', 0, 0) + "|" + w->messageLabel()->text(),
                         QStringLiteral("Canceled|Processing \"%1\"...").arg(first));
                QVERIFY(w->cancelButton()->isEnabled() && !w->job()->isCancelRequested());
            }
            QVERIFY2(QFileInfo(destination + "/" + first).size() > 0, qPrintable(destination));
            QVERIFY2(QDir(destination).entryList(QDir::Files) == QStringList{first}, qPrintable(destination));
        }
    }
};

static tarnwick::test::RegisterTest<ChooserTest> registerChooserTest("ChooserTest");
static tarnwick::test::RegisterTest<MainWindowTest> registerMainWindowTest("MainWindowTest");
static tarnwick::test::RegisterTest<JobTest> registerJobTest("JobTest");

#include "AppTest.moc"
