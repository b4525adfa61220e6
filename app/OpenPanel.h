#pragma once
// The chooser: a widget-based QFileDialog configured like an open panel. With files
// and folders both choosable, one dialog picks either: Open on a selected folder
// chooses it instead of entering it (double-click still enters).

#include <QFileDialog>
#include <QStringList>

#include <functional>

namespace tarnwick {

class OpenPanel : public QFileDialog {
    Q_OBJECT
public:
    /// Called once when the sheet ends, with the panel and 1 for OK, 0 otherwise.
    using DidEnd = std::function<void(OpenPanel* panel, int returnCode)>;

    explicit OpenPanel(QWidget* parent);

    /// Linux has no file packages: every folder is browsed, so this records the flag only.
    void setTreatsFilePackagesAsDirectories(bool flag) { treatsPackagesAsDirectories_ = flag; }
    bool treatsFilePackagesAsDirectories() const { return treatsPackagesAsDirectories_; }
    /// Symbolic links are resolved to their targets when on.
    void setResolvesAliases(bool flag);
    bool resolvesAliases() const { return !testOption(DontResolveSymlinks); }
    void setCanChooseDirectories(bool flag);
    bool canChooseDirectories() const { return canChooseDirectories_; }
    void setAllowsMultipleSelection(bool flag);
    bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
    void setCanChooseFiles(bool flag);
    bool canChooseFiles() const { return canChooseFiles_; }

    /// Shows the panel window-modal on `window`, starting in `directory` (its own
    /// default place when empty) with `file` preselected when not empty. Every file
    /// type is offered. The panel deletes itself after `didEnd` returns.
    void beginSheet(const QString& directory, const QString& file, QWidget* window, DidEnd didEnd);

    /// The chosen paths in order (valid after OK).
    QStringList filenames() const { return chosen_; }

public slots:
    void accept() override;

private:
    void updateFileMode();

    bool treatsPackagesAsDirectories_ = false;
    bool canChooseDirectories_ = false;
    bool canChooseFiles_ = true;
    bool allowsMultipleSelection_ = false;
    QStringList chosen_;
};

} // namespace tarnwick
