#include "app/StatusSheet.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {
namespace {

QString translated(const char* text) { return QCoreApplication::translate("Tarnwick", text); }

} // namespace

StatusSheet::StatusSheet(QWidget* window)
    : QDialog(window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) // no close button
      ,
      m_titleLabel(new QLabel(this)), m_messageLabel(new QLabel(this)), m_progressLabel(new QLabel(this)),
      m_progressBar(new QProgressBar(this)), m_hintLabel(new QLabel(this)), m_cancelButton(new QPushButton(this))
{
    // Every text of the program shares one translation context (AppTranslations.h).
    setWindowTitle(QCoreApplication::translate("Tarnwick", "Tarnwick"));
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(420);

    m_titleLabel->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = m_titleLabel->font();
    titleFont.setBold(true);
    m_titleLabel->setFont(titleFont);
    m_messageLabel->setObjectName(QStringLiteral("messageLabel"));
    m_messageLabel->setTextFormat(Qt::PlainText);
    m_messageLabel->setMinimumWidth(380);
    m_progressLabel->setObjectName(QStringLiteral("progressLabel"));
    m_progressLabel->setTextFormat(Qt::PlainText);
    m_progressLabel->setMinimumHeight(m_progressLabel->fontMetrics().height()); // the sheet keeps its size when numbers come
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setTextVisible(false);
    m_progressBar->setAccessibleName(QCoreApplication::translate("Tarnwick", "Progress"));
    m_progressBar->setRange(0, 1);
    m_progressBar->hide(); // shown only while busy
    m_hintLabel->setObjectName(QStringLiteral("hintLabel"));
    m_hintLabel->setTextFormat(Qt::PlainText);
    m_hintLabel->setWordWrap(true);
    m_hintLabel->hide();
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setText(QCoreApplication::translate("Tarnwick", "Cancel"));
    m_cancelButton->setAutoDefault(false);
    connect(m_cancelButton, &QPushButton::clicked, this, &StatusSheet::requestCancel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_titleLabel);
    layout->addWidget(m_messageLabel);
    layout->addWidget(m_progressLabel);
    layout->addWidget(m_progressBar);
    layout->addWidget(m_hintLabel);
    layout->addLayout(buttons);
}

void StatusSheet::begin(const QString& title, const QString& message)
{
    m_titleLabel->setText(title);
    setMessage(message);
    m_cancelButton->setEnabled(true);
    m_cancelButton->setText(QCoreApplication::translate("Tarnwick", "Cancel"));
    m_cancelButton->setToolTip(translated("Stops when the mailbox under way is done"));
    m_hintLabel->hide();
    m_cancelSent = false;
    m_progressLabel->clear();
    m_progressBar->setRange(0, 0); // busy
    m_progressBar->show();
    open();
}

// A long name is elided in the middle, where it changes least from file to file; the
// whole text stays in the tooltip and the accessible name.
void StatusSheet::setMessage(const QString& message)
{
    const int width = std::max(m_messageLabel->width(), m_messageLabel->minimumWidth());
    m_messageLabel->setText(m_messageLabel->fontMetrics().elidedText(message, Qt::ElideMiddle, width));
    m_messageLabel->setToolTip(message);
    m_messageLabel->setAccessibleName(message);
}

// The bar is determinate only where the total is known: the files of a folder (each
// counts one, the one under way by its share read), or the bytes of a single file.
void StatusSheet::setProgress(qulonglong file, qulonglong files, qulonglong bytesDone, qulonglong bytes)
{
    const QLocale locale;
    const qulonglong permille = bytes > 0 ? std::min(bytesDone, bytes) * 1000 / bytes : 0;
    if (files == 1 && bytes > 0) {
        m_progressBar->setRange(0, 1000);
        m_progressBar->setValue(int(permille));
        m_progressLabel->setText(translated("%1 of %2 (%3%)")
                                     .arg(locale.formattedDataSize(qint64(std::min(bytesDone, bytes))),
                                          locale.formattedDataSize(qint64(bytes)), locale.toString(permille / 10)));
    } else if (files > 1 && file >= 1 && file <= files) {
        const double done = double(file - 1) + double(permille) / 1000;
        m_progressBar->setRange(0, 10000);
        m_progressBar->setValue(int(done / double(files) * 10000));
        // A file that takes a while also says how far it is.
        m_progressLabel->setText(bytesDone > 0 && bytesDone < bytes
                                     ? translated("%1 of %2 files; this one %3 of %4")
                                           .arg(locale.toString(file), locale.toString(files), locale.formattedDataSize(qint64(bytesDone)),
                                                locale.formattedDataSize(qint64(bytes)))
                                     : translated("%1 of %2 files").arg(locale.toString(file), locale.toString(files)));
    } else {
        m_progressBar->setRange(0, 0);
        m_progressLabel->clear();
    }
}

void StatusSheet::end()
{
    m_progressLabel->clear();
    m_progressBar->setRange(0, 1);
    m_progressBar->reset();
    m_progressBar->hide();
    m_cancelButton->setEnabled(true);
    done(QDialog::Accepted);
}

void StatusSheet::reject()
{
    if (m_cancelButton->isEnabled())
        m_cancelButton->click();
}

void StatusSheet::closeEvent(QCloseEvent* event)
{
    event->ignore();
    reject();
}

// The first press lets the file under way finish; the button then offers to stop at
// once, and a second press abandons that file.
void StatusSheet::requestCancel()
{
    if (!m_cancelSent) {
        m_cancelSent = true;
        m_cancelButton->setText(QCoreApplication::translate("Tarnwick", "Stop Now"));
        m_cancelButton->setToolTip(
            QCoreApplication::translate("Tarnwick", "The mailbox under way is left unconverted and its output removed"));
        // Nothing else changes on the sheet until the mailbox under way is done, which
        // for a single large mailbox may take a while: the sheet says so.
        m_hintLabel->setText(translated("Stopping when this mailbox is done. Stop Now stops at once and leaves it unconverted."));
        m_hintLabel->show();
        emit cancelRequested();
        return;
    }
    m_cancelButton->setEnabled(false);
    m_hintLabel->setText(translated("Stopping..."));
    emit stopAtOnceRequested();
}

} // namespace tarnwick
