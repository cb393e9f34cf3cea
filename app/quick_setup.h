// Quick setup (the sender and the modem, asked for before the first fax) and the quick
// configuration analysis, which offers a page for each setting that commonly causes trouble.
#pragma once
#include <QDialog>

#include <array>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QCheckBox;
class QStackedWidget;
class QAbstractButton;

namespace zn::foundation {
struct SettingsValues;
}
namespace zn::foundation::gui {
class TAssistShowHintSpeedbutton;
}

namespace zn::app {

class ModemChoice;

class TQuickSetupForm : public QDialog {
    Q_OBJECT
public:
    explicit TQuickSetupForm(QWidget* parent = nullptr);
    QLineEdit* Name;
    QLineEdit* FaxNumber;
    ModemChoice* Modem; // UseComPortCheckBox, ComPort, FindModemButton, UseTapiCheckbox, TapiCombo, TestTAPIButton
    QPushButton* Finishbutton;
    QPushButton* Cancelbutton;
    std::array<foundation::gui::TAssistShowHintSpeedbutton*, 4> Tips;
};

// Loads the settings, asks, and on Ok stores the sender and the modem, marks the port chosen and
// saves ZN.INI. On Cancel the port stays unchosen and ComPort and UseTAPI keep their values.
bool RunQuickSetup(QWidget* parent);

// The analysis' pages: 0 the question, 1-8 sending, 9-13 receiving, 14 the conclusion.
constexpr int kSuggestLastPage = 14;
using SuggestFlags = std::array<bool, kSuggestLastPage>; // [1..13]: the page has something to offer

SuggestFlags SuggestionsFor(const foundation::SettingsValues& s);
// The page after (next) or before the current one in the mode's range that has something to offer;
// the conclusion or the question when none is left.
int SuggestPage(const SuggestFlags& flags, bool sending, int page, bool next);
bool SuggestProblemsFound(const SuggestFlags& flags, bool sending);

struct SuggestButtons {
    bool back, next, finish, conclusion, noProblems, problemSolver;
};
SuggestButtons SuggestButtonsFor(const SuggestFlags& flags, bool sending, int page, bool anyChanged);

class TQuickSuggest : public QDialog {
    Q_OBJECT
public:
    explicit TQuickSuggest(QWidget* parent = nullptr);
    QStackedWidget* Notebook1;
    QPushButton* BackButton;
    QPushButton* Nextbutton;
    QPushButton* Finishbutton;
    QPushButton* Cancelbutton;
    QPushButton* ProblemSolverButton;
    QLabel* Conclusion;
    QLabel* NoProblems;

    QRadioButton *UseSend, *UseRec;
    QCheckBox *UseTONE, *UseFaxClass1Send, *Use9600TransferSend;
    QRadioButton *UseATZ, *UseATANDF, *UseNoReset;
    std::array<QRadioButton*, 6> UseInitSend; // UseInit1Send ... UseInit6Send
    QRadioButton* UseNoInitSend;
    QCheckBox *UseDisableECMSend, *UseDisableBlindSend, *UseDisableIgnoreBusySend;
    QCheckBox *UseFaxClass1Rec, *Use9600TransferRec;
    QRadioButton *UseATZRec, *UseATANDFRec, *UseNoResetRec;
    std::array<QRadioButton*, 6> UseInitRec;
    QRadioButton* UseNoInitRec;
    QCheckBox* UseDisableECMRec;

    int Page() const;
    bool Sending() const { return sending_; }
    void NextbuttonClick();
    void BackButtonClick();
    // Applies the choices of the mode to the settings in memory and closes with 1.
    void FinishbuttonClick();
    bool AnyChanged() const;
    static constexpr int kProblemSolver = 99;

private:
    void GoTo(int page);
    void SetFinishButton();
    SuggestFlags flags_;
    bool sending_ = true;
};

// The six init strings the analysis offers, with the words that describe them.
struct SuggestedInit {
    const char* init;
    const char* words;
};
extern const std::array<SuggestedInit, 6> kSuggestedInits;

} // namespace zn::app
