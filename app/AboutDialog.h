#pragma once
// The About dialog: the version, what the program does, the Qt it runs on and a link
// to its README, which opens in the desktop's program or, where there is none, is
// shown to copy.

#include <QCoreApplication>
#include <QDialog>

namespace tarnwick {

class AboutDialog : public QDialog {
    // One translation context for every text of the program (AppTranslations.h).
    Q_DECLARE_TR_FUNCTIONS(Tarnwick)
public:
    /// `readme` is the address the README link opens.
    AboutDialog(QWidget* parent, const QString& version, const QString& readme);
};

} // namespace tarnwick
