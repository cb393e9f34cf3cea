#include "app/modem_forms.h"

#include "app/form_controls.h"
#include "comms/base/error_codes.h"
#include "comms/base/exceptions.h"
#include "comms/base/fx_misc.h"
#include "comms/fax/fax_components.h"
#include "comms/port/com_port.h"
#include "comms/tapi/tapi_device.h"
#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/modem_probe.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <functional>

namespace zn::app {
namespace {

constexpr int32_t kOpenPauseTicks = 12;

std::string Upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

// Runs `work` once the dialog is on the screen, so that the user sees it while the modem answers.
void AfterShowing(QDialog* dialog, std::function<void()> work) { QTimer::singleShot(0, dialog, std::move(work)); }

// The result is in: Ok appears as the window's default button, with the focus, so that Enter and
// Space close the window as they close any message.
void ShowResultOk(QPushButton* ok)
{
    ok->setVisible(true);
    ok->setDefault(true);
    ok->setFocus(Qt::OtherFocusReason);
}

} // namespace

// --- Port scan ---

TFindModemForm::TFindModemForm(comms::TFxCustomComPort& port, QWidget* parent) : QDialog(parent), port_(port)
{
    setObjectName("FindModemForm");
    setWindowTitle("Finding Modem...Please wait");
    title = MakeLabel(this, "title", "Communications Ports:");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    for (int i = 0; i < 8; ++i) {
        const std::string name = "Label" + std::to_string(i + 1);
        Labels[size_t(i)] = MakeLabel(this, name.c_str(), QString("Com %1:").arg(i + 1));
        layout->addWidget(Labels[size_t(i)]);
    }
    infolabel = MakeLabel(this, "infolabel", "Testing Communications ports...please wait.");
    infolabel->setWordWrap(true);
    infolabel->setMinimumWidth(380);
    infolabel->setMinimumHeight(QFontMetrics(infolabel->font()).height() * 4);
    layout->addWidget(infolabel);
    OkButton = MakeButton(this, "OkButton", "Ok");
    OkButton->setVisible(false);
    layout->addLayout(ButtonRow({OkButton}));
    connect(OkButton, &QPushButton::clicked, this, [this] { done(1); });
}

void TFindModemForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    AfterShowing(this, [this] { FormActivate(); });
}

void TFindModemForm::reject()
{
    // The scan holds the port and waits inside this window: it cannot be closed under it.
    if (!busy_)
        QDialog::reject();
}

std::string TFindModemForm::ProbePort(int number, bool& inUse)
{
    std::string text = "Com " + std::to_string(number) + ": ";
    try {
        port_.SetOpen(true);
        if (port_.Open() && foundation::CheckModemResponds(port_)) {
            text += "MODEM";
            if (result_ < 0)
                result_ = number;
        } else {
            text += "Unknown";
        }
    } catch (const comms::EFXException& e) {
        const int code = e.ErrorCode();
        if (code == comms::ecAlreadyOpen || code == comms::ecHardware) {
            text += "Port is already open (could be modem)";
            inUse = true;
        } else if (code == comms::ecBadId) {
            text += "Port does not exist";
        } else {
            const std::string known = comms::ErrorCodeToText(code);
            text += known.empty() ? "Unknown Error" : known;
        }
    } catch (const std::exception& e) {
        text += std::string("ERROR: ") + e.what();
    }
    try {
        port_.SetOpen(false);
    } catch (const std::exception&) {
    }
    return text;
}

void TFindModemForm::FormActivate()
{
    if (busy_)
        return;
    busy_ = true;
    OkButton->setVisible(false);
    result_ = -1;
    bool inUse = false;
    {
        WaitCursor hourGlass;
        try {
            for (int i = 1; i <= 8; ++i) {
                QLabel* label = Labels[size_t(i - 1)];
                label->setText(QString("Com %1: TESTING").arg(i));
                QApplication::processEvents();
                port_.SetComNumber(uint16_t(i));
                label->setText(QString::fromStdString(ProbePort(i, inUse)));
            }
        } catch (const std::exception&) {
            // The port refused its number: the ports left are not scanned.
        }
    }
    const QString n = QString::number(result_);
    if (result_ > 0)
        infolabel->setText("A modem was found on Com Port " + n + ". " + "We suggest setting the Port as Com " + n
                           + ".");
    else if (inUse)
        infolabel->setText("No modem found. Please make sure that all communication programs (internet, AOL, etc) "
                           "are closed, and then try again. If you know which Com port your modem uses, you can also "
                           "just set the Port to that setting");
    else
        infolabel->setText("No modem found. If you know which Com port your modem uses, you can also just set the "
                           "Port to that setting. Please note that Tarveldoes not work with CABLE, DSL or ISDN "
                           "connections.");
    ShowResultOk(OkButton);
    setWindowTitle("Find Modem");
    QApplication::beep();
    busy_ = false;
    scanned_ = true;
}

// --- Fax-class check ---

FaxClassReport ReportFaxClasses(bool class1, bool class2, bool class20)
{
    FaxClassReport r;
    r.label3 = class20 ? "Class 2.0 : Supported" : "Class 2.0 : Not Supported";
    r.label2 = class2 ? "Class 2   : Supported" : "Class 2   : Not Supported";
    r.label1 = class1 ? "Class 1   : Supported" : "Class 1   : Not Supported";
    if (class1) {
        r.recommended = 0;
        r.name = "Class 1";
        r.label1 += " (recommended)";
    } else if (class2) {
        r.recommended = 1;
        r.name = "Class 2";
        r.label2 += " (recommended)";
    } else if (class20) {
        r.recommended = 2;
        r.name = "Class 2.0";
        r.label3Bold = true;
    }
    if (r.recommended >= 0)
        r.status = "Try using the recommended Fax Class (" + r.name + "). " + "\r" + "\r"
                   + "If you experience problems, try other supported classes or auto detect.";
    return r;
}

FaxClassReport UnknownFaxClasses()
{
    FaxClassReport r;
    r.label1 = "Class 1   : unknown";
    r.label2 = "Class 2   : unknown";
    r.label3 = "Class 2.0 : unknown";
    return r;
}

TCheckFaxClassForm::TCheckFaxClassForm(comms::TFxCustomComPort& port, comms::TFxCustomAbstractFax& fax,
                                       comms::TFxCustomTapiDevice& tapi, QWidget* parent)
    : QDialog(parent), port_(port), fax_(fax), tapi_(tapi)
{
    setObjectName("CheckFaxClassForm");
    setWindowTitle("Finding Fax Class...Please wait");
    Label8 = MakeLabel(this, "Label8", "Fax Classes:");
    Label1 = MakeLabel(this, "Label1", "Class 1 :");
    Label2 = MakeLabel(this, "Label2", "Class 2 :");
    Label3 = MakeLabel(this, "Label3", "Class 2.0 :");
    Status = MakeLabel(this, "Status", "Testing Fax Classes...please wait.");
    Status->setWordWrap(true);
    Status->setMinimumWidth(400);
    Status->setMinimumHeight(QFontMetrics(Status->font()).height() * 4);
    OkButton = MakeButton(this, "OkButton", "Ok");
    OkButton->setVisible(false);
    auto* layout = new QVBoxLayout(this);
    for (QLabel* l : {Label8, Label1, Label2, Label3, Status})
        layout->addWidget(l);
    layout->addLayout(ButtonRow({OkButton}));
    connect(OkButton, &QPushButton::clicked, this, [this] { done(1); });
}

void TCheckFaxClassForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    AfterShowing(this, [this] { CheckTheFaxClasses(); });
}

void TCheckFaxClassForm::reject()
{
    if (!busy_)
        QDialog::reject();
}

void TCheckFaxClassForm::ShowReport(const FaxClassReport& report)
{
    Label1->setText(report.label1);
    Label2->setText(report.label2);
    Label3->setText(report.label3);
    QFont bold = Label3->font();
    bold.setBold(report.label3Bold);
    Label3->setFont(bold);
}

std::string TCheckFaxClassForm::DetermineFaxClassSupport()
{
    Status->setText("Querying modem Fax Class support...");
    QApplication::processEvents();
    std::string answer = "OK";
    try {
        fax_.SetComPort(&port_);
        const comms::TFaxClassSet classes = fax_.GetSupportedFaxClasses();
        Class1 = classes.count(comms::fcClass1) > 0;
        Class2 = classes.count(comms::fcClass2) > 0;
        Class20 = classes.count(comms::fcClass2_0) > 0;
        if (!Class1 && !Class2 && !Class20)
            answer = "Unable to determine Fax Class support from modem on Com " + std::to_string(ComNumber);
    } catch (const std::exception&) {
        Class1 = Class2 = Class20 = false;
        answer = "Unable to determine Fax Class support from modem on Com " + std::to_string(ComNumber);
    }
    Status->clear();
    return answer;
}

void TCheckFaxClassForm::CheckTheFaxClasses()
{
    if (busy_)
        return;
    busy_ = true;
    Class1 = Class2 = Class20 = false;
    RecommendedIndex = -1;
    RecommendedName.clear();
    const std::string n = std::to_string(ComNumber);
    Status->setText("Opening Com Port...please wait");
    QApplication::processEvents();
    std::string message;
    bool opened;
    if (UseTapi) {
        Status->setText(QString::fromStdString("Opening " + TapiDeviceName + "...please wait"));
        QApplication::processEvents();
        opened = foundation::OpenTapiPort(tapi_, TapiDeviceName, port_, message);
    } else {
        port_.SetComNumber(uint16_t(ComNumber));
        opened = foundation::OpenComPort(port_, message);
    }
    if (!opened) {
        Status->setText(ShownText(QString::fromStdString(message)));
        ShowReport(UnknownFaxClasses());
    } else {
        comms::DelayTicks(kOpenPauseTicks, true);
        bool goOn = foundation::CheckModemResponds(port_);
        if (!goOn
            && !foundation::AskYesNo("The device on COM" + n + " is not responding and may" + "\r"
                                         + "not be a modem. Continue with Fax Class Analysis?",
                                     "NO MODEM RESPONSE")) {
            Status->setText(QString::fromStdString("No response from device on COM" + n + ". May not be a modem."));
            ShowReport(UnknownFaxClasses());
        } else {
            const std::string answer = DetermineFaxClassSupport();
            if (answer != "OK") {
                Status->setText(QString::fromStdString(answer));
                ShowReport(UnknownFaxClasses());
            } else {
                const FaxClassReport report = ReportFaxClasses(Class1, Class2, Class20);
                ShowReport(report);
                RecommendedIndex = report.recommended;
                RecommendedName = report.name;
                Status->setText(ShownText(report.status));
            }
        }
    }
    QApplication::beep();
    if (UseTapi)
        foundation::CloseTapiPort(tapi_);
    try {
        if (port_.Open())
            port_.SetOpen(false);
    } catch (const std::exception&) {
    }
    QApplication::processEvents();
    ShowResultOk(OkButton);
    setWindowTitle("Check Fax Class");
    busy_ = false;
    checked_ = true;
}

// --- Init-string helper ---

bool InitStringHasLongDialWait(const std::string& init)
{
    const std::string upper = Upper(init);
    const size_t at = upper.find("S7=");
    if (at == std::string::npos)
        return false;
    std::string part = upper.substr(at, 6);
    while (!part.empty() && !std::isdigit(static_cast<unsigned char>(part.back())))
        part.pop_back();
    const std::string digits = part.size() > 3 ? part.substr(3) : std::string();
    if (digits.empty())
        return false;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    const int wait = std::stoi(digits);
    return wait > (init.find("&H3") != std::string::npos ? 90 : 65);
}

int GuessModemType(const std::string& init)
{
    const std::string upper = Upper(init);
    const std::pair<const char*, int> marks[] = {{"S36=0", 2}, {"S33=34", 4}, {"S36=8", 3}, {"\\Q3", 5}, {"&R2", 1}};
    for (const auto& [mark, type] : marks)
        if (upper.find(mark) != std::string::npos)
            return type;
    return 0;
}

std::string BuildInitString(int modemType, bool sending, bool longWait)
{
    std::string wait = "S7=65";
    if (sending) {
        if (longWait)
            wait = "S7=120";
        else if (modemType > 0)
            wait = "S7=90";
    }
    switch (modemType) {
    case 1: return "AT&H3&I2&R2" + wait;
    case 2: return "AT&H3&I2&R2" + wait + "S36=0";
    case 3: return "AT&H3&I2&R2" + wait + "S36=8";
    case 4: return "AT&H3&I2&R2" + wait + "S36=8S33=34";
    case 5: return "AT&F&C1&D2\\Q3" + wait;
    default: return "AT&F&C1&D2&K3" + wait;
    }
}

TModemInitStringHelperForm::TModemInitStringHelperForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("ModemInitStringHelperForm");
    setWindowTitle("Modem Initialization String Helper");
    ModemType = new QGroupBox("I have a:", this);
    ModemType->setObjectName("ModemType");
    const char* items[] = {
        "Hayes Compatible modem   or   UNKNOWN",
        "US Robotics/3COM Modem   or   WinModem",
        "US Robotics/3COM Sportster 28.8 or Early 33.6 model",
        "US Robotics/3COM Late Model Sportster 33.6 model",
        "US Robotics/3COM Sportster X2 modem",
        "Cirrus Logic or AT&&T modem or Motorola SM56",
    };
    auto* group = new QVBoxLayout(ModemType);
    for (int i = 0; i < 6; ++i) {
        ModemTypeItems[size_t(i)] = new QRadioButton(items[i], ModemType);
        ModemTypeItems[size_t(i)]->setObjectName(QString("ModemTypeItem%1").arg(i));
        group->addWidget(ModemTypeItems[size_t(i)]);
    }
    ModemTypeItems[0]->setChecked(true);
    CheckAT7 = new QCheckBox(this);
    CheckAT7->setObjectName("CheckAT7");
    CheckAT7Label = MakeLabel(this, "CheckAT7Label",
                              "The Faxmodem frequently hangs up before the faxmodem/fax machine on the other end "
                              "answers and/or I have problems with international calls");
    CheckAT7Label->setWordWrap(true);
    CheckAT7Label->installEventFilter(this);
    BitBtn1 = MakeButton(this, "BitBtn1", "Ok");
    BitBtn2 = MakeButton(this, "BitBtn2", "Cancel");
    BitBtn3 = MakeButton(this, "BitBtn3", "Leave it Blank");
    auto* at7 = new QHBoxLayout;
    at7->addWidget(CheckAT7, 0, Qt::AlignTop);
    at7->addWidget(CheckAT7Label, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ModemType);
    layout->addLayout(at7);
    layout->addLayout(ButtonRow({BitBtn1, BitBtn2, BitBtn3}));
    connect(BitBtn1, &QPushButton::clicked, this, [this] { done(1); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { done(2); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { done(kLeaveBlank); });
}

int TModemInitStringHelperForm::ItemIndex() const
{
    for (int i = 0; i < 6; ++i)
        if (ModemTypeItems[size_t(i)]->isChecked())
            return i;
    return -1;
}

void TModemInitStringHelperForm::SetItemIndex(int index)
{
    if (index >= 0 && index < 6)
        ModemTypeItems[size_t(index)]->setChecked(true);
}

bool TModemInitStringHelperForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == CheckAT7Label && event->type() == QEvent::MouseButtonRelease) {
        CheckAT7->toggle();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

std::string ModemInitStringHelper(QWidget* parent, const std::string& init, bool sending)
{
    TModemInitStringHelperForm form(parent);
    foundation::CenterForm(form);
    form.CheckAT7->setChecked(InitStringHasLongDialWait(init));
    form.CheckAT7->setVisible(sending);
    form.CheckAT7Label->setVisible(sending);
    form.SetItemIndex(GuessModemType(init));
    const int result = form.exec();
    if (result == TModemInitStringHelperForm::kLeaveBlank)
        return {};
    if (result != 1)
        return init;
    return BuildInitString(std::max(form.ItemIndex(), 0), sending, sending && form.CheckAT7->isChecked());
}

} // namespace zn::app
