#pragma once
// The source and destination choosers: file dialogs configured for each field.

class QFileDialog;
class QWidget;

namespace tarnwick {

/// A dialog that picks one existing mailbox file or folder: Open (or "Choose") on a
/// selected folder chooses it, a double-click enters it. It offers no "New Folder".
/// The desktop's own file dialog where there is one (it picks files only).
QFileDialog* createSourceChooser(QWidget* parent);

/// A dialog that picks one existing folder of mailboxes; it offers no "New Folder".
/// The desktop's own folder dialog where there is one.
QFileDialog* createSourceFolderChooser(QWidget* parent);

/// A dialog that picks one existing folder and offers "New Folder"; the desktop's own
/// folder dialog where there is one.
QFileDialog* createDestinationChooser(QWidget* parent);

/// A dialog that picks one existing folder where attachment files are also looked
/// for; it offers no "New Folder".
QFileDialog* createAttachmentsFolderChooser(QWidget* parent);

} // namespace tarnwick
