// znptf's windows: the main form that never shows (it owns the driver channel and the tray icon)
// and the job dialog that asks for the fax number, recipient and subject of each print job.
#pragma once
#include "ptf/fax_driver_interface.h"
#include "ptf/print_job.h"
#include "ptf/tray_icon.h"

#include <QDialog>
#include <QWidget>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace zn::ptf {

class TGetDataForm : public QDialog {
public:
    explicit TGetDataForm(QWidget* parent = nullptr);
    QLabel* Document; // which printed document the dialog asks about
    QLineEdit* Phone;
    QLineEdit* Recipient;
    QLineEdit* Subject;
    QPushButton* Button1; // "Ok"
    QPushButton* Button2; // "&Phone Book"
    QPushButton* Button3; // "Cancel"
    // Opens the phone-number picker; true with the chosen name and number.
    std::function<bool(std::string* name, std::string* phone)> PickPhoneNumber;

    void Button1Click();
    void Button2Click();
    void Button3Click();
    // Names the document: its title as the printing program gave it (else the fax's file name) and
    // its page count when the fax can be read.
    void ShowDocument(const std::string& title, const std::string& image);

protected:
    void showEvent(QShowEvent* event) override;
};

class TMainForm : public QWidget {
public:
    TMainForm();
    ~TMainForm() override;

    std::unique_ptr<TFxFaxDriverInterface> FaxConvController1;
    QMenu* PopupMenu1;
    QAction* CloseTarvelNTDriver1;
    QAction* About1;
    QAction* StartTarvel1;
    TTrayIcon* TrayIcon1;

    void FaxConvController1DocStart(TFxFaxDriverInterface& sender);
    void FaxConvController1DocEnd(TFxFaxDriverInterface& sender);
    void CloseTarvelNTDriver1Click();
    void About1Click();
    void StartTarvel1Click();

    // Shows the job dialog modally and returns its result (1 Ok, 2 Cancel); tests answer it here.
    std::function<int(TGetDataForm&)> RunJobDialog;
    // Switches to zn; tests see the switch here.
    std::function<bool(const std::string& executable)> Switch = SwitchToZn;

    static constexpr const char* kAboutText =
        "Tarvel Print To Fax Controller\r\rIt is important to leave this small program running\rso that "
        "you can print to the Tarvel Printer Driver from\rthe programs on this desktop.\r\rThis program starts "
        "automatically when your desktop session starts.";

    // A job whose driver went before it had the image's name: the reserved file goes.
    void ForgetJob(const std::string& image);
    // SIGTERM or SIGINT (a logout): a job whose dialog is open is kept as a fax with what its
    // dialog holds, so that zn lists it, and every loop of the program ends.
    void EndBySignal();
    // Run once the program's loop runs: the printed faxes whose dialog an earlier znptf never
    // finished (it was killed, it crashed) are offered again; half-made ones are removed.
    void OfferUnfinishedJobs();

private:
    // A printed document waiting for its dialog.
    struct TPrintedJob {
        TJobName name;
        std::string title; // as the printing program named it; empty when not known
    };
    // Jobs are asked one at a time, in the order they were printed: a job that ends while another
    // one's dialog is open waits here for its turn.
    void AskInTurn(TPrintedJob job);
    // The dialog of one finished print job and what follows from it.
    void FinishJob(const TPrintedJob& job);

    bool endingBySignal_ = false;
    // What document start found out about each image it named, and the document's title.
    std::map<std::string, TPrintedJob> jobs_;
    std::deque<TPrintedJob> waiting_;
    // The image whose dialog (or whose messages) the user has in front of them; empty when none.
    std::string asking_;
};

} // namespace zn::ptf
