#include "app/quick_setup.h"

#include "app/form_controls.h"
#include "app/modem_choice.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/gui/assist_hint_button.h"
#include "foundation/gui/assistant_help.h"
#include "foundation/settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace zn::app {

using foundation::Settings;

const std::array<SuggestedInit, 6> kSuggestedInits = {{
    {"AT&F&C1&D2&K3S7=90", "Generic string for Hayes compatible modems (most modems) "},
    {"AT&H3&I2&R2S7=90", "Basic string for US Robotics (aka 3COM) modems"},
    {"AT&F&C1&D2\\Q3S7=90", "Basic string for for Cirrus Logic/AT&&T modems (very rare)"},
    {"AT&H3&I2&R2S7=90S36=0", "For older US Robotics Sportster 28.8 or Early 33.6 models"},
    {"AT&H3&I2&R2S7=90S36=8", "For US Robotics  Late Model Sportster 33.6 models"},
    {"AT&H3&I2&R2S7=90S36=8S33=34", "For US Robotics Sportster X2 modems (56K)"},
}};

// --- Quick setup ---

TQuickSetupForm::TQuickSetupForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("QuickSetupForm");
    setWindowTitle("Quick Setup Form");
    Name = MakeEdit<QLineEdit>(this, "Name", 35);
    FaxNumber = MakeEdit<QLineEdit>(this, "FaxNumber", 20);
    auto* nameLabel = new QLabel("Your &name", this);
    nameLabel->setBuddy(Name);
    auto* faxLabel = new QLabel("Your &fax number ", this);
    faxLabel->setBuddy(FaxNumber);
    Modem = new ModemChoice(this, "Find Modem Port", "Test Modem",
                            {"Opened with TAPI", "..modem responded properly", "..however no modem was detected"});
    Finishbutton = MakeButton(this, "Finishbutton", "Ok");
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l");
    Finishbutton->setDefault(true);
    Tips[0] = foundation::gui::MakeTipButton(
        this, "AssistShowHintSpeedbutton1",
        {"Your name and fax number appear in the header line at the top of every page you send,",
         "and identify you to the fax machine you call."},
        "Quick Setup Tip", "?");
    Tips[1] = foundation::gui::MakeTipButton(
        this, "AssistShowHintSpeedbutton2",
        {"Pick the communications port your modem is on. If you do not know it, click",
         "Find Modem Port: every port from Com1 to Com8 is asked whether a modem answers."},
        "Quick Setup Tip", "?");
    Tips[2] =
        foundation::gui::MakeTipButton(this, "AssistShowHintSpeedbutton3",
                                       {"Modems that the system lists as line devices can be picked by name here.",
                                        "Test Modem opens the one picked and checks that it answers."},
                                       "Quick Setup Tip", "?");
    Tips[3] = foundation::gui::MakeTipButton(this, "AssistShowHintSpeedbutton4",
                                             {"Faxes need a fax modem on a telephone line.",
                                              "Cable, DSL and ISDN connections cannot send or receive faxes."},
                                             "Quick Setup Tip", "Are you using DSL or CABLE? Click here.");

    auto* grid = new QGridLayout;
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(Name, 0, 1);
    grid->addWidget(Tips[0], 0, 2);
    grid->addWidget(faxLabel, 1, 0);
    grid->addWidget(FaxNumber, 1, 1);
    grid->addWidget(Modem->UseComPortCheckBox, 2, 0, 1, 2);
    grid->addWidget(Tips[1], 2, 2);
    grid->addWidget(Modem->ComPort, 3, 0);
    grid->addWidget(Modem->FindModemButton, 3, 1, Qt::AlignLeft);
    grid->addWidget(Modem->UseTapiCheckbox, 4, 0, 1, 2);
    grid->addWidget(Tips[2], 4, 2);
    grid->addWidget(Modem->TapiCombo, 5, 0);
    grid->addWidget(Modem->TestTAPIButton, 5, 1, Qt::AlignLeft);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(Tips[3], 0, Qt::AlignLeft);
    layout->addLayout(ButtonRow({Finishbutton, Cancelbutton}));
    TabOrder({Name, FaxNumber, Modem->UseComPortCheckBox, Modem->ComPort, Modem->FindModemButton, Modem->UseTapiCheckbox,
              Modem->TapiCombo, Modem->TestTAPIButton, Finishbutton, Cancelbutton});
    connect(Finishbutton, &QPushButton::clicked, this, [this] { done(1); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
}

bool RunQuickSetup(QWidget* parent)
{
    TQuickSetupForm form(parent);
    foundation::LoadSettings();
    auto& s = Settings();
    const int rememberedPort = s.ComPort;
    const bool rememberedTapi = s.UseTAPI;
    form.Name->setText(QString::fromStdString(s.Name));
    form.FaxNumber->setText(QString::fromStdString(s.Fax));
    form.Modem->Load(s);
    foundation::CenterForm(form);
    if (form.exec() == 1) {
        s.PortNotConfigured = false;
        s.Name = form.Name->text().toStdString();
        s.Fax = form.FaxNumber->text().toStdString();
        form.Modem->Store(s);
        try {
            foundation::SaveSettings();
        } catch (const foundation::IniFileError& e) {
            foundation::ShowInformation(e.what());
        }
        return true;
    }
    s.PortNotConfigured = true;
    s.ComPort = rememberedPort;
    s.UseTAPI = rememberedTapi;
    return false;
}

// --- The analysis ---

SuggestFlags SuggestionsFor(const foundation::SettingsValues& s)
{
    SuggestFlags f{};
    f[1] = s.ToneOrPulse == 1;
    f[2] = s.FaxClass != 1;
    f[3] = s.MaximumBPS > 9600;
    f[4] = s.ResetString.empty();
    f[5] = s.InitString.empty();
    f[6] = s.ECM;
    f[7] = s.BlindDial;
    f[8] = s.IgnoreBusy;
    f[9] = s.FaxClassReceive != 1;
    f[10] = s.MaximumBPSReceive > 9600;
    f[11] = s.ResetString.empty();
    f[12] = s.InitStringReceive.empty();
    f[13] = s.ECMReceive;
    return f;
}

namespace {
int FirstOfMode(bool sending) { return sending ? 1 : 9; }
int LastOfMode(bool sending) { return sending ? 8 : 13; }
} // namespace

int SuggestPage(const SuggestFlags& flags, bool sending, int page, bool next)
{
    if (next) {
        for (int p = std::max(page + 1, FirstOfMode(sending)); p <= LastOfMode(sending); ++p)
            if (flags[size_t(p)])
                return p;
        return kSuggestLastPage;
    }
    for (int p = std::min(page - 1, LastOfMode(sending)); p >= FirstOfMode(sending); --p)
        if (flags[size_t(p)])
            return p;
    return 0;
}

bool SuggestProblemsFound(const SuggestFlags& flags, bool sending)
{
    for (int p = FirstOfMode(sending); p <= LastOfMode(sending); ++p)
        if (flags[size_t(p)])
            return true;
    return false;
}

SuggestButtons SuggestButtonsFor(const SuggestFlags& flags, bool sending, int page, bool anyChanged)
{
    const bool problems = SuggestProblemsFound(flags, sending);
    return {page > 0, page < kSuggestLastPage, anyChanged && problems, problems, !problems, !problems};
}

TQuickSuggest::TQuickSuggest(QWidget* parent) : QDialog(parent)
{
    setObjectName("QuickSuggest");
    setWindowTitle("Quick Configuration Analysis");
    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName("Notebook1");
    auto check = [this](const char* name, const QString& caption) {
        auto* c = new QCheckBox(caption);
        c->setObjectName(name);
        connect(c, &QCheckBox::clicked, this, [this] { SetFinishButton(); });
        return c;
    };
    auto radio = [this](const char* name, const QString& caption) {
        auto* r = new QRadioButton(caption);
        r->setObjectName(name);
        connect(r, &QRadioButton::clicked, this, [this] { SetFinishButton(); });
        return r;
    };
    auto page = [this](const char* name, std::initializer_list<QWidget*> choices) {
        auto* p = new QWidget;
        p->setObjectName(name);
        auto* l = new QVBoxLayout(p);
        auto* group = new QButtonGroup(p);
        for (QWidget* w : choices) {
            l->addWidget(w);
            if (auto* r = qobject_cast<QRadioButton*>(w))
                group->addButton(r);
        }
        l->addStretch();
        Notebook1->addWidget(p);
    };
    UseSend = radio("UseSend", "I am having trouble sending faxes");
    UseRec = radio("UseRec", "I am having trouble receiving faxes");
    UseSend->setChecked(true);
    UseTONE = check("UseTONE", "Switch to the more common TONE dialing");
    UseFaxClass1Send = check("UseFaxClass1Send", "Use Fax Class 1 for Sending faxes");
    Use9600TransferSend = check("Use9600TransferSend", "Reduce the Transfer Rate for Sending to 9600");
    UseATZ = radio("UseATZ", "Use ATZ as the reset string (recommended)");
    UseATANDF = radio("UseATANDF", "Use AT&&F as the reset string");
    UseNoReset = radio("UseNoReset", "Continue using No reset string (sometimes works better)");
    UseNoReset->setChecked(true);
    for (size_t i = 0; i < 6; ++i) {
        UseInitSend[i] = radio(QString("UseInit%1Send").arg(i + 1).toUtf8().constData(), kSuggestedInits[i].words);
        UseInitRec[i] = radio(QString("UseInit%1Rec").arg(i + 1).toUtf8().constData(), kSuggestedInits[i].words);
    }
    UseNoInitSend = radio("UseNoInitSend", "Continue Using NO Initialization string");
    UseNoInitSend->setChecked(true);
    UseDisableECMSend = check("UseDisableECMSend", "Disable Fax Error Control for Sending");
    UseDisableBlindSend = check("UseDisableBlindSend", "Disable Blind Dialing");
    UseDisableIgnoreBusySend = check("UseDisableIgnoreBusySend", "Disable the Ignore Busy Signal setting");
    UseFaxClass1Rec = check("UseFaxClass1Rec", "Use Fax Class 1 for Receiving faxes");
    Use9600TransferRec = check("Use9600TransferRec", "Reduce the Transfer Rate for Sending to 9600 for Receiving");
    UseATZRec = radio("UseATZRec", "Use ATZ as the reset string (recommended)");
    UseATANDFRec = radio("UseATANDFRec", "Use AT&&F as the reset string");
    UseNoResetRec = radio("UseNoResetRec", "Continue using No reset string (sometimes works better)");
    UseNoResetRec->setChecked(true);
    UseNoInitRec = radio("UseNoInitRec", "Continue Using NO Initialization string");
    UseNoInitRec->setChecked(true);
    UseDisableECMRec = check("UseDisableECMRec", "Disable Fax Error Control for Receiving");

    page("SendOrReceive", {UseSend, UseRec});
    page("SendPulseDial", {UseTONE});
    page("SendFaxClass", {UseFaxClass1Send});
    page("SendBPS", {Use9600TransferSend});
    page("ResetStrings", {UseATZ, UseATANDF, UseNoReset});
    page("SendInitString", {UseInitSend[0], UseInitSend[1], UseInitSend[2], UseInitSend[3], UseInitSend[4],
                            UseInitSend[5], UseNoInitSend});
    page("SendECM", {UseDisableECMSend});
    page("SendBlindDial", {UseDisableBlindSend});
    page("SendIgnoreBusy", {UseDisableIgnoreBusySend});
    page("RecFaxClass", {UseFaxClass1Rec});
    page("RecBPS", {Use9600TransferRec});
    page("RecModemReset", {UseATZRec, UseATANDFRec, UseNoResetRec});
    page("RecInitString",
         {UseInitRec[0], UseInitRec[1], UseInitRec[2], UseInitRec[3], UseInitRec[4], UseInitRec[5], UseNoInitRec});
    page("RecECM", {UseDisableECMRec});
    Conclusion =
        new QLabel(ShownText("\r\rThis concludes the Quick Config Analysis. \r\rTo save the settings, click the Finish "
                             "button.  To Cancel changes, click the \rCancel button.\r\rNote: Use the Preferences "
                             "Wizard for more options and more advanced settings"));
    Conclusion->setObjectName("Conclusion");
    NoProblems =
        new QLabel(ShownText("\r\rThe analysis did not find anything wrong with the more common Configuration "
                             "settings. \r\rPlease consult the Problem Solver for more in-depth analysis, and the "
                             "Preferences Wizard for more advanced settings."));
    NoProblems->setObjectName("NoProblems");
    for (QLabel* l : {Conclusion, NoProblems}) {
        l->setWordWrap(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    {
        auto* p = new QWidget;
        p->setObjectName("ConclusionPage");
        auto* l = new QVBoxLayout(p);
        l->addWidget(Conclusion);
        l->addWidget(NoProblems);
        l->addStretch();
        Notebook1->addWidget(p);
    }
    BackButton = MakeButton(this, "BackButton", "< Back");
    Nextbutton = MakeButton(this, "Nextbutton", "Next >");
    Finishbutton = MakeButton(this, "Finishbutton", "&Finish");
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l");
    ProblemSolverButton = MakeButton(this, "ProblemSolverButton", "Problem Solver");
    // Enter goes on to the next page.
    Nextbutton->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Notebook1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ProblemSolverButton);
    buttons->addStretch();
    for (QPushButton* b : {BackButton, Nextbutton, Finishbutton, Cancelbutton})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    setMinimumSize(520, 300);

    connect(UseSend, &QRadioButton::toggled, this, [this] {
        sending_ = UseSend->isChecked();
        SetFinishButton();
    });
    connect(BackButton, &QPushButton::clicked, this, [this] { BackButtonClick(); });
    connect(Nextbutton, &QPushButton::clicked, this, [this] { NextbuttonClick(); });
    connect(Finishbutton, &QPushButton::clicked, this, [this] { FinishbuttonClick(); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
    connect(ProblemSolverButton, &QPushButton::clicked, this, [this] { done(kProblemSolver); });

    flags_ = SuggestionsFor(Settings());
    GoTo(0);
}

int TQuickSuggest::Page() const { return Notebook1->currentIndex(); }

void TQuickSuggest::GoTo(int page)
{
    Notebook1->setCurrentIndex(page);
    SetFinishButton();
}

void TQuickSuggest::NextbuttonClick() { GoTo(SuggestPage(flags_, sending_, Page(), true)); }

void TQuickSuggest::BackButtonClick() { GoTo(SuggestPage(flags_, sending_, Page(), false)); }

bool TQuickSuggest::AnyChanged() const
{
    auto anyInit = [](const std::array<QRadioButton*, 6>& choices) {
        for (QRadioButton* r : choices)
            if (r->isChecked())
                return true;
        return false;
    };
    if (sending_)
        return UseTONE->isChecked() || UseFaxClass1Send->isChecked() || Use9600TransferSend->isChecked()
               || UseATZ->isChecked() || UseATANDF->isChecked() || anyInit(UseInitSend)
               || UseDisableECMSend->isChecked() || UseDisableBlindSend->isChecked()
               || UseDisableIgnoreBusySend->isChecked();
    return UseFaxClass1Rec->isChecked() || Use9600TransferRec->isChecked() || UseATZRec->isChecked()
           || UseATANDFRec->isChecked() || anyInit(UseInitRec) || UseDisableECMRec->isChecked();
}

void TQuickSuggest::SetFinishButton()
{
    const SuggestButtons b = SuggestButtonsFor(flags_, sending_, Page(), AnyChanged());
    BackButton->setEnabled(b.back);
    Nextbutton->setEnabled(b.next);
    Finishbutton->setEnabled(b.finish);
    Conclusion->setVisible(b.conclusion);
    NoProblems->setVisible(b.noProblems);
    ProblemSolverButton->setVisible(b.problemSolver);
}

void TQuickSuggest::FinishbuttonClick()
{
    auto& s = Settings();
    auto chosenInit = [](const std::array<QRadioButton*, 6>& choices, std::string& init) {
        for (size_t i = 0; i < choices.size(); ++i)
            if (choices[i]->isChecked())
                init = kSuggestedInits[i].init;
    };
    if (sending_) {
        if (UseATZ->isChecked())
            s.ResetString = "ATZ";
        if (UseATANDF->isChecked())
            s.ResetString = "AT&F";
        if (UseTONE->isChecked())
            s.ToneOrPulse = 0;
        if (UseFaxClass1Send->isChecked())
            s.FaxClass = 1;
        if (Use9600TransferSend->isChecked())
            s.MaximumBPS = 9600;
        chosenInit(UseInitSend, s.InitString);
        if (UseDisableECMSend->isChecked())
            s.ECM = false;
        if (UseDisableBlindSend->isChecked())
            s.BlindDial = false;
        if (UseDisableIgnoreBusySend->isChecked())
            s.IgnoreBusy = false;
    } else {
        if (UseATZRec->isChecked())
            s.ResetString = "ATZ";
        if (UseATANDFRec->isChecked())
            s.ResetString = "AT&F";
        if (UseFaxClass1Rec->isChecked())
            s.FaxClassReceive = 1;
        if (Use9600TransferRec->isChecked())
            s.MaximumBPSReceive = 9600;
        chosenInit(UseInitRec, s.InitStringReceive);
        if (UseDisableECMRec->isChecked())
            s.ECMReceive = false;
    }
    done(1);
}

} // namespace zn::app
