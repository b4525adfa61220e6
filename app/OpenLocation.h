#pragma once
// Opening a folder or a document in the desktop's program for it, and saying so in
// the window where no such program is registered (no file manager, no xdg-open).

#include <QCoreApplication>
#include <QDialog>

class QUrl;
class QWidget;

namespace tarnwick {

/// Opens `url` with the desktop's program for it. When that fails, opens a
/// LocationDialog over `parent` saying `why` and returns false.
bool openOrShowLocation(QWidget* parent, const QUrl& url, const QString& why);

/// Says `why` nothing opened a location, shows it (a path for a local file) in a
/// read-only field that can be selected, and offers Copy and Close.
class LocationDialog : public QDialog {
    // One translation context for every text of the program (AppTranslations.h).
    Q_DECLARE_TR_FUNCTIONS(Tarnwick)
public:
    LocationDialog(QWidget* parent, const QUrl& url, const QString& why);
};

} // namespace tarnwick
