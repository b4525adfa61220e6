#include "app/StatusSheet.h"

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
    m_messageLabel->setText(message);
    m_cancelButton->setEnabled(true);
    m_progressBar->setRange(0, 0); // busy
    m_progressBar->show();
    open();
}

void StatusSheet::setMessage(const QString& message)
{
    m_messageLabel->setText(message);
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

void StatusSheet::requestCancel()
{
    m_cancelButton->setEnabled(false);
    emit cancelRequested();
}

} // namespace tarnwick
