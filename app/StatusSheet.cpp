#include "app/StatusSheet.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

ProgressIndicator::ProgressIndicator(QWidget* parent)
    : QProgressBar(parent)
{
    setRange(0, 1);
    setTextVisible(false);
}

void ProgressIndicator::setDisplayedWhenStopped(bool flag)
{
    displayedWhenStopped_ = flag;
    if (!animating_)
        setVisible(flag);
}

void ProgressIndicator::startAnimation()
{
    animating_ = true;
    setRange(0, 0); // busy
    setVisible(true);
}

void ProgressIndicator::stopAnimation()
{
    animating_ = false;
    setRange(0, 1);
    reset();
    setVisible(displayedWhenStopped_);
}

StatusSheet::StatusSheet(QWidget* window)
    : QDialog(window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) // no close button
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Tarnwick"));
    setMinimumWidth(420);

    titleField = new QLabel(this);
    QFont titleFont = titleField->font();
    titleFont.setBold(true);
    titleField->setFont(titleFont);
    messageField = new QLabel(this);
    messageField->setTextFormat(Qt::PlainText);
    messageField->setMinimumWidth(380);
    progressIndicator = new ProgressIndicator(this);
    cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(titleField);
    layout->addWidget(messageField);
    layout->addWidget(progressIndicator);
    layout->addLayout(buttons);
}

void StatusSheet::beginSheet()
{
    open();
}

void StatusSheet::endSheet()
{
    done(QDialog::Accepted);
}

void StatusSheet::reject()
{
    if (cancelButton->isEnabled())
        cancelButton->click();
}

void StatusSheet::closeEvent(QCloseEvent* event)
{
    event->ignore();
    reject();
}

} // namespace tarnwick
