// TFxFaxStatus: the status display of a fax component. It owns the "Fax Status" dialog
// (TStandardFaxDisplay), fills it on every FaxStatus of its component and hides it when the session
// ends. The Cancel button cancels the component's session.
#pragma once

#include <QDialog>

#include "comms/fax/fax_components.h"
#include "comms/base/fx_misc.h"

class QLabel;
class QPushButton;

namespace zn::comms {

class TFxMeter;

class TStandardFaxDisplay : public QDialog, public FaxStatusForm {
public:
    explicit TStandardFaxDisplay(QWidget* parent = nullptr);

    TFxCustomAbstractFax* Fax = nullptr;
    // Fills every field from the fax component.
    void UpdateValues();
    // A new session of the component: the elapsed time and the redial countdown start again.
    void StartSession();

    TPosition FormPosition() const override { return position_; }
    void SetFormPosition(TPosition p) override { position_ = p; }
    bool FormCtl3D() const override { return ctl3D_; }
    void SetFormCtl3D(bool on) override { ctl3D_ = on; }
    bool FormVisible() const override { return isVisible(); }
    void SetFormVisible(bool on) override { setVisible(on); }
    std::string FormCaption() const override { return windowTitle().toStdString(); }
    void SetFormCaption(const std::string& caption) override { setWindowTitle(QString::fromStdString(caption)); }

    QLabel* fsPhoneNumber = nullptr;
    QLabel* fsFaxFileName = nullptr;
    QLabel* fsCoverFileName = nullptr;
    QLabel* fsTotalPages = nullptr;
    QLabel* fsDialAttempt = nullptr;
    QLabel* fsRemoteID = nullptr;
    QLabel* fsConnectBPS = nullptr;
    QLabel* fsResolution = nullptr;
    QLabel* fsWidth = nullptr;
    QLabel* fsErrorControl = nullptr;
    QLabel* fsCurrentPage = nullptr;
    QLabel* fsPageLength = nullptr;
    QLabel* fsBytesTransferred = nullptr;
    QLabel* fsElapsedTime = nullptr;
    QLabel* fsStatusMsg = nullptr;
    QLabel* fsLabel19 = nullptr;
    QPushButton* fsCancel = nullptr;
    TFxMeter* Meter = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    // Esc and the window's close button are its Cancel while a session runs: the window itself
    // goes when the session ends.
    void reject() override;

private:
    void CancelClick();

    TPosition position_ = poScreenCenter;
    bool ctl3D_ = true;
    bool clockRunning_ = false;
    bool countdownRunning_ = false;
    EventTimer clock_;
    EventTimer countdown_;
};

// A file name without its path, cut to its first 20 characters and "..." when longer.
std::string ShortFaxFileName(const std::string& path);
// Seconds as minutes ":" two-digit seconds, right-aligned in 6 characters.
std::string MinutesSeconds(int32_t seconds);

// Lets the send components draw enhanced header and cover text with the toolkit's fonts; programs
// with a GUI call it once.
void InstallEnhancedFaxText();

class TFxFaxStatus : public TFxAbstractFaxStatus {
public:
    TFxFaxStatus();
    ~TFxFaxStatus() override;

    void UpdateDisplay(bool first, bool last) override;
    TStandardFaxDisplay* Form() const { return form_.get(); }
    // The window that runs the session: the form is one of its windows, shown above it whatever
    // the user clicks, and stays usable while that window is modal.
    void SetOwnerWindow(QWidget* owner);

protected:
    void CreateDisplay() override;
    void DestroyDisplay() override;

private:
    std::unique_ptr<TStandardFaxDisplay> form_;
};

} // namespace zn::comms
