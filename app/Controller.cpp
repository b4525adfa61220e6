#include "app/Controller.h"

#include "app/MainWindow.h"
#include "app/StatusSheet.h"
#include "batch/BatchJob.h"
#include "batch/BatchReporter.h"
#include "engine/CharsetCandidates.h"
#include "platform/FileSystem.h"
#include "platform/Localization.h"
#include "platform/Paths.h"
#include "platform/SettingsStore.h"
#include "settings/CharsetNamesText.h"
#include "settings/DefaultSettings.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <exception>

namespace tarnwick {
namespace {

QString localized(std::string_view key)
{
    return QString::fromStdString(localizedString(key));
}

std::string pathBytes(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

// Only the on state counts; a mixed check box is off.
bool isOn(const QCheckBox* box)
{
    return box->checkState() == Qt::Checked;
}

void setOn(QCheckBox* box, bool on)
{
    box->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

// Posts the job's texts to the UI thread without waiting; posted events run in
// posting order, so the last status text is shown before endProcess.
class PostingReporter final : public BatchReporter {
public:
    explicit PostingReporter(Controller& controller)
        : controller_(controller)
    {
    }

    void statusText(const std::string& text) override
    {
        QMetaObject::invokeMethod(
            &controller_, [&c = controller_, text = QString::fromStdString(text)] { c._messageField->setText(text); },
            Qt::QueuedConnection);
    }

    void finalText(const std::string& text) override
    {
        ended_ = true;
        QMetaObject::invokeMethod(
            &controller_, [&c = controller_, text = QString::fromStdString(text)] { c.endProcess(text); },
            Qt::QueuedConnection);
    }

    bool ended() const { return ended_; }

private:
    Controller& controller_;
    bool ended_ = false;
};

void centerWindow(QWidget* window)
{
    window->adjustSize();
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

} // namespace

Controller::Controller(MainWindow& window)
    : _window(&window)
    , _sourceField(window.sourceField)
    , _sourceSelectButton(window.sourceSelectButton)
    , _destinationField(window.destinationField)
    , _destinationSelectButton(window.destinationSelectButton)
    , _convertEncodingCheckBox(window.convertEncodingCheckBox)
    , _encodingPopUp(window.encodingPopUp)
    , _charsetField(window.charsetField)
    , _eudoraCheckBox(window.eudoraCheckBox)
    , _convertLineEndingsCheckBox(window.convertLineEndingsCheckBox)
    , _complementDateCheckBox(window.complementDateCheckBox)
    , _addEmptyLineCheckBox(window.addEmptyLineCheckBox)
    , _resultField(window.resultField)
    , _startButton(window.startButton)
    , _statusWindow(window.statusWindow)
    , _titleField(window.statusWindow->titleField)
    , _messageField(window.statusWindow->messageField)
    , _progressIndicator(window.statusWindow->progressIndicator)
    , _cancelButton(window.statusWindow->cancelButton)
    , frameSaveTimer_(new QTimer(this))
{
    frameSaveTimer_->setSingleShot(true);
    frameSaveTimer_->setInterval(500);
    connect(frameSaveTimer_, &QTimer::timeout, this, &Controller::saveFrame);
    connect(_charsetField, &QLineEdit::textEdited, this, [this] { charsetEditPending_ = true; });
}

Controller::~Controller()
{
    // Quitting while a job runs: the job stops before its next file.
    if (worker_.joinable()) {
        _hasCanceled = true;
        worker_.join();
    }
}

void Controller::awakeFromNib()
{
    SettingsStore& store = SettingsStore::standard();
    registerDefaultSettings(store);

    centerWindow(_window);
    if (const auto frame = store.stringForKey(kFrameAutosaveName))
        _window->restoreGeometry(QByteArray::fromStdString(*frame));
    _window->installEventFilter(this);

    _sourceField->setText(QFile::decodeName(QByteArray::fromStdString(store.stringForKey(keys::kSourcePath).value_or(""))));
    _destinationField->setText(
        QFile::decodeName(QByteArray::fromStdString(store.stringForKey(keys::kDestinationPath).value_or(""))));
    setOn(_convertEncodingCheckBox, store.boolForKey(keys::kConvertEncodings));
    fillEncodingMenu();
    setOn(_eudoraCheckBox, store.boolForKey(keys::kProcessEudoraTags));
    controlClicked(_convertEncodingCheckBox);
    setOn(_convertLineEndingsCheckBox, store.boolForKey(keys::kConvertLineEndings));
    setOn(_complementDateCheckBox, store.boolForKey(keys::kComplementDateHeaders));
    setOn(_addEmptyLineCheckBox, store.boolForKey(keys::kAddEmptyLines));
    _resultField->clear();
    _progressIndicator->setDisplayedWhenStopped(false);
}

bool Controller::applicationShouldTerminateAfterLastWindowClosed(QApplication*)
{
    return true;
}

void Controller::controlClicked(QObject* sender)
{
    if (sender == _sourceSelectButton || sender == _destinationSelectButton) {
        openChooser(static_cast<QPushButton*>(sender));
    } else if (sender == _convertEncodingCheckBox) {
        const bool on = isOn(_convertEncodingCheckBox);
        _encodingPopUp->setEnabled(on);
        _charsetField->setEnabled(on);
        _eudoraCheckBox->setEnabled(on);
    } else if (sender == _startButton) {
        start();
    } else if (sender == _cancelButton) {
        _cancelButton->setEnabled(false);
        _hasCanceled = true;
    }
}

void Controller::endEditing()
{
    // Committing is implicit in a line edit; what matters is the end-of-editing
    // normalisation of a charset field edit that has not ended yet.
    if (QWidget* focus = _window->focusWidget())
        focus->clearFocus();
    if (charsetEditPending_)
        controlTextDidEndEditing(_charsetField);
}

void Controller::showError(std::string_view message)
{
    _resultField->setText(QString::fromStdString(localizedFormat("Error: %@", {localizedString(message)})));
}

void Controller::start()
{
    endEditing();
    SettingsStore& store = SettingsStore::standard();

    const QString source = _sourceField->text();
    if (source.isEmpty() || !fileExists(standardizePath(pathBytes(source)))) {
        showError("Source not found");
        return;
    }
    store.setString(keys::kSourcePath, pathBytes(source));

    const QString destination = _destinationField->text();
    if (destination.isEmpty()) {
        showError("Destination not found");
        return;
    }
    store.setString(keys::kDestinationPath, pathBytes(destination));
    store.setBool(keys::kConvertEncodings, isOn(_convertEncodingCheckBox));
    store.setInteger(keys::kMboxEncoding, selectedEncodingTag());
    store.setStringArray(keys::kCharsetNames, splitCharsetText(_charsetField->text().toStdString()));
    discardCharsetCandidates();
    store.setBool(keys::kProcessEudoraTags, isOn(_eudoraCheckBox));
    store.setBool(keys::kConvertLineEndings, isOn(_convertLineEndingsCheckBox));
    store.setBool(keys::kComplementDateHeaders, isOn(_complementDateCheckBox));
    store.setBool(keys::kAddEmptyLines, isOn(_addEmptyLineCheckBox));
    store.sync();

    _hasCanceled = false;
    _resultField->clear();
    _titleField->setText(localized("Converting Mbox files..."));
    _messageField->setText(localized("Waiting..."));
    _progressIndicator->startAnimation();
    _statusWindow->beginSheet();

    if (worker_.joinable()) // a previous job has posted its end already
        worker_.join();
    worker_ = std::thread(&Controller::processOnSubThread, this);
}

void Controller::processOnSubThread()
{
    PostingReporter reporter(*this);
    // An exception must not end the process from a worker thread, nor leave the sheet
    // up for good: it becomes the job's error text.
    try {
        runBatchJob(reporter, _hasCanceled);
    } catch (const std::exception& error) {
        if (!reporter.ended())
            reporter.finalText(localizedFormat("Error: %@", {error.what()}));
    }
}

void Controller::endProcess(const QString& text)
{
    _progressIndicator->stopAnimation();
    _cancelButton->setEnabled(true);
    _statusWindow->endSheet();
    _resultField->setText(text.isNull() ? QString() : text);
    _hasCanceled = false;
    // The job posted this as its last act; its thread is ending.
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id())
        worker_.join();
}

bool Controller::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == _window) {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            frameSaveTimer_->start();
        else if (event->type() == QEvent::Close)
            saveFrame();
    }
    return QObject::eventFilter(watched, event);
}

void Controller::saveFrame()
{
    frameSaveTimer_->stop();
    const QByteArray frame = _window->saveGeometry();
    SettingsStore::standard().setString(kFrameAutosaveName, frame.toStdString());
}

} // namespace tarnwick
