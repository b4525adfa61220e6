// The window's tests: chooser start locations and the toolkit gates (CompatTest), the
// controller without a job (ControllerTest), and Start with a real batch job (JobTest).

#include "TestSupport.h"

#include "app/AppTranslations.h"
#include "app/ChooserStart.h"
#include "app/ToolkitCompat.h"
#include "platform/Localization.h"
#include "platform/TextEncoding.h"
#include "settings/SettingsKeys.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QSet>
#include <QTranslator>

#include <algorithm>
#include <limits>
#include <stdexcept>

using namespace tarnwick;
using test::store;

namespace {
// The five check boxes' states as digits (0 off, 1 mixed, 2 on), in window order.
QString checkStates(const Controller& c)
{
    QString states;
    for (const QCheckBox* box : {c._convertEncodingCheckBox, c._eudoraCheckBox, c._convertLineEndingsCheckBox,
                                 c._complementDateCheckBox, c._addEmptyLineCheckBox})
        states += QString::number(box->checkState());
    return states;
}
} // namespace

class CompatTest : public QObject {
    Q_OBJECT
private slots:
    void chooserStartLocation()
    {
        const QString mail = QDir::homePath() + "/Mail"; // the private home main set up
        QVERIFY(QDir(mail).mkpath("Sub"));
        test::writeFile(mail + "/In", "From a\n");
        struct Case { QString field; ChooserKind kind; QString folder, name; }; // empty: none
        const auto S = ChooserKind::Source, D = ChooserKind::Destination;
        const Case cases[] = {{mail, S, mail, ""}, {"~/Mail/", S, mail, ""}, {mail + "/In", S, mail, "In"},
                              {mail + "/Sub/../In", S, mail, "In"}, {mail + "/Out", S, mail, ""}, {mail + "/None/Out", S, "", ""},
                              {"", S, "", ""}, {"Nowhere", S, "", ""}, {mail + "/In", D, mail, ""}, {"~/Mail/New", D, mail, ""}, {"", D, "", ""}};
        for (const Case& c : cases) {
            const ChooserStart start = tarnwick::chooserStartLocation(c.kind, c.field.toStdString());
            const QString got = QString::fromStdString(start.folder.value_or("-") + "|" + start.name.value_or("-"));
            const QString want = (c.folder.isEmpty() ? "-" : c.folder) + "|" + (c.name.isEmpty() ? "-" : c.name);
            QVERIFY2(got == want, qPrintable(QStringLiteral("%1 [%2]: %3").arg(c.kind == S ? "source" : "destination", c.field, got)));
        }
    }

    // Above the threshold's floor or not a number: the public operation.
    void versionGates()
    {
        constexpr double t = kToolkitCreateDirectoriesThreshold, f = kFoundationTrimmingThreshold;
        constexpr double nan = std::numeric_limits<double>::quiet_NaN();
        struct Case { double version, threshold; bool publicOperation; };
        const Case cases[] = {{663.0, t, false}, {663.6, t, false}, {664.0, t, true}, {nan, t, true}, {462.9, f, false},
                              {463.0, f, true}, {nan, f, true}, {toolkitVersionNumber(), t, true}, {foundationVersionNumber(), f, true}};
        for (const Case& c : cases)
            QVERIFY2(takesPublicOperation(c.version, c.threshold) == c.publicOperation,
                     qPrintable(QStringLiteral("version %1, threshold %2").arg(c.version).arg(c.threshold)));
        try {
            ZQ_stringByTrimmingCharactersInSet(QStringLiteral(" a "), nullptr, 462.0);
            QFAIL("no exception");
        } catch (const std::invalid_argument& error) {
            QCOMPARE(QString::fromUtf8(error.what()), "*** -[QString ZQ_stringByTrimmingCharactersInSet:]: nil character set argument");
        }
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ZQ_stringByTrimmingCharactersInSet(QString(), nullptr, 463.0));
    }
};

class ControllerTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::resetStore(); }

    void startupFromStore()
    {
        store().setString(keys::kSourcePath, "~/Mail");
        store().setString(keys::kDestinationPath, "/tmp/Out");
        store().setStringArray(keys::kCharsetNames, {"utf-8", "tis-620", "shift_jis"});
        for (auto [key, value] : {std::pair{keys::kConvertEncodings, false}, {keys::kProcessEudoraTags, true},
                                  {keys::kConvertLineEndings, false}, {keys::kComplementDateHeaders, true}, {keys::kAddEmptyLines, false}})
            store().setBool(key, value);
        test::Window w;
        Controller& c = w.controller;
        c._resultField->setText("old");
        c.awakeFromNib();
        QCOMPARE(c._sourceField->text() + "|" + c._destinationField->text(), "~/Mail|/tmp/Out");
        QCOMPARE(c._charsetField->text(), "utf-8, tis-620, shift_jis");
        QCOMPARE(checkStates(c), "02020");
        // The convert check box is off: its three controls are disabled.
        QVERIFY(!c._encodingPopUp->isEnabled() && !c._charsetField->isEnabled() && !c._eudoraCheckBox->isEnabled());
        QVERIFY(c._resultField->text().isEmpty() && c._progressIndicator->isHidden());
    }

    // Every named encoding once, titles ascending by UTF-16 units (canonically equal
    // titles count as equal); a stored identifier selects by its 32-bit pattern.
    void encodingMenu()
    {
        test::Window w;
        w.controller.awakeFromNib();
        const QComboBox* menu = w.controller._encodingPopUp;
        const auto named = std::ranges::count_if(availableEncodings(), [](EncodingId id) { return localizedEncodingName(id).has_value(); });
        QSet<int> tags;
        for (int i = 0; i < menu->count(); ++i) {
            tags << menu->itemData(i).toInt();
            QCOMPARE(menu->itemText(i).toStdString(), *localizedEncodingName(EncodingId(menu->itemData(i).toInt())));
            QVERIFY2(i == 0 || menu->itemText(i - 1).normalized(QString::NormalizationForm_D)
                                   <= menu->itemText(i).normalized(QString::NormalizationForm_D), qPrintable(menu->itemText(i)));
        }
        QVERIFY(named > 10 && menu->count() == named && tags.size() == named);

        const qint64 high = kEncodingMacJapanese, tag = int(kEncodingMacJapanese); // 0 below: the first item
        const qint64 cases[][2] = {{kEncodingShiftJIS, kEncodingShiftJIS}, {0x7FFFFFF0, 0}, {0, 0},
                                   {qint64(1) << 32 | kEncodingShiftJIS, 0}, {high, tag}, {tag, tag}};
        for (const auto& [setting, want] : cases) {
            store().setInteger(keys::kMboxEncoding, setting);
            test::Window other;
            other.controller.awakeFromNib();
            const QComboBox* m = other.controller._encodingPopUp;
            QVERIFY2(want ? m->currentData().toLongLong() == want : m->currentIndex() == 0, qPrintable(QString::number(setting)));
        }
    }

    void charsetNormalisation()
    {
        const QString cases[][2] = {{"utf-8 ,tis-620,  shift_jis", "utf-8, tis-620, shift_jis"},
                                    {"\tutf-8\n,\r\ntis-620\u3000", "utf-8, tis-620"}, {" x y , z", "x y, z"},
                                    {"a, ,b", "a, , b"}, {"a,", "a, "}, {" \t\n ", ""}};
        test::Window w;
        Controller& c = w.controller;
        for (const auto& [text, expected] : cases) {
            c._charsetField->setText(text);
            c._sourceField->setText(text);
            c.controlTextDidEndEditing(c._sourceField); // another field ends: nothing changes
            QVERIFY2(c._charsetField->text() == text && c._sourceField->text() == text, qPrintable(text));
            c.controlTextDidEndEditing(c._charsetField);
            QVERIFY2(c._charsetField->text() == expected, qPrintable(text));
        }
    }

    // A failed check stores nothing after the source and starts no job.
    void validation()
    {
        const QString cases[][3] = {{"", "/tmp", "Error: Source not found"},
                                    {"~/no such mailbox", "/tmp", "Error: Source not found"},
                                    {"~", "", "Error: Destination not found"}};
        for (const auto& [source, destination, result] : cases) {
            test::resetStore();
            store().setString(keys::kDestinationPath, "before");
            test::Window w;
            Controller& c = w.controller;
            c._sourceField->setText(source);
            c._destinationField->setText(destination);
            c.controlClicked(c._startButton);
            QVERIFY2(c._resultField->text() == result && !c._statusWindow->isVisible(), qPrintable(source));
            const auto stored = result.contains("Destination") ? std::optional(source.toStdString()) : std::nullopt;
            QVERIFY2(store().stringForKey(keys::kSourcePath) == stored, qPrintable(source));
            QVERIFY(*store().stringForKey(keys::kDestinationPath) == "before");
        }
    }

    // Escape on the sheet acts as Cancel and keeps the sheet up until endProcess.
    void cancelAndEndProcess()
    {
        test::Window w;
        Controller& c = w.controller;
        c.awakeFromNib();
        w.window.show();
        c._progressIndicator->startAnimation();
        c._statusWindow->beginSheet();
        QTest::keyClick(c._statusWindow, Qt::Key_Escape);
        QVERIFY(!c._cancelButton->isEnabled() && c._hasCanceled && c._statusWindow->isVisible());
        c.endProcess("Canceled");
        QVERIFY(!c._statusWindow->isVisible() && c._cancelButton->isEnabled() && !c._hasCanceled);
        QVERIFY(!c._progressIndicator->isAnimating() && c._progressIndicator->isHidden());
        QCOMPARE(c._resultField->text(), "Canceled");
        c.endProcess(QString());
        QCOMPARE(c._resultField->text(), QString());
    }

    // The Japanese catalogue covers the window's and the core's texts.
    void japanese()
    {
        QTranslator* translator = installTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(translator);
        routeCoreTextsThroughQt();
        for (const char* key : {"\"%@\" not found", "\"%@\" is not a directory", "\"%@\" already exists", "Could not create \"%@\"",
                                "Processing \"%@\"...", "Error: %@", "Canceled", "Completed", "Could not open \"%@\"",
                                "Could not write to \"%@\": %@", "Destination not found", "Converting Mbox files...", "Waiting..."}) {
            const QString text = QCoreApplication::translate(kTranslationContext, key);
            QVERIFY2(text != key && !text.isEmpty() && text.count("%@") == QString(key).count("%@"), key);
        }
        {
            test::Window w;
            w.controller.controlClicked(w.controller._startButton);
            QCOMPARE(w.controller._resultField->text() + "|" + w.controller._startButton->text(), "エラー: 変換元が見つかりません|開始");
        }
        QCoreApplication::removeTranslator(translator);
        delete translator;
        setTranslator({});
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
        Controller& c = w.controller;
        c.awakeFromNib();
        w.window.show();
        c._sourceField->setText(source + "/");
        c._destinationField->setText(destination);
        c._charsetField->setText("x");
        QTest::keyClicks(c._charsetField, ",utf-8 ,, tis-620"); // a pending edit: Start normalises it
        c._convertEncodingCheckBox->setCheckState(Qt::PartiallyChecked);
        c.controlClicked(c._convertEncodingCheckBox);
        QVERIFY(!c._encodingPopUp->isEnabled() && !c._charsetField->isEnabled() && !c._eudoraCheckBox->isEnabled());
        const int highIndex = c._encodingPopUp->findData(int(kEncodingMacJapanese));
        QVERIFY(highIndex >= 0);
        c._encodingPopUp->setCurrentIndex(highIndex);
        c._eudoraCheckBox->setCheckState(Qt::Checked);
        c._convertLineEndingsCheckBox->setCheckState(Qt::PartiallyChecked);
        c._complementDateCheckBox->setCheckState(Qt::Checked);
        c._addEmptyLineCheckBox->setCheckState(Qt::Unchecked);
        c._resultField->setText("old");
        c.controlClicked(c._startButton);
        QVERIFY(c._statusWindow->isVisible() && c._statusWindow->windowModality() == Qt::WindowModal);
        QVERIFY(c._progressIndicator->isAnimating() && c._progressIndicator->isVisible() && c._resultField->text().isEmpty());
        QCOMPARE(c._titleField->text(), "Converting Mbox files...");
        QCOMPARE(c._charsetField->text(), "x, utf-8, , tis-620");
        QCOMPARE(*store().stringForKey(keys::kSourcePath), (source + "/").toStdString());
        QCOMPARE(*store().stringForKey(keys::kDestinationPath), destination.toStdString());
        QCOMPARE(store().integerForKey(keys::kMboxEncoding), int(kEncodingMacJapanese));
        QCOMPARE(*store().stringArrayForKey(keys::kCharsetNames), (std::vector<std::string>{"x", "utf-8", "", "tis-620"}));
        QVERIFY(test::waitForJobEnd(c));
        QCOMPARE(c._resultField->text() + "|" + c._messageField->text(), "Completed|Processing \"In\"...");
        QVERIFY(QFileInfo(destination + "/In").size() > 0);
        test::Window next;
        next.controller.awakeFromNib();
        QCOMPARE(next.controller._encodingPopUp->currentIndex(), highIndex);
        QCOMPARE(next.controller._charsetField->text(), "x, utf-8, , tis-620");
        QCOMPARE(checkStates(next.controller), "02020"); // the mixed boxes stored as off
    }

    // Cancel, or quitting (the controller cancels and joins its worker), while the first
    // of two large files converts: that file is finished and kept, the second never started.
    void cancelBetweenFiles()
    {
        const QString source = dir_.path() + "/big";
        QVERIFY(QDir().mkpath(source) && QDir().mkpath(dir_.path() + "/cancel") && QDir().mkpath(dir_.path() + "/quit"));
        test::writeFile(source + "/One", test::mailbox(30000)); // about 45 MB each
        test::writeFile(source + "/Two", test::mailbox(30000));
        for (const QString& destination : {dir_.path() + "/cancel", dir_.path() + "/quit"}) {
            auto w = std::make_unique<test::Window>();
            Controller& c = w->controller;
            c.awakeFromNib();
            w->window.show();
            c._sourceField->setText(source);
            c._destinationField->setText(destination);
            c.controlClicked(c._startButton);
            QVERIFY(QTest::qWaitFor([&] { return c._messageField->text().startsWith("Processing"); }, 30000));
            const QString first = c._messageField->text().section('"', 1, 1);
            if (destination.endsWith("/quit")) {
                w.reset();
            } else {
                QTest::mouseClick(c._cancelButton, Qt::LeftButton);
                QVERIFY(!c._cancelButton->isEnabled() && c._hasCanceled);
                QVERIFY(test::waitForJobEnd(c, 240000));
                QCOMPARE(c._resultField->text() + "|" + c._messageField->text(), QStringLiteral("Canceled|Processing \"%1\"...").arg(first));
                QVERIFY(c._cancelButton->isEnabled() && !c._hasCanceled);
            }
            QVERIFY2(QFileInfo(destination + "/" + first).size() > 0, qPrintable(destination));
            QVERIFY2(QDir(destination).entryList(QDir::Files) == QStringList{first}, qPrintable(destination));
        }
    }
};

static tarnwick::test::RegisterTest<CompatTest> registerCompatTest("CompatTest");
static tarnwick::test::RegisterTest<ControllerTest> registerControllerTest("ControllerTest");
static tarnwick::test::RegisterTest<JobTest> registerJobTest("JobTest");

#include "AppTest.moc"
