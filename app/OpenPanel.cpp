#include "app/OpenPanel.h"

#include <QFileInfo>

namespace tarnwick {

OpenPanel::OpenPanel(QWidget* parent)
    : QFileDialog(parent)
{
    // The platform dialogs cannot choose a file or a folder in one dialog.
    setOption(DontUseNativeDialog, true);
    setAcceptMode(AcceptOpen);
    updateFileMode();
}

void OpenPanel::setResolvesAliases(bool flag)
{
    setOption(DontResolveSymlinks, !flag);
}

void OpenPanel::setCanChooseDirectories(bool flag)
{
    canChooseDirectories_ = flag;
    updateFileMode();
}

void OpenPanel::setAllowsMultipleSelection(bool flag)
{
    allowsMultipleSelection_ = flag;
    updateFileMode();
}

void OpenPanel::setCanChooseFiles(bool flag)
{
    canChooseFiles_ = flag;
    updateFileMode();
}

void OpenPanel::updateFileMode()
{
    if (canChooseDirectories_ && !canChooseFiles_) {
        setFileMode(Directory);
        setOption(ShowDirsOnly, true);
        return;
    }
    setOption(ShowDirsOnly, false);
    setFileMode(allowsMultipleSelection_ ? ExistingFiles : ExistingFile);
}

void OpenPanel::accept()
{
    const QStringList files = selectedFiles();
    if (canChooseDirectories_ && canChooseFiles_ && !files.isEmpty()) {
        const bool allFolders = std::all_of(files.begin(), files.end(),
                                            [](const QString& path) { return QFileInfo(path).isDir(); });
        if (allFolders) {
            chosen_ = files;
            QDialog::accept(); // the file dialog's own accept would enter the folder
            return;
        }
    }
    QFileDialog::accept();
}

void OpenPanel::beginSheet(const QString& directory, const QString& file, QWidget* window, DidEnd didEnd)
{
    if (!directory.isEmpty())
        setDirectory(directory);
    if (!file.isEmpty())
        selectFile(file);
    setParent(window, windowFlags());
    setWindowModality(Qt::WindowModal);
    connect(this, &QDialog::finished, this, [this, didEnd = std::move(didEnd)](int result) {
        const bool ok = result == QDialog::Accepted;
        if (ok && chosen_.isEmpty())
            chosen_ = selectedFiles();
        if (didEnd)
            didEnd(this, ok ? 1 : 0);
        deleteLater();
    });
    open();
}

} // namespace tarnwick
