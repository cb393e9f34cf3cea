#include "app/error_display_form.h"
#include "platform/termination_signals.h"

#include "foundation/dialogs.h"
#include "foundation/form_placement.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace zn::app {

namespace {
constexpr int kSelfCloseMs = 30000;
int selfCloseOverrideMs = 0;
bool errorWindowUp = false; // a second error while one is up is dropped
} // namespace

void SetErrorWindowTimeoutForTest(int milliseconds) { selfCloseOverrideMs = milliseconds; }

TShowErrorForm::TShowErrorForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("TShowErrorForm");
    setFont(QFont("Arial", 9));
    resize(460, 260);

    Panel2 = new QWidget(this);
    Panel2->setObjectName("Panel2");
    Memo1 = new QPlainTextEdit(Panel2);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Label1 = new QLabel("For more information and possible solutions, click the Fax Problem Solver button", Panel2);
    Label1->setObjectName("Label1");
    Label1->setWordWrap(true);
    auto* p2 = new QVBoxLayout(Panel2);
    p2->setContentsMargins(0, 0, 0, 0);
    p2->addWidget(Memo1, 1);
    p2->addWidget(Label1);

    Panel1 = new QWidget(this);
    Panel1->setObjectName("Panel1");
    BitBtn1 = new QPushButton("Ok", Panel1);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton("Technical Help", Panel1);
    BitBtn2->setObjectName("BitBtn2");
    ContinueButton = new QPushButton("Continue", Panel1);
    ContinueButton->setObjectName("ContinueButton");
    ContinueButton->setVisible(false);
    auto* p1 = new QHBoxLayout(Panel1);
    p1->setContentsMargins(0, 0, 0, 0);
    p1->addWidget(BitBtn1);
    p1->addWidget(ContinueButton);
    p1->addStretch();
    p1->addWidget(BitBtn2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Panel2, 1);
    layout->addWidget(Panel1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setSingleShot(true);
    Timer1->setInterval(selfCloseOverrideMs > 0 ? selfCloseOverrideMs : kSelfCloseMs);

    connect(BitBtn1, &QPushButton::clicked, this, [this] { done(1); });
    connect(ContinueButton, &QPushButton::clicked, this, [this] { done(kContinueResult); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    layout->activate();
    chrome_ = sizeHint().height() - Memo1->sizeHint().height();
}

void TShowErrorForm::SetText(const QString& text)
{
    Memo1->setPlainText(text);
    // Room for every line of the text and three more.
    const int lines = Memo1->document()->blockCount();
    const int lineHeight = QFontMetrics(Memo1->font()).lineSpacing();
    resize(width(), (lines + 3) * lineHeight + chrome_);
}

void TShowErrorForm::Timer1Timer()
{
    Timer1->stop();
    done(1);
}

void TShowErrorForm::BitBtn2Click()
{
    if (ContinueButton->isVisibleTo(this)) {
        foundation::ShowGeneralHelp();
        return;
    }
    done(kTechnicalHelpResult);
}

void TShowErrorForm::done(int result)
{
    Timer1->stop();
    QDialog::done(result);
}

int ShowErrorWindow(const QString& caption, const QString& text, bool waitForUser, bool withContinue)
{
    // Nobody is left to read a window once the program has been told to end.
    if (errorWindowUp || platform::TerminationSignal() != 0)
        return 0;
    errorWindowUp = true;
    int result = 0;
    {
        TShowErrorForm form(foundation::MainForm());
        form.WaitForUser = waitForUser;
        form.setWindowTitle(caption);
        form.ContinueButton->setVisible(withContinue);
        form.SetText(text);
        foundation::CenterForm(form);
        if (!waitForUser)
            form.Timer1->start();
        result = form.exec();
    }
    if (result == kTechnicalHelpResult)
        foundation::ShowGeneralHelp();
    errorWindowUp = false;
    return result;
}

void ShowError(const QString& caption, const QString& text, bool waitForUser)
{
    ShowErrorWindow(caption, text, waitForUser, false);
}

bool AskContinue(const QString& caption, const QString& text, bool waitForUser)
{
    return ShowErrorWindow(caption, text, waitForUser, true) == kContinueResult;
}

} // namespace zn::app
