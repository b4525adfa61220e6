#include "app/OpenLocation.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace tarnwick {
bool openOrShowLocation(QWidget* parent, const QUrl& url, const QString& why)
{
    if (QDesktopServices::openUrl(url))
        return true;
    auto* dialog = new LocationDialog(parent, url, why);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return false;
}

LocationDialog::LocationDialog(QWidget* parent, const QUrl& url, const QString& why) : QDialog(parent)
{
    setObjectName(QStringLiteral("locationDialog"));
    setWindowTitle(tr("Could Not Open"));
    const QString location = url.isLocalFile() ? url.toLocalFile() : url.toString();
    auto* message = new QLabel(why, this);
    message->setWordWrap(true);
    auto* field = new QLineEdit(location, this);
    field->setObjectName(QStringLiteral("locationField"));
    field->setReadOnly(true);
    field->setAccessibleName(tr("Location"));
    field->setMinimumWidth(field->fontMetrics().horizontalAdvance(location.left(80)) + 24);
    message->setBuddy(field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(tr("Copy &Path"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyLocationButton"));
    connect(copy, &QPushButton::clicked, this, [location] { QGuiApplication::clipboard()->setText(location); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addWidget(field);
    layout->addWidget(buttons);
    field->setFocus();
    field->selectAll();
}

} // namespace tarnwick
