// The source and destination choosers.

#include "app/ChooserStart.h"
#include "app/Controller.h"
#include "app/OpenPanel.h"
#include "app/ToolkitCompat.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>

namespace tarnwick {

void Controller::openChooser(QPushButton* button)
{
    const bool isSource = button == _sourceSelectButton;
    auto* panel = new OpenPanel(_window);
    panel->setWindowTitle(isSource ? QCoreApplication::translate("Tarnwick", "Choose a Mailbox File or Folder")
                                   : QCoreApplication::translate("Tarnwick", "Choose the Destination"));
    panel->setLabelText(QFileDialog::Accept, QCoreApplication::translate("Tarnwick", "Choose"));
    panel->setTreatsFilePackagesAsDirectories(isSource);
    panel->setResolvesAliases(true);
    panel->setCanChooseDirectories(true);
    panel->setAllowsMultipleSelection(false);
    panel->setCanChooseFiles(isSource);
    ZQAK_setCanCreateDirectories(*panel, !isSource);

    const QLineEdit* field = isSource ? _sourceField : _destinationField;
    const ChooserStart start = chooserStartLocation(isSource ? ChooserKind::Source : ChooserKind::Destination,
                                                    QFile::encodeName(field->text()).toStdString());
    const auto text = [](const std::optional<std::string>& bytes) {
        return bytes ? QFile::decodeName(QByteArray::fromStdString(*bytes)) : QString();
    };
    panel->beginSheet(text(start.folder), text(start.name), _window,
                      [this, button](OpenPanel* ended, int returnCode) { openPanelDidEnd(ended, returnCode, button); });
}

void Controller::openPanelDidEnd(OpenPanel* panel, int returnCode, QObject* contextInfo)
{
    QLineEdit* field = nullptr;
    if (contextInfo == _sourceSelectButton)
        field = _sourceField;
    else if (contextInfo == _destinationSelectButton)
        field = _destinationField;
    if (!field || returnCode != 1)
        return;
    const QStringList chosen = panel->filenames();
    if (chosen.isEmpty()) {
        field->setText(QString());
        return;
    }
    const std::string abbreviated = abbreviateWithTilde(QFile::encodeName(chosen.last()).toStdString());
    field->setText(QFile::decodeName(QByteArray::fromStdString(abbreviated)));
}

} // namespace tarnwick
