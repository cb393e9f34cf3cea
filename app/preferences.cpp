#include "app/preferences.h"

#include "app/form_controls.h"
#include "app/main_screen.h"
#include "app/modem_choice.h"
#include "app/modem_forms.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/gui/assist_hint_button.h"
#include "foundation/gui/assistant_help.h"
#include "foundation/modem_probe.h"
#include "foundation/printer_choice.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "foundation/text_values.h"
#include "platform/folders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <limits>

namespace zn::app {

using foundation::Settings;

const std::array<const char*, TPreferences::kPageCount> TPreferences::kPageTitles = {
    "Wizard Information",       "Modem and Communications Port", "Sending Faxes - Part 1",
    "Sending Faxes - Part 2",   "Sending Faxes - Part 3",        "Receiving Faxes - Part 1",
    "Receiving Faxes - Part 2", "Receiving Faxes - Part 3",      "Advanced",
};

namespace {

constexpr const char* kDefaultPrinter = "Default Windows Printer";
// The send component counts attempts and seconds in 16 bits.
constexpr int kMaxDialAttempts = std::numeric_limits<uint16_t>::max();
constexpr int kMaxRetryWait = std::numeric_limits<uint16_t>::max();

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption)
{
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QComboBox* Combo(QWidget* parent, const char* name, const QStringList& items)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->addItems(items);
    return c;
}

QLineEdit* Edit(QWidget* parent, const char* name, int maxLength = 255)
{
    return MakeEdit<QLineEdit>(parent, name, maxLength);
}

QSpinBox* Spin(QWidget* parent, const char* name, int low, int high)
{
    auto* s = new QSpinBox(parent);
    s->setObjectName(name);
    s->setRange(low, high);
    return s;
}

const QStringList kRates = {"2400", "4800", "7200", "9600", "12000", "14400"};

// A page: a form layout of captioned rows.
QFormLayout* NewPage(QStackedWidget* book, const char* name)
{
    auto* page = new QWidget;
    page->setObjectName(name);
    auto* form = new QFormLayout(page);
    book->addWidget(page);
    return form;
}

QWidget* Row(std::initializer_list<QWidget*> widgets)
{
    auto* w = new QWidget;
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    for (QWidget* x : widgets)
        l->addWidget(x);
    l->addStretch();
    return w;
}

foundation::gui::TAssistShowHintSpeedbutton* Tip(QWidget* parent, const char* name, const QStringList& lines)
{
    return foundation::gui::MakeTipButton(parent, name, lines, "Preferences Tip");
}

} // namespace

TPreferences::TPreferences(QWidget* parent) : QDialog(parent)
{
    setObjectName("Preferences");
    setWindowTitle("Preferences Wizard");
    Notebook1 = new QStackedWidget(this);
    Notebook1->setObjectName("Notebook1");
    PageCombo = new QComboBox(this);
    PageCombo->setObjectName("PageCombo");
    for (const char* t : kPageTitles)
        PageCombo->addItem(t);
    PageLabel = new QLabel(this);
    PageLabel->setObjectName("PageLabel");
    QFont big = PageLabel->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    PageLabel->setFont(big);

    // 0: the wizard's introduction.
    {
        QFormLayout* f = NewPage(Notebook1, "WizardInformation");
        auto* text = new QLabel("This wizard takes you through the settings of the modem, of sending and of "
                                "receiving faxes. Click Next > to go from page to page, or pick a page from the "
                                "list above. Click Finish to keep your changes.");
        text->setWordWrap(true);
        f->addRow(text);
    }
    // 1: modem and port.
    {
        QFormLayout* f = NewPage(Notebook1, "ModemAndPort");
        Modem = new ModemChoice(this, "Find Modem", "Test TAPI",
                                {"Opened the port", "..and the modem responded properly",
                                 "..however no modem was detected (modem did not respond)"});
        ToneOrPulse = Combo(this, "ToneOrPulse", {"Tone", "Pulse"});
        ResetString = Edit(this, "ResetString");
        UseATZBeforeButton = MakeButton(this, "UseATZBeforeButton", "ATZ");
        ResetAfterString = Edit(this, "ResetAfterString");
        UseATZAfterButton = MakeButton(this, "UseATZAfterButton", "ATZ");
        f->addRow(Modem->UseTapiCheckbox);
        f->addRow(Row({Modem->TapiCombo, Modem->TestTAPIButton}));
        f->addRow(Modem->UseComPortCheckBox);
        f->addRow(Row({Modem->ComPort, Modem->FindModemButton,
                       Tip(this, "AssistShowHintSpeedbutton1",
                           {"Find Modem asks every port from Com1 to Com8 whether a modem answers,",
                            "and suggests the first port where one does."})}));
        f->addRow("Dialing:", ToneOrPulse);
        f->addRow("Reset string before a fax:", Row({ResetString, UseATZBeforeButton}));
        f->addRow("Reset string after a fax:", Row({ResetAfterString, UseATZAfterButton}));
    }
    // 2: sending, part 1.
    {
        QFormLayout* f = NewPage(Notebook1, "SendingPart1");
        FaxClass = new TRadioGroup(this, "FaxClass", "Fax class",
                                   {"auto detect", "class 1 (recommended)", "class 2", "class 2.0"});
        CheckFaxClassButton = MakeButton(this, "CheckFaxClassButton", "Check Fax Class");
        TransferRate = Combo(this, "TransferRate", kRates);
        ModemInit = Edit(this, "ModemInit");
        HelpWithInitbutton = MakeButton(this, "HelpWithInitbutton", "Help me");
        f->addRow(Row({FaxClass, CheckFaxClassButton}));
        f->addRow("Maximum transfer rate:", TransferRate);
        f->addRow("Modem initialization string:", Row({ModemInit, HelpWithInitbutton}));
    }
    // 3: sending, part 2.
    {
        QFormLayout* f = NewPage(Notebook1, "SendingPart2");
        FaxNumber = Edit(this, "FaxNumber", 20);
        Name = Edit(this, "Name", 35);
        Company = Edit(this, "Company", 35);
        Voicenumber = Edit(this, "Voicenumber", 20);
        UseECM = Check(this, "UseECM", "Use fax error control (ECM)");
        DialPrefix = Edit(this, "DialPrefix", 20);
        DialSuffix = Edit(this, "DialSuffix", 20);
        f->addRow("Your fax number:", FaxNumber);
        f->addRow("Your name:", Name);
        f->addRow("Company:", Company);
        f->addRow("Voice number:", Voicenumber);
        f->addRow(UseECM);
        f->addRow("Dial prefix:", DialPrefix);
        f->addRow("Dial suffix:", DialSuffix);
    }
    // 4: sending, part 3.
    {
        QFormLayout* f = NewPage(Notebook1, "SendingPart3");
        CheckBlindDial = Check(this, "CheckBlindDial", "Blind dial (do not wait for the dial tone)");
        DialAttempts = Spin(this, "DialAttempts", 1, kMaxDialAttempts);
        RetryWait = Spin(this, "RetryWait", 0, kMaxRetryWait);
        CheckIgnoreBusy = Check(this, "CheckIgnoreBusy", "Ignore the busy signal");
        RenegotiateBetween = Check(this, "RenegotiateBetween", "Renegotiate between pages");
        f->addRow(CheckBlindDial);
        f->addRow("Dial attempts:", DialAttempts);
        f->addRow("Seconds between attempts:", RetryWait);
        f->addRow(CheckIgnoreBusy);
        f->addRow(RenegotiateBetween);
    }
    // 5: receiving, part 1.
    {
        QFormLayout* f = NewPage(Notebook1, "ReceivingPart1");
        FaxClassReceive =
            new TRadioGroup(this, "FaxClassReceive", "Fax class", {"auto detect", "class 1", "class 2", "class 2.0"});
        CheckRecFaxClassbutton = MakeButton(this, "CheckRecFaxClassbutton", "Check Fax Class");
        RecClassSameAsSendButton = MakeButton(this, "RecClassSameAsSendButton", "Same as Sending");
        TransferRateReceive = Combo(this, "TransferRateReceive", kRates);
        TransferRateReceiveNote = new QLabel("Note: We recommend maximum 9600", this);
        TransferRateReceiveNote->setObjectName("TransferRateReceiveNote");
        ModemInitReceive = Edit(this, "ModemInitReceive");
        RecInitSameAsSendButton = MakeButton(this, "RecInitSameAsSendButton", "Same as Sending");
        HelpWithInitRECButton = MakeButton(this, "HelpWithInitRECButton", "Help me");
        f->addRow(Row({FaxClassReceive, CheckRecFaxClassbutton, RecClassSameAsSendButton}));
        f->addRow("Maximum transfer rate:", Row({TransferRateReceive, TransferRateReceiveNote}));
        f->addRow("Modem initialization string:", ModemInitReceive);
        f->addRow(Row({RecInitSameAsSendButton, HelpWithInitRECButton}));
    }
    // 6: receiving, part 2.
    {
        QFormLayout* f = NewPage(Notebook1, "ReceivingPart2");
        AnswerOnRing = Combo(this, "AnswerOnRing", {"1", "2", "3", "4", "5", "6", "7", "8"});
        ReceiveAtStartup = Check(this, "ReceiveAtStartup", "Start receiving faxes when the program starts");
        UseECMReceive = Check(this, "UseECMReceive", "Use fax error control (ECM)");
        f->addRow("Answer on ring:", AnswerOnRing);
        f->addRow(ReceiveAtStartup);
        f->addRow(UseECMReceive);
    }
    // 7: receiving, part 3.
    {
        QFormLayout* f = NewPage(Notebook1, "ReceivingPart3");
        WaveFileEdit = Edit(this, "WaveFileEdit");
        SelectWavButton = MakeButton(this, "SelectWavButton", "Select...");
        PlayWAVbutton = MakeButton(this, "PlayWAVbutton", "Play");
        NoWAVButton = MakeButton(this, "NoWAVButton", "None");
        PrintFaxOnReceipt = Check(this, "PrintFaxOnReceipt", "Print each fax when it arrives");
        PrintFaxOnReceiptPrinter = Combo(this, "PrintFaxOnReceiptPrinter", {});
        DisableReceivingFaxesNotification =
            Check(this, "DisableReceivingFaxesNotification", "Do not show the notice when receiving starts");
        f->addRow("Sound when a fax arrives:", WaveFileEdit);
        f->addRow(Row({SelectWavButton, PlayWAVbutton, NoWAVButton}));
        f->addRow(PrintFaxOnReceipt);
        f->addRow("Printer:", PrintFaxOnReceiptPrinter);
        f->addRow(DisableReceivingFaxesNotification);
    }
    // 8: advanced.
    {
        QFormLayout* f = NewPage(Notebook1, "Advanced");
        UseAltHeaderFont = Check(this, "UseAltHeaderFont", "Draw the header line with the built-in fax font");
        UseAlternateNameReceive = Check(this, "UseAlternateNameReceive", "Name received faxes by date");
        UseLargerSendBuffer = Check(this, "UseLargerSendBuffer", "Use a larger send buffer");
        UseLargerReceiveBuffer = Check(this, "UseLargerReceiveBuffer", "Use a larger receive buffer");
        UseAlternateFaxViewer = Check(this, "UseAlternateFaxViewer", "Use the alternate fax viewer");
        for (QCheckBox* c : {UseAltHeaderFont, UseAlternateNameReceive, UseLargerSendBuffer, UseLargerReceiveBuffer,
                             UseAlternateFaxViewer})
            f->addRow(c);
    }

    BackButton = MakeButton(this, "BackButton", "< Back");
    Nextbutton = MakeButton(this, "Nextbutton", "Next >");
    Finishbutton = MakeButton(this, "Finishbutton", "&Finish");
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l");
    HelpButton = MakeButton(this, "HelpButton", "&Help");
    ProblemSolverButton = MakeButton(this, "ProblemSolverButton", "Problem Solver");
    // Enter goes on to the next page.
    Nextbutton->setDefault(true);

    auto* top = new QHBoxLayout;
    top->addWidget(PageLabel, 1);
    top->addWidget(PageCombo);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(HelpButton);
    buttons->addWidget(ProblemSolverButton);
    buttons->addStretch();
    for (QPushButton* b : {BackButton, Nextbutton, Finishbutton, Cancelbutton})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(Notebook1, 1);
    layout->addLayout(buttons);
    setMinimumSize(600, 400);
    // Each page's controls in reading order; they come before the buttons, which go left to right.
    TabOrder({Modem->UseTapiCheckbox, Modem->TapiCombo, Modem->TestTAPIButton, Modem->UseComPortCheckBox, Modem->ComPort,
              Modem->FindModemButton, ToneOrPulse, ResetString, UseATZBeforeButton, ResetAfterString,
              UseATZAfterButton});
    TabOrder(FaxClass->ThenTab({CheckFaxClassButton, TransferRate, ModemInit, HelpWithInitbutton}));
    TabOrder(FaxClassReceive->ThenTab({CheckRecFaxClassbutton, RecClassSameAsSendButton, TransferRateReceive,
                                       ModemInitReceive, RecInitSameAsSendButton, HelpWithInitRECButton}));
    TabOrder({WaveFileEdit, SelectWavButton, PlayWAVbutton, NoWAVButton, PrintFaxOnReceipt, PrintFaxOnReceiptPrinter,
              DisableReceivingFaxesNotification});
    TabOrder({HelpButton, ProblemSolverButton, BackButton, Nextbutton, Finishbutton, Cancelbutton});

    // FormCreate: the printers with the default first, page 0.
    PrintFaxOnReceiptPrinter->addItem(kDefaultPrinter);
    for (const std::string& p : foundation::PrinterNames())
        PrintFaxOnReceiptPrinter->addItem(QString::fromStdString(p));

    connect(BackButton, &QPushButton::clicked, this, [this] { SetPage(Page() - 1); });
    connect(Nextbutton, &QPushButton::clicked, this, [this] { SetPage(Page() + 1); });
    connect(PageCombo, qOverload<int>(&QComboBox::activated), this, [this](int i) { SetPage(i); });
    connect(Finishbutton, &QPushButton::clicked, this, [this] { FinishbuttonClick(); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
    connect(HelpButton, &QPushButton::clicked, this, [this] {
        const int page = Page();
        foundation::ShowHelpContext(page == 1                ? foundation::kPreferencesModemHelpContext
                                    : page >= 2 && page <= 4 ? foundation::kPreferencesSendingHelpContext
                                    : page >= 5 && page <= 7 ? foundation::kPreferencesReceivingHelpContext
                                                             : foundation::kPreferencesHelpContext);
    });
    connect(ProblemSolverButton, &QPushButton::clicked, this, [] { foundation::ShowGeneralHelp(); });
    connect(UseATZBeforeButton, &QPushButton::clicked, this, [this] { ResetString->setText("ATZ"); });
    connect(UseATZAfterButton, &QPushButton::clicked, this, [this] { ResetAfterString->setText("ATZ"); });
    connect(RecClassSameAsSendButton, &QPushButton::clicked, this,
            [this] { FaxClassReceive->setCurrentIndex(FaxClass->currentIndex()); });
    connect(RecInitSameAsSendButton, &QPushButton::clicked, this,
            [this] { ModemInitReceive->setText(ModemInit->text()); });
    connect(HelpWithInitbutton, &QPushButton::clicked, this, [this] {
        ModemInit->setText(QString::fromStdString(ModemInitStringHelper(this, ModemInit->text().toStdString(), true)));
    });
    connect(HelpWithInitRECButton, &QPushButton::clicked, this, [this] {
        ModemInitReceive->setText(
            QString::fromStdString(ModemInitStringHelper(this, ModemInitReceive->text().toStdString(), false)));
    });
    connect(NoWAVButton, &QPushButton::clicked, this, [this] { WaveFileEdit->clear(); });
    connect(PlayWAVbutton, &QPushButton::clicked, this, [this] { PlayWAVbuttonClick(); });
    connect(SelectWavButton, &QPushButton::clicked, this, [this] { SelectWavButtonClick(); });
    connect(CheckFaxClassButton, &QPushButton::clicked, this, [this] { CheckFaxClassButtonClick(true); });
    connect(CheckRecFaxClassbutton, &QPushButton::clicked, this, [this] { CheckFaxClassButtonClick(false); });
    connect(TransferRateReceive, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { TransferRateReceiveChange(); });
    Modem->FxComPort1.SetTraceSize(32000);
    SetPage(0);
}

TPreferences::~TPreferences() = default;

int TPreferences::Page() const { return Notebook1->currentIndex(); }

void TPreferences::SetPage(int page)
{
    if (page < 0 || page >= kPageCount)
        return;
    Notebook1->setCurrentIndex(page);
    SetButtons();
}

void TPreferences::SetButtons()
{
    const int page = Page();
    BackButton->setEnabled(page > 0);
    Nextbutton->setEnabled(page < kPageCount - 1);
    // A first setup walks through every page before it can finish.
    Finishbutton->setEnabled(page == kPageCount - 1 || !FirstSetup);
    PageCombo->setCurrentIndex(page);
    PageLabel->setText(kPageTitles[size_t(page)]);
}

void TPreferences::TransferRateReceiveChange()
{
    TransferRateReceiveNote->setVisible(TransferRateReceive->currentIndex() > 3);
}

void TPreferences::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    TransferRateReceiveChange();
    SetButtons();
}

void TPreferences::LoadFromSettings()
{
    const auto& s = Settings();
    Modem->Load(s);
    ToneOrPulse->setCurrentIndex(s.ToneOrPulse == 0 ? 0 : 1);
    ResetString->setText(QString::fromStdString(s.ResetString));
    ResetAfterString->setText(QString::fromStdString(s.AfterString));
    FaxClass->setCurrentIndex(s.FaxClass);
    TransferRate->setCurrentIndex(foundation::BpsToIndex(s.MaximumBPS));
    ModemInit->setText(QString::fromStdString(s.InitString));
    FaxNumber->setText(QString::fromStdString(s.Fax));
    Name->setText(QString::fromStdString(s.Name));
    Company->setText(QString::fromStdString(s.Company));
    Voicenumber->setText(QString::fromStdString(s.Voice));
    UseECM->setChecked(s.ECM);
    DialPrefix->setText(QString::fromStdString(s.DialPrefix));
    DialSuffix->setText(QString::fromStdString(s.DialSuffix));
    CheckBlindDial->setChecked(s.BlindDial);
    DialAttempts->setValue(s.DialAttempts);
    RetryWait->setValue(s.RetryWait);
    CheckIgnoreBusy->setChecked(s.IgnoreBusy);
    RenegotiateBetween->setChecked(s.RenegotiateBetween);
    FaxClassReceive->setCurrentIndex(s.FaxClassReceive);
    TransferRateReceive->setCurrentIndex(foundation::BpsToIndexReceive(s.MaximumBPSReceive));
    ModemInitReceive->setText(QString::fromStdString(s.InitStringReceive));
    AnswerOnRing->setCurrentIndex(s.AnswerOnRing >= 1 && s.AnswerOnRing <= 8 ? s.AnswerOnRing - 1 : 0);
    ReceiveAtStartup->setChecked(s.AtStartup);
    UseECMReceive->setChecked(s.ECMReceive);
    WaveFileEdit->setText(QString::fromStdString(s.Wav));
    PrintFaxOnReceipt->setChecked(s.PrintOnReceipt);
    const int printer = PrintFaxOnReceiptPrinter->findText(QString::fromStdString(s.PrintOnReceiptPrinter));
    PrintFaxOnReceiptPrinter->setCurrentIndex(printer >= 0 ? printer : 0);
    DisableReceivingFaxesNotification->setChecked(s.DisableReceivingFaxesNotification);
    UseAltHeaderFont->setChecked(s.UseAlternateHeaderFont);
    UseAlternateNameReceive->setChecked(s.GlobalUseAlternateNamingRec);
    UseLargerSendBuffer->setChecked(s.GlobalLargerSendBuffer);
    UseLargerReceiveBuffer->setChecked(s.GlobalLargerReceiveBuffer);
    UseAlternateFaxViewer->setChecked(s.UseAlternateFaxViewer);
    TransferRateReceiveChange();
}

void TPreferences::StoreToSettings()
{
    auto& s = Settings();
    Modem->Store(s);
    s.ToneOrPulse = ToneOrPulse->currentIndex();
    s.ResetString = ResetString->text().toStdString();
    s.AfterString = ResetAfterString->text().toStdString();
    s.FaxClass = FaxClass->currentIndex();
    s.MaximumBPS = foundation::IndexToBps(TransferRate->currentIndex());
    s.InitString = ModemInit->text().toStdString();
    s.Fax = FaxNumber->text().toStdString();
    s.Name = Name->text().toStdString();
    s.Company = Company->text().toStdString();
    s.Voice = Voicenumber->text().toStdString();
    s.ECM = UseECM->isChecked();
    s.DialPrefix = DialPrefix->text().toStdString();
    s.DialSuffix = DialSuffix->text().toStdString();
    s.BlindDial = CheckBlindDial->isChecked();
    s.DialAttempts = DialAttempts->value();
    s.RetryWait = RetryWait->value();
    s.IgnoreBusy = CheckIgnoreBusy->isChecked();
    s.RenegotiateBetween = RenegotiateBetween->isChecked();
    s.FaxClassReceive = FaxClassReceive->currentIndex();
    s.MaximumBPSReceive = foundation::IndexToBps(TransferRateReceive->currentIndex());
    s.InitStringReceive = ModemInitReceive->text().toStdString();
    s.AnswerOnRing = AnswerOnRing->currentIndex() + 1;
    s.AtStartup = ReceiveAtStartup->isChecked();
    s.ECMReceive = UseECMReceive->isChecked();
    s.Wav = WaveFileEdit->text().toStdString();
    s.PrintOnReceipt = PrintFaxOnReceipt->isChecked();
    // The system's own fax printer cannot print what it receives: it stands for the default one.
    const QString printer = PrintFaxOnReceiptPrinter->currentText();
    s.PrintOnReceiptPrinter = printer.toUpper().contains("TARVEL") ? kDefaultPrinter : printer.toStdString();
    s.DisableReceivingFaxesNotification = DisableReceivingFaxesNotification->isChecked();
    s.UseAlternateHeaderFont = UseAltHeaderFont->isChecked();
    s.GlobalUseAlternateNamingRec = UseAlternateNameReceive->isChecked();
    s.GlobalLargerSendBuffer = UseLargerSendBuffer->isChecked();
    s.GlobalLargerReceiveBuffer = UseLargerReceiveBuffer->isChecked();
    s.UseAlternateFaxViewer = UseAlternateFaxViewer->isChecked();
}

void TPreferences::FinishbuttonClick()
{
    if (foundation::AskYesNo("Save changes?", "Save Preferences"))
        done(1);
}

void TPreferences::CheckFaxClassButtonClick(bool sending)
{
    const bool tapi = Modem->UseTapi();
    const std::string device = tapi ? Modem->SelectedDevice() : std::string();
    if (tapi)
        foundation::CloseTapiPort(Modem->FxTapiDevice1);
    int found = -1;
    {
        TCheckFaxClassForm check(Modem->FxComPort1, FxSendFax1, Modem->FxTapiDevice1, this);
        check.ComNumber = Modem->ComPort->currentIndex() + 1;
        check.UseTapi = tapi;
        check.TapiDeviceName = device;
        foundation::CenterForm(check);
        check.exec();
        found = check.RecommendedIndex;
    }
    TRadioGroup* classes = sending ? FaxClass : FaxClassReceive;
    if (found >= 0 && found + 1 != classes->currentIndex()
        && foundation::AskYesNo("Set fax class as " + foundation::FaxClassToText(found + 1) + " ?", "Fax Class"))
        classes->setCurrentIndex(found + 1);
    if (tapi)
        foundation::CloseTapiPort(Modem->FxTapiDevice1);
}

void TPreferences::PlayWAVbuttonClick()
{
    const std::string wav = WaveFileEdit->text().toStdString();
    if (wav.empty() || !platform::FileExistsCI(wav))
        return;
    const std::string path = platform::ResolvePath(wav);
    if (PlaySound) {
        PlaySound(path);
        return;
    }
    PlayWaveFile(this, path);
}

void TPreferences::SelectWavButtonClick()
{
    const QString folder = QString::fromStdString(foundation::GetProgramFolder());
    const std::string current = WaveFileEdit->text().toStdString();
    const QString preset =
        !current.empty() && platform::FileExistsCI(current) ? QString::fromStdString(current) : QString();
    const QString chosen =
        ChooseWaveFile
            ? ChooseWaveFile(folder, preset)
            : QFileDialog::getOpenFileName(this, "Open", preset.isEmpty() ? folder : preset, "WAVE files (*.wav)");
    if (chosen.toUpper().contains(".WAV"))
        WaveFileEdit->setText(chosen);
}

bool EditPreferences(QWidget* parent)
{
    TPreferences wizard(parent);
    wizard.FirstSetup = Settings().PortNotConfigured;
    // Cleared while the wizard is open; a wizard that is not finished gives the old state back, so
    // that quick setup still comes before the first fax.
    foundation::WizardPortState portState;
    wizard.LoadFromSettings();
    wizard.SetButtons();
    foundation::CenterForm(wizard);
    if (wizard.exec() != 1)
        return false;
    wizard.StoreToSettings();
    portState.Finished();
    try {
        foundation::SaveSettings();
    } catch (const foundation::IniFileError& e) {
        foundation::ShowInformation(e.what());
        return false;
    }
    return true;
}

} // namespace zn::app
