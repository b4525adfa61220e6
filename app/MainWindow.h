#pragma once
// The main window and its controls, built in code. The controller is connected to it
// by connectController().

#include <QCoreApplication>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarnwick {

class Controller;
class StatusSheet;

class MainWindow : public QWidget {
    Q_DECLARE_TR_FUNCTIONS(Tarnwick)
public:
    MainWindow();

    QLineEdit* sourceField;
    QPushButton* sourceSelectButton;
    QLineEdit* destinationField;
    QPushButton* destinationSelectButton;
    QCheckBox* convertEncodingCheckBox;
    QComboBox* encodingPopUp;
    QLineEdit* charsetField;
    QCheckBox* eudoraCheckBox;
    QCheckBox* convertLineEndingsCheckBox;
    QCheckBox* complementDateCheckBox;
    QCheckBox* addEmptyLineCheckBox;
    QLabel* resultField;
    QPushButton* startButton;
    StatusSheet* statusWindow;
};

/// Wires the window to the controller: the choose buttons, the convert-encoding check
/// box, Start and Cancel call controlClicked; the end of editing of every text field
/// calls controlTextDidEndEditing.
void connectController(MainWindow& window, Controller& controller);

} // namespace tarnwick
