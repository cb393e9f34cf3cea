// The error window of the send and receive paths: a long error text, an optional Continue button,
// and a timer that closes an unanswered window as if OK had been pressed, so that receive mode can
// run unattended.
#pragma once
#include <QDialog>
#include <QString>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace zn::app {

constexpr int kContinueResult = -99;
constexpr int kTechnicalHelpResult = 4;

class TShowErrorForm : public QDialog {
    Q_OBJECT
public:
    explicit TShowErrorForm(QWidget* parent = nullptr);

    QWidget* Panel1;
    QPushButton* BitBtn1; // Ok
    QPushButton* BitBtn2; // Technical Help
    QPushButton* ContinueButton;
    QWidget* Panel2;
    QPlainTextEdit* Memo1;
    QLabel* Label1;
    QTimer* Timer1;
    bool WaitForUser = false;

    void SetText(const QString& text); // also fits the height to the text
    void Timer1Timer();
    void BitBtn2Click();

protected:
    void done(int result) override;

private:
    int chrome_ = 0; // window height less the memo's
};

// The self-closing interval, 30 s; tests shorten it.
void SetErrorWindowTimeoutForTest(int milliseconds); // 0: the normal interval

// Returns the modal result: 1 OK, -99 Continue, 4 Technical Help, 0 when another error window is up.
int ShowErrorWindow(const QString& caption, const QString& text, bool waitForUser, bool withContinue);
void ShowError(const QString& caption, const QString& text, bool waitForUser);
bool AskContinue(const QString& caption, const QString& text, bool waitForUser);

} // namespace zn::app
