#include "app/Choosers.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>

namespace tarnwick {
namespace {

// In ExistingFile mode QFileDialog enters a selected folder on Open; this dialog
// chooses it instead.
class FileOrFolderDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList files = selectedFiles();
        const bool allFolders
            = !files.isEmpty() && std::all_of(files.begin(), files.end(), [](const QString& path) { return QFileInfo(path).isDir(); });
        if (allFolders)
            QDialog::accept(); // QFileDialog::accept would enter the folder
        else
            QFileDialog::accept();
    }
};

void setCommonOptions(QFileDialog* chooser)
{
    chooser->setAcceptMode(QFileDialog::AcceptOpen);
    chooser->setLabelText(QFileDialog::Accept, QCoreApplication::translate("Tarnwick", "Choose"));
    chooser->setWindowModality(Qt::WindowModal);
    chooser->resize(760, 480); // room for long names without a first resize
}

} // namespace

QFileDialog* createSourceChooser(QWidget* parent)
{
    auto* chooser = new FileOrFolderDialog(parent, QCoreApplication::translate("Tarnwick", "Choose a Mailbox File or Folder"));
    chooser->setObjectName(QStringLiteral("sourceChooser"));
    chooser->setFileMode(QFileDialog::ExistingFile);
    chooser->setOption(QFileDialog::ReadOnly); // no "New Folder"
    setCommonOptions(chooser);
    return chooser;
}

QFileDialog* createSourceFolderChooser(QWidget* parent)
{
    auto* chooser = new QFileDialog(parent, QCoreApplication::translate("Tarnwick", "Choose a Folder of Mailboxes"));
    chooser->setObjectName(QStringLiteral("sourceFolderChooser"));
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    chooser->setOption(QFileDialog::ReadOnly); // no "New Folder"
    setCommonOptions(chooser);
    return chooser;
}

QFileDialog* createDestinationChooser(QWidget* parent)
{
    auto* chooser = new QFileDialog(parent, QCoreApplication::translate("Tarnwick", "Choose the Destination"));
    chooser->setObjectName(QStringLiteral("destinationChooser"));
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    setCommonOptions(chooser);
    return chooser;
}

QFileDialog* createAttachmentsFolderChooser(QWidget* parent)
{
    auto* chooser = new QFileDialog(parent, QCoreApplication::translate("Tarnwick", "Choose a Folder of Attachments"));
    chooser->setObjectName(QStringLiteral("attachmentsFolderChooser"));
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    chooser->setOption(QFileDialog::ReadOnly); // no "New Folder"
    setCommonOptions(chooser);
    return chooser;
}

} // namespace tarnwick
