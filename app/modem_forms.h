// The three dialogs that help the user set up the modem: the port scan over COM1 to COM8, the
// fax-class check of one port or line device, and the init-string helper. The scan and the check
// talk to the modem on the GUI thread, keeping the window alive while they wait.
#pragma once
#include <QDialog>
#include <QString>

#include <array>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace zn::comms {
class TFxCustomAbstractFax;
class TFxCustomComPort;
class TFxCustomTapiDevice;
} // namespace zn::comms

namespace zn::app {

// Probes COM1 to COM8 with the caller's port when shown; Result() is the first port with a modem
// (1..8), -1 when none answered.
class TFindModemForm : public QDialog {
    Q_OBJECT
public:
    TFindModemForm(comms::TFxCustomComPort& port, QWidget* parent = nullptr);
    QLabel* title;
    std::array<QLabel*, 8> Labels; // Label1 ... Label8
    QLabel* infolabel;
    QPushButton* OkButton;
    int Result() const { return result_; }
    bool Scanned() const { return scanned_; }
    void FormActivate();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    std::string ProbePort(int number, bool& inUse);
    comms::TFxCustomComPort& port_;
    int result_ = -1;
    bool busy_ = false;
    bool scanned_ = false;
};

// What the check says of the classes found.
struct FaxClassReport {
    QString label1, label2, label3;
    int recommended = -1; // 0 Class 1, 1 Class 2, 2 Class 2.0
    QString name;         // "Class 1" ...
    bool label3Bold = false;
    QString status; // empty when nothing is recommended
};
FaxClassReport ReportFaxClasses(bool class1, bool class2, bool class20);
FaxClassReport UnknownFaxClasses();

// Asks the modem on a port or line device which fax classes it supports and recommends one.
class TCheckFaxClassForm : public QDialog {
    Q_OBJECT
public:
    TCheckFaxClassForm(comms::TFxCustomComPort& port, comms::TFxCustomAbstractFax& fax,
                       comms::TFxCustomTapiDevice& tapi, QWidget* parent = nullptr);
    QLabel* Label8;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Status;
    QPushButton* OkButton;

    // Set before showing.
    bool UseTapi = false;
    std::string TapiDeviceName;
    int ComNumber = 1;

    bool Class1 = false, Class2 = false, Class20 = false;
    int RecommendedIndex = -1;
    QString RecommendedName;
    bool Checked() const { return checked_; }
    void CheckTheFaxClasses();
    // "OK", or why the classes could not be told.
    std::string DetermineFaxClassSupport();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void ShowReport(const FaxClassReport& report);
    comms::TFxCustomComPort& port_;
    comms::TFxCustomAbstractFax& fax_;
    comms::TFxCustomTapiDevice& tapi_;
    bool busy_ = false;
    bool checked_ = false;
};

// The init-string helper's rules, apart from its window.
// The S7 test: the dial wait after "S7=" is longer than usual (65, or 90 with "&H3").
bool InitStringHasLongDialWait(const std::string& init);
// The modem type the string looks written for (0 Hayes or unknown ... 5 Cirrus Logic).
int GuessModemType(const std::string& init);
// The string for a modem type: the dial wait 65, when sending 120 with longWait, else 90 for a
// type above 0.
std::string BuildInitString(int modemType, bool sending, bool longWait);

class TModemInitStringHelperForm : public QDialog {
    Q_OBJECT
public:
    explicit TModemInitStringHelperForm(QWidget* parent = nullptr);
    QGroupBox* ModemType;
    std::array<QRadioButton*, 6> ModemTypeItems;
    QCheckBox* CheckAT7;
    QLabel* CheckAT7Label;
    QPushButton* BitBtn1; // Ok
    QPushButton* BitBtn2; // Cancel
    QPushButton* BitBtn3; // Leave it Blank
    int ItemIndex() const;
    void SetItemIndex(int index);

    static constexpr int kLeaveBlank = -99;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Shows the helper for the string; returns the new string (the old one when cancelled).
std::string ModemInitStringHelper(QWidget* parent, const std::string& init, bool sending);

} // namespace zn::app
