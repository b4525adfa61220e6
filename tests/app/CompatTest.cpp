// The toolkit compatibility switches: version gates, New Folder, trimming.

#include "TestSupport.h"

#include "app/OpenPanel.h"
#include "app/ToolkitCompat.h"

#include <QTest>
#include <QToolButton>

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace tarnwick;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

class CompatTest : public QObject {
    Q_OBJECT
private slots:
    void versionGates_data()
    {
        QTest::addColumn<double>("version");
        QTest::addColumn<double>("threshold");
        QTest::addColumn<bool>("publicOperation");
        QTest::newRow("toolkit 663.0") << 663.0 << kToolkitCreateDirectoriesThreshold << false;
        QTest::newRow("toolkit 663.6") << 663.6 << kToolkitCreateDirectoriesThreshold << false;
        QTest::newRow("toolkit 664.0") << 664.0 << kToolkitCreateDirectoriesThreshold << true;
        QTest::newRow("toolkit NaN") << kNaN << kToolkitCreateDirectoriesThreshold << true;
        QTest::newRow("foundation 462.0") << 462.0 << kFoundationTrimmingThreshold << false;
        QTest::newRow("foundation 462.9") << 462.9 << kFoundationTrimmingThreshold << false;
        QTest::newRow("foundation 463.0") << 463.0 << kFoundationTrimmingThreshold << true;
        QTest::newRow("foundation NaN") << kNaN << kFoundationTrimmingThreshold << true;
        QTest::newRow("running toolkit") << toolkitVersionNumber() << kToolkitCreateDirectoriesThreshold << true;
        QTest::newRow("running foundation") << foundationVersionNumber() << kFoundationTrimmingThreshold << true;
    }

    void versionGates()
    {
        QFETCH(double, version);
        QFETCH(double, threshold);
        QFETCH(bool, publicOperation);
        QCOMPARE(takesPublicOperation(version, threshold), publicOperation);
    }

    // Both ways must leave the same New Folder button, enabled exactly when on; only
    // the public way touches the ReadOnly option.
    void canCreateDirectories_data()
    {
        QTest::addColumn<double>("version");
        QTest::addColumn<bool>("flag");
        for (double version : {663.0, 663.6, 664.0, kNaN}) {
            for (bool flag : {true, false}) {
                const QByteArray name = QByteArray::number(version) + (flag ? " on" : " off");
                QTest::newRow(name.constData()) << version << flag;
            }
        }
    }

    void canCreateDirectories()
    {
        QFETCH(double, version);
        QFETCH(bool, flag);
        OpenPanel panel(nullptr);
        panel.setOption(QFileDialog::ReadOnly, false);
        ZQAK_setCanCreateDirectories(panel, !flag, version);
        ZQAK_setCanCreateDirectories(panel, flag, version);
        auto* button = panel.findChild<QToolButton*>(QStringLiteral("newFolderButton"));
        QVERIFY(button);
        QCOMPARE(button->isEnabled(), flag);
        QVERIFY(button->isVisibleTo(&panel));
        const bool publicPath = takesPublicOperation(version, kToolkitCreateDirectoriesThreshold);
        QCOMPARE(panel.testOption(QFileDialog::ReadOnly), publicPath && !flag);
    }

    void trimming_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("blanks, tab, line feed") << QStringLiteral("  abc\t\n") << QStringLiteral("abc");
        QTest::newRow("only blanks") << QStringLiteral("   ") << QString();
        QTest::newRow("nothing to trim") << QStringLiteral("abc") << QStringLiteral("abc");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("blank inside") << QStringLiteral("a b") << QStringLiteral("a b");
        QTest::newRow("wide spaces") << QStringLiteral("\u3000\u00A0x y\u2028\u0085\u202F") << QStringLiteral("x y");
        QTest::newRow("not white space") << QStringLiteral("\u200Bx\uFEFF") << QStringLiteral("\u200Bx\uFEFF");
    }

    void trimming()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const CharacterSet& set = CharacterSet::whitespaceAndNewlineCharacterSet();
        for (double version : {462.0, 462.9, 463.0, kNaN}) {
            const QString trimmed = ZQ_stringByTrimmingCharactersInSet(text, &set, version);
            QVERIFY2(trimmed == expected, qPrintable(QStringLiteral("version %1: [%2]").arg(version).arg(trimmed)));
        }
    }

    // The own trimming tests single UTF-16 units: a set holding a high surrogate cuts
    // a character outside the BMP in half.
    void trimmingByCodeUnit()
    {
        const CharacterSet highSurrogate(u"\xD83D");
        const QString text = QString::fromUtf16(u"\U0001F600x\U0001F600");
        QCOMPARE(ZQ_stringByTrimmingCharactersInSet(text, &highSurrogate, 462.0), QString::fromUtf16(u"\xDE00x\xD83D\xDE00"));
        const CharacterSet lowSurrogate(u"\xDE00");
        QCOMPARE(ZQ_stringByTrimmingCharactersInSet(text, &lowSurrogate, 462.0), QString::fromUtf16(u"\xD83D\xDE00x\xD83D"));
    }

    void absentSet()
    {
        try {
            ZQ_stringByTrimmingCharactersInSet(QStringLiteral(" a "), nullptr, 462.0);
            QFAIL("no exception");
        } catch (const std::invalid_argument& error) {
            QCOMPARE(QString::fromUtf8(error.what()),
                     QStringLiteral("*** -[QString ZQ_stringByTrimmingCharactersInSet:]: nil character set argument"));
        }
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, ZQ_stringByTrimmingCharactersInSet(QString(), nullptr, 463.0));
    }
};

static tarnwick::test::RegisterTest<CompatTest> registerCompatTest("CompatTest");

#include "CompatTest.moc"
