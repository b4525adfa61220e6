// The choosers: start locations from the field text, the panels' configuration, and
// what a chosen path puts into the field.

#include "TestSupport.h"

#include "app/ChooserStart.h"
#include "app/OpenPanel.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace tarnwick;

class ChooserTest : public QObject {
    Q_OBJECT
private:
    QString home_;

    static std::string bytes(const QString& text) { return text.toStdString(); }

    OpenPanel* openChooser(test::Window& w, QPushButton* button)
    {
        w.controller.controlClicked(button);
        for (auto* panel : w.window.findChildren<OpenPanel*>()) {
            if (panel->isVisible())
                return panel;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        home_ = QDir::homePath(); // the private home that main set up
        QVERIFY(QDir(home_).mkpath("Mail/Sub"));
        test::writeFile(home_ + "/Mail/In", "From a\n");
    }

    void init() { test::resetStore(); }

    void startLocation_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("source");
        QTest::addColumn<QString>("folder"); // empty: none
        QTest::addColumn<QString>("name");
        const QString mail = QDir::homePath() + "/Mail";
        QTest::newRow("source: folder") << mail << true << mail << "";
        QTest::newRow("source: folder with tilde and slash") << "~/Mail/" << true << mail << "";
        QTest::newRow("source: file") << mail + "/In" << true << mail << "In";
        QTest::newRow("source: file, dotted path") << mail + "/Sub/../In" << true << mail << "In";
        QTest::newRow("source: missing file in a folder") << mail + "/Out" << true << mail << "";
        QTest::newRow("source: missing folder") << mail + "/None/Out" << true << "" << "";
        QTest::newRow("source: empty") << "" << true << "" << "";
        QTest::newRow("source: bare name") << "Nowhere" << true << "" << "";
        QTest::newRow("destination: folder") << mail << false << mail << "";
        QTest::newRow("destination: file, no name") << mail + "/In" << false << mail << "";
        QTest::newRow("destination: missing in a folder") << "~/Mail/New" << false << mail << "";
        QTest::newRow("destination: empty") << "" << false << "" << "";
    }

    void startLocation()
    {
        QFETCH(QString, field);
        QFETCH(bool, source);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        const ChooserStart start = chooserStartLocation(source ? ChooserKind::Source : ChooserKind::Destination, bytes(field));
        QCOMPARE(QString::fromStdString(start.folder.value_or("")), folder);
        QCOMPARE(start.folder.has_value(), !folder.isEmpty());
        QCOMPARE(QString::fromStdString(start.name.value_or("")), name);
        QCOMPARE(start.name.has_value(), !name.isEmpty());
    }

    void sourceChooser()
    {
        test::Window w;
        w.controller._sourceField->setText("~/Mail/In");
        OpenPanel* panel = openChooser(w, w.controller._sourceSelectButton);
        QVERIFY(panel);
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->windowModality(), Qt::WindowModal);
        QVERIFY(panel->canChooseFiles() && panel->canChooseDirectories());
        QVERIFY(!panel->allowsMultipleSelection());
        QVERIFY(panel->resolvesAliases());
        QVERIFY(panel->testOption(QFileDialog::DontUseNativeDialog));
        QCOMPARE(panel->fileMode(), QFileDialog::ExistingFile);
        QVERIFY(!panel->findChild<QToolButton*>("newFolderButton")->isEnabled());
        QCOMPARE(panel->directory().absolutePath(), home_ + "/Mail");
        QCOMPARE(panel->selectedFiles(), QStringList{home_ + "/Mail/In"});

        // One dialog chooses a folder too: Open on a selected folder picks it.
        panel->selectFile(home_ + "/Mail/Sub");
        panel->accept();
        QCOMPARE(w.controller._sourceField->text(), QStringLiteral("~/Mail/Sub"));
    }

    void destinationChooser()
    {
        test::Window w;
        w.controller._destinationField->setText(home_ + "/Mail/Missing");
        OpenPanel* panel = openChooser(w, w.controller._destinationSelectButton);
        QVERIFY(panel);
        QVERIFY(!panel->canChooseFiles() && panel->canChooseDirectories());
        QCOMPARE(panel->fileMode(), QFileDialog::Directory);
        QVERIFY(panel->findChild<QToolButton*>("newFolderButton")->isEnabled());
        QCOMPARE(panel->directory().absolutePath(), home_ + "/Mail");

        panel->reject(); // Cancel leaves the field as it was
        QCOMPARE(w.controller._destinationField->text(), home_ + "/Mail/Missing");

        panel = openChooser(w, w.controller._destinationSelectButton);
        QVERIFY(panel);
        panel->setDirectory(home_ + "/Mail/Sub");
        panel->accept(); // nothing selected: the folder shown is chosen
        QCOMPARE(w.controller._destinationField->text(), QStringLiteral("~/Mail/Sub"));
    }

    // Only a choose button selects a field; another context changes nothing.
    void otherContext()
    {
        test::Window w;
        OpenPanel panel(nullptr);
        w.controller._sourceField->setText("keep");
        w.controller.openPanelDidEnd(&panel, 1, w.controller._startButton);
        w.controller.openPanelDidEnd(&panel, 0, w.controller._sourceSelectButton);
        QCOMPARE(w.controller._sourceField->text(), QStringLiteral("keep"));
        w.controller.openPanelDidEnd(&panel, 1, w.controller._sourceSelectButton);
        QCOMPARE(w.controller._sourceField->text(), QString()); // OK with no path
    }
};

static tarnwick::test::RegisterTest<ChooserTest> registerChooserTest("ChooserTest");

#include "ChooserTest.moc"
