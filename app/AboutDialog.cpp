#include "app/AboutDialog.h"

#include "app/OpenLocation.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

namespace tarnwick {
AboutDialog::AboutDialog(QWidget* parent, const QString& version, const QString& readme) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(tr("About Tarnwick"));
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/tarnwick.png")).pixmap(64, 64));
    auto* text
        = new QLabel(tr("<p><b>Tarnwick %1</b></p><p>Converts Eudora mailboxes into mbox files.</p>"
                        "<p><a href=\"%2\">Read the README</a></p>")
                             .arg(version.toHtmlEscaped(), readme.toHtmlEscaped())
                         + QLatin1String("<p>") + tr("Uses Qt %1").arg(QLatin1String(qVersion())).toHtmlEscaped() + QLatin1String("</p>"),
                     this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setTextFormat(Qt::RichText);
    text->setTextInteractionFlags(Qt::TextBrowserInteraction);
    // Opened here, not by the label, so that a desktop with no program for it says so.
    text->setOpenExternalLinks(false);
    connect(text, &QLabel::linkActivated, this, [this](const QString& link) {
        openOrShowLocation(this, QUrl(link),
                           tr("No program is set up on this computer to open the README. Open it yourself, or copy its path:"));
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
}

} // namespace tarnwick
