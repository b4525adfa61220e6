// The controller without a job: start-up from the store, the encoding menu, the
// charset field, validation, endProcess and the status sheet.

#include "TestSupport.h"

#include "app/AppTranslations.h"
#include "app/StatusSheet.h"
#include "platform/SettingsStore.h"
#include "platform/Localization.h"
#include "platform/TextEncoding.h"
#include "settings/SettingsKeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

#include <cstdint>

using namespace tarnwick;

namespace {

SettingsStore& store()
{
    return SettingsStore::standard();
}

QStringList menuTitles(const QComboBox* menu)
{
    QStringList titles;
    for (int i = 0; i < menu->count(); ++i)
        titles << menu->itemText(i);
    return titles;
}

// The first available encoding at or above 2^31 that has a name.
std::optional<EncodingId> highEncoding()
{
    if (localizedEncodingName(kEncodingMacJapanese))
        return kEncodingMacJapanese;
    for (EncodingId id : availableEncodings()) {
        if (id >= 0x80000000u && localizedEncodingName(id))
            return id;
    }
    return std::nullopt;
}

} // namespace

class ControllerTest : public QObject {
    Q_OBJECT
private slots:
    void init() { test::resetStore(); }

    void startupFromStore()
    {
        store().setString(keys::kSourcePath, "~/Mail");
        store().setString(keys::kDestinationPath, "/tmp/Out");
        store().setBool(keys::kConvertEncodings, false);
        store().setInteger(keys::kMboxEncoding, kEncodingShiftJIS);
        store().setStringArray(keys::kCharsetNames, {"utf-8", "tis-620", "shift_jis"});
        store().setBool(keys::kProcessEudoraTags, true);
        store().setBool(keys::kConvertLineEndings, false);
        store().setBool(keys::kComplementDateHeaders, true);
        store().setBool(keys::kAddEmptyLines, false);

        test::Window w;
        Controller& c = w.controller;
        c._resultField->setText("old");
        c.awakeFromNib();
        QCOMPARE(c._sourceField->text(), QStringLiteral("~/Mail"));
        QCOMPARE(c._destinationField->text(), QStringLiteral("/tmp/Out"));
        QCOMPARE(c._convertEncodingCheckBox->checkState(), Qt::Unchecked);
        QCOMPARE(c._encodingPopUp->currentData().toInt(), int(kEncodingShiftJIS));
        QCOMPARE(c._charsetField->text(), QStringLiteral("utf-8, tis-620, shift_jis"));
        QCOMPARE(c._eudoraCheckBox->checkState(), Qt::Checked);
        QCOMPARE(c._convertLineEndingsCheckBox->checkState(), Qt::Unchecked);
        QCOMPARE(c._complementDateCheckBox->checkState(), Qt::Checked);
        QCOMPARE(c._addEmptyLineCheckBox->checkState(), Qt::Unchecked);
        // The convert check box is off: its three controls are disabled.
        QVERIFY(!c._encodingPopUp->isEnabled() && !c._charsetField->isEnabled() && !c._eudoraCheckBox->isEnabled());
        QCOMPARE(c._resultField->text(), QString());
        QVERIFY(c._progressIndicator->isHidden());
    }

    // With nothing stored the bundled defaults show, and the menu selects the system
    // encoding (UTF-8 under C.UTF-8).
    void startupFromDefaults()
    {
        test::Window w;
        Controller& c = w.controller;
        c.awakeFromNib();
        QCOMPARE(c._sourceField->text(), QString());
        QCOMPARE(c._convertEncodingCheckBox->checkState(), Qt::Checked);
        QVERIFY(c._encodingPopUp->isEnabled() && c._charsetField->isEnabled() && c._eudoraCheckBox->isEnabled());
        QCOMPARE(c._charsetField->text(), QStringLiteral("us-ascii, iso-8859-1, utf-8"));
        QCOMPARE(c._encodingPopUp->currentData().toInt(), int(kEncodingUTF8));
    }

    // The frame goes into the user's store as bytes and comes back in the next run.
    void frameRestored()
    {
        store().setPersistentBackend(makeUserSettingsBackend());
        QByteArray saved;
        {
            test::Window w;
            w.controller.awakeFromNib();
            w.window.resize(731, 517);
            w.window.move(23, 41);
            saved = w.window.saveGeometry();
            w.window.close(); // saves the frame
            store().sync();
        }
        store().setPersistentBackend(makeUserSettingsBackend());
        QCOMPARE(QByteArray::fromStdString(store().stringForKey(kFrameAutosaveName).value_or("")), saved);
        test::Window w;
        w.controller.awakeFromNib();
        QCOMPARE(w.window.size(), QSize(731, 517));
    }

    void menuOrderAndTags()
    {
        test::Window w;
        w.controller.awakeFromNib();
        const QComboBox* menu = w.controller._encodingPopUp;
        // Every named encoding once, in any order of the table.
        QList<int> expectedTags;
        for (EncodingId id : availableEncodings()) {
            if (localizedEncodingName(id))
                expectedTags << static_cast<std::int32_t>(id);
        }
        QList<int> tags;
        for (int i = 0; i < menu->count(); ++i) {
            tags << menu->itemData(i).toInt();
            QCOMPARE(menu->itemText(i).toStdString(), *localizedEncodingName(static_cast<EncodingId>(tags.last())));
        }
        QVERIFY(menu->count() > 10);
        std::sort(expectedTags.begin(), expectedTags.end());
        std::sort(tags.begin(), tags.end());
        QCOMPARE(tags, expectedTags);
        // Ascending by UTF-16 code units (canonically equivalent names count as equal).
        const QStringList titles = menuTitles(menu);
        for (int i = 1; i < titles.size(); ++i) {
            const QString a = titles[i - 1].normalized(QString::NormalizationForm_D);
            const QString b = titles[i].normalized(QString::NormalizationForm_D);
            QVERIFY2(QString::compare(a, b, Qt::CaseSensitive) <= 0, qPrintable(titles[i - 1] + " > " + titles[i]));
        }
    }

    void menuSelection_data()
    {
        QTest::addColumn<qint64>("setting");
        QTest::addColumn<qint64>("expectedTag"); // 0: the first item
        QTest::newRow("Shift_JIS") << qint64(kEncodingShiftJIS) << qint64(kEncodingShiftJIS);
        QTest::newRow("unknown identifier") << qint64(0x7FFFFFF0) << qint64(0);
        QTest::newRow("zero") << qint64(0) << qint64(0);
        QTest::newRow("beyond 32 bits") << (qint64(1) << 32 | kEncodingShiftJIS) << qint64(0);
        if (const auto high = highEncoding()) {
            const qint64 tag = static_cast<std::int32_t>(*high);
            QTest::newRow("high identifier, unsigned") << qint64(*high) << tag;
            QTest::newRow("high identifier, signed") << tag << tag;
        }
    }

    void menuSelection()
    {
        QFETCH(qint64, setting);
        QFETCH(qint64, expectedTag);
        store().setInteger(keys::kMboxEncoding, setting);
        test::Window w;
        w.controller.awakeFromNib();
        const QComboBox* menu = w.controller._encodingPopUp;
        if (expectedTag == 0)
            QCOMPARE(menu->currentIndex(), 0);
        else
            QCOMPARE(menu->currentData().toLongLong(), expectedTag);
    }

    void charsetNormalisation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("bare commas, blanks") << "utf-8 ,tis-620,  shift_jis" << "utf-8, tis-620, shift_jis";
        QTest::newRow("tabs and line breaks") << "\tutf-8\n,\r\ntis-620\u3000" << "utf-8, tis-620";
        QTest::newRow("blank inside a name") << " x y , z" << "x y, z";
        QTest::newRow("empty name between commas") << "a, ,b" << "a, , b";
        QTest::newRow("trailing comma") << "a," << "a, ";
        QTest::newRow("only blanks") << " \t\n " << "";
        QTest::newRow("empty") << "" << "";
    }

    void charsetNormalisation()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        test::Window w;
        Controller& c = w.controller;
        c._charsetField->setText(text);
        c._sourceField->setText(text);
        c.controlTextDidEndEditing(c._sourceField);
        QCOMPARE(c._charsetField->text(), text); // another field ends: untouched
        QCOMPARE(c._sourceField->text(), text);
        c.controlTextDidEndEditing(c._charsetField);
        QCOMPARE(c._charsetField->text(), expected);
    }

    void validation_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("sourceStored");
        QTest::newRow("empty source") << "" << "/tmp" << "Error: Source not found" << false;
        QTest::newRow("missing source") << "~/no such mailbox" << "/tmp" << "Error: Source not found" << false;
        QTest::newRow("empty destination") << "~" << "" << "Error: Destination not found" << true;
    }

    void validation()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(QString, result);
        QFETCH(bool, sourceStored);
        store().setString(keys::kDestinationPath, "before");
        store().setBool(keys::kAddEmptyLines, true);
        test::Window w;
        Controller& c = w.controller;
        c._sourceField->setText(source);
        c._destinationField->setText(destination);
        c._addEmptyLineCheckBox->setCheckState(Qt::Unchecked);
        c.controlClicked(c._startButton);
        QCOMPARE(c._resultField->text(), result);
        QVERIFY(!c._statusWindow->isVisible());
        QCOMPARE(store().stringForKey(keys::kSourcePath).has_value(), sourceStored);
        if (sourceStored)
            QCOMPARE(QString::fromStdString(*store().stringForKey(keys::kSourcePath)), source);
        QCOMPARE(*store().stringForKey(keys::kDestinationPath), std::string("before"));
        QVERIFY(store().boolForKey(keys::kAddEmptyLines));
    }

    void mixedConvertCheckBox()
    {
        test::Window w;
        Controller& c = w.controller;
        c.awakeFromNib();
        c._convertEncodingCheckBox->setCheckState(Qt::PartiallyChecked);
        c.controlClicked(c._convertEncodingCheckBox);
        QVERIFY(!c._encodingPopUp->isEnabled() && !c._charsetField->isEnabled() && !c._eudoraCheckBox->isEnabled());
        c._convertEncodingCheckBox->setCheckState(Qt::Checked);
        c.controlClicked(c._convertEncodingCheckBox);
        QVERIFY(c._encodingPopUp->isEnabled() && c._charsetField->isEnabled() && c._eudoraCheckBox->isEnabled());
    }

    void cancelAndEndProcess()
    {
        test::Window w;
        Controller& c = w.controller;
        c.awakeFromNib();
        w.window.show();
        c._progressIndicator->startAnimation();
        c._statusWindow->beginSheet();
        QVERIFY(c._statusWindow->isVisible());

        // Escape on the sheet acts as Cancel and keeps the sheet up.
        QTest::keyClick(c._statusWindow, Qt::Key_Escape);
        QVERIFY(!c._cancelButton->isEnabled());
        QVERIFY(c._hasCanceled);
        QVERIFY(c._statusWindow->isVisible());
        c.controlClicked(c._cancelButton);
        QVERIFY(!c._cancelButton->isEnabled());

        c.endProcess(QStringLiteral("Canceled"));
        QVERIFY(!c._statusWindow->isVisible());
        QVERIFY(c._cancelButton->isEnabled());
        QVERIFY(!c._hasCanceled);
        QVERIFY(!c._progressIndicator->isAnimating() && c._progressIndicator->isHidden());
        QCOMPARE(c._resultField->text(), QStringLiteral("Canceled"));
        c.endProcess(QString());
        QCOMPARE(c._resultField->text(), QString());
    }

    // The Japanese catalogue covers the window's and the core's texts.
    void japanese()
    {
        QTranslator* translator = installTranslations(QLocale(QLocale::Japanese, QLocale::Japan));
        QVERIFY(translator);
        routeCoreTextsThroughQt();
        const char* keys[] = {
            "\"%@\" not found", "\"%@\" is not a directory", "\"%@\" already exists", "Could not create \"%@\"",
            "Processing \"%@\"...", "Error: %@", "Canceled", "Completed", "Could not open \"%@\"",
            "Could not write to \"%@\": %@", "Source not found", "Destination not found",
            "Converting Mbox files...", "Waiting...", "Start", "Cancel", "Source:", "Destination:",
        };
        for (const char* key : keys) {
            const QString text = QCoreApplication::translate(kTranslationContext, key);
            QVERIFY2(text != QString::fromUtf8(key) && !text.isEmpty(), key);
            QCOMPARE(text.count(QStringLiteral("%@")), QString::fromUtf8(key).count(QStringLiteral("%@")));
        }
        {
            test::Window w;
            w.controller.controlClicked(w.controller._startButton);
            QCOMPARE(w.controller._resultField->text(), QStringLiteral("エラー: 変換元が見つかりません"));
            QCOMPARE(w.controller._startButton->text(), QStringLiteral("開始"));
        }
        QCoreApplication::removeTranslator(translator);
        delete translator;
        setTranslator({});
    }
};

static tarnwick::test::RegisterTest<ControllerTest> registerControllerTest("ControllerTest");

#include "ControllerTest.moc"
