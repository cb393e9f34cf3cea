// Two windows that tell the user how to go on: the quick-start instructions ("Tarvel Quick-Start"),
// which can be printed or copied, and the receive-mode notice ("Starting Receive mode...") shown
// while receive mode starts and once it is ready.
#pragma once
#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QPaintDevice;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QTimer;
class QWidget;

namespace zn::app {

// The quick-start instructions as the window shows them.
QString QuickStartText();

class TQuickStart : public QDialog {
    Q_OBJECT
public:
    explicit TQuickStart(QWidget* parent = nullptr);
    QPlainTextEdit* Memo1;
    QPushButton* PrintButton;
    QPushButton* BitBtn2;

    void PrintButtonClick();
    void BitBtn2Click();
    // Draws the memo's lines onto one page of the printer (Courier 10 points, half an inch in from
    // the top and left, at the device's resolution). False when the device could not start.
    bool PrintLines(QPaintDevice& printer);
    // The print dialog; tests answer it themselves (true: print on the printer given).
    std::function<bool(QPrinter&)> RunPrintDialog;
};

class TStartingFaxForm : public QDialog {
    Q_OBJECT
public:
    explicit TStartingFaxForm(QWidget* parent = nullptr);
    QLabel* StartingPanel;
    QWidget* ReadyPanel;
    QPushButton* okbutton;
    QCheckBox* DoNotShow;
    QTimer* Timer1;

    // Receive mode is being started: only the waiting text.
    void ShowStarting();
    // Receive mode is armed: the ready text, the OK button and the "Do not show" box.
    void ShowReady();
    void DoNotShowClick();
};

} // namespace zn::app
