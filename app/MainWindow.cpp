#include "app/MainWindow.h"

#include "app/Controller.h"
#include "app/StatusSheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnwick {

MainWindow::MainWindow()
{
    setWindowTitle(tr("Tarnwick"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/tarnwick.png")));

    sourceField = new QLineEdit(this);
    sourceField->setToolTip(tr("A Eudora mailbox file, or a folder of mailbox files"));
    sourceSelectButton = new QPushButton(tr("Choose..."), this);
    destinationField = new QLineEdit(this);
    destinationField->setToolTip(tr("A folder, or a new file name for a single mailbox"));
    destinationSelectButton = new QPushButton(tr("Choose..."), this);
    sourceField->setMinimumWidth(340);

    auto* paths = new QGridLayout;
    paths->addWidget(new QLabel(tr("Source:"), this), 0, 0);
    paths->addWidget(sourceField, 0, 1);
    paths->addWidget(sourceSelectButton, 0, 2);
    paths->addWidget(new QLabel(tr("Destination:"), this), 1, 0);
    paths->addWidget(destinationField, 1, 1);
    paths->addWidget(destinationSelectButton, 1, 2);

    convertEncodingCheckBox = new QCheckBox(tr("Convert text encodings"), this);
    encodingPopUp = new QComboBox(this);
    charsetField = new QLineEdit(this);
    charsetField->setToolTip(tr("Charset names in order of preference, separated by commas"));
    eudoraCheckBox = new QCheckBox(tr("Process Eudora tags"), this);
    auto* encodingLabel = new QLabel(tr("Mailbox encoding:"), this);
    encodingLabel->setBuddy(encodingPopUp);
    auto* charsetLabel = new QLabel(tr("Output charsets:"), this);
    charsetLabel->setBuddy(charsetField);

    auto* encodings = new QGridLayout;
    encodings->addWidget(convertEncodingCheckBox, 0, 0, 1, 2);
    encodings->addWidget(encodingLabel, 1, 0);
    encodings->addWidget(encodingPopUp, 1, 1);
    encodings->addWidget(charsetLabel, 2, 0);
    encodings->addWidget(charsetField, 2, 1);
    encodings->addWidget(eudoraCheckBox, 3, 0, 1, 2);
    encodings->setColumnMinimumWidth(0, 150);
    encodings->setColumnStretch(1, 1);

    convertLineEndingsCheckBox = new QCheckBox(tr("Convert line endings to CR LF"), this);
    complementDateCheckBox = new QCheckBox(tr("Add a Date header where one is missing"), this);
    addEmptyLineCheckBox = new QCheckBox(tr("Add an empty line after each message"), this);

    auto* options = new QGroupBox(tr("Options"), this);
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addLayout(encodings);
    optionsLayout->addWidget(convertLineEndingsCheckBox);
    optionsLayout->addWidget(complementDateCheckBox);
    optionsLayout->addWidget(addEmptyLineCheckBox);

    resultField = new QLabel(this);
    resultField->setTextFormat(Qt::PlainText);
    resultField->setTextInteractionFlags(Qt::TextSelectableByMouse);
    resultField->setWordWrap(true);
    resultField->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    startButton = new QPushButton(tr("Start"), this);
    startButton->setDefault(true);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(resultField, 1);
    bottom->addWidget(startButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(paths);
    layout->addWidget(options);
    layout->addStretch();
    layout->addLayout(bottom);

    statusWindow = new StatusSheet(this);
}

void connectController(MainWindow& window, Controller& controller)
{
    const auto click = [&controller](QAbstractButton* button) {
        QObject::connect(button, &QAbstractButton::clicked, &controller,
                         [&controller, button] { controller.controlClicked(button); });
    };
    click(window.sourceSelectButton);
    click(window.destinationSelectButton);
    click(window.convertEncodingCheckBox);
    click(window.startButton);
    click(window.statusWindow->cancelButton);

    for (QLineEdit* field : {window.sourceField, window.destinationField, window.charsetField}) {
        QObject::connect(field, &QLineEdit::editingFinished, &controller,
                         [&controller, field] { controller.controlTextDidEndEditing(field); });
    }
}

} // namespace tarnwick
