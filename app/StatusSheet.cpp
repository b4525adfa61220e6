#include "app/StatusSheet.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

StatusSheet::StatusSheet(QWidget* window)
    : QDialog(window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) // no close button
    , m_titleLabel(new QLabel(this))
    , m_messageLabel(new QLabel(this))
    , m_progressBar(new QProgressBar(this))
    , m_cancelButton(new QPushButton(this))
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
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setTextVisible(false);
    m_progressBar->setAccessibleName(QCoreApplication::translate("Tarnwick", "Progress"));
    m_progressBar->setRange(0, 1);
    m_progressBar->hide(); // shown only while busy
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
    layout->addWidget(m_progressBar);
    layout->addLayout(buttons);
}

void StatusSheet::begin(const QString& title, const QString& message)
{
    m_titleLabel->setText(title);
    setMessage(message);
    m_cancelButton->setEnabled(true);
    m_cancelButton->setText(QCoreApplication::translate("Tarnwick", "Cancel"));
    m_cancelSent = false;
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

void StatusSheet::end()
{
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
        m_cancelButton->setToolTip(QCoreApplication::translate("Tarnwick", "The mailbox under way is left unconverted and its output removed"));
        emit cancelRequested();
        return;
    }
    m_cancelButton->setEnabled(false);
    emit stopAtOnceRequested();
}

} // namespace tarnwick
