#include "comms/gui/fax_status_window.h"

#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <cmath>
#include <cstdio>

#include "comms/gui/fax_meter.h"
#include "faxdoc/enh_text_reader.h"
#include "platform/user_clicks.h"

namespace zn::comms {

namespace {

constexpr int kElapsedStart1 = 4841, kElapsedStart2 = 4840;
constexpr int kElapsedStop1 = 4843, kElapsedStop2 = 4842, kElapsedStop3 = 4828;
constexpr int kBusyWait = 4803;

QString Text(const std::string& s) { return QString::fromStdString(s); }

// A panel of caption / value rows; returns the value labels.
QFrame* Panel(QWidget* parent, std::initializer_list<std::pair<const char*, QLabel**>> rows, int columns)
{
    auto* frame = new QFrame(parent);
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Raised);
    auto* grid = new QGridLayout(frame);
    grid->setContentsMargins(8, 4, 8, 4);
    grid->setVerticalSpacing(2);
    int i = 0;
    for (const auto& [caption, value] : rows) {
        int row = i / columns, col = (i % columns) * 2;
        grid->addWidget(new QLabel(caption, frame), row, col);
        *value = new QLabel(frame);
        grid->addWidget(*value, row, col + 1);
        grid->setColumnStretch(col + 1, 1);
        ++i;
    }
    return frame;
}

} // namespace

std::string ShortFaxFileName(const std::string& path)
{
    std::string name = ExtractNamePChar(path);
    if (name.size() > 20)
        name = name.substr(0, 20) + "...";
    return name;
}

std::string MinutesSeconds(int32_t seconds)
{
    char text[32];
    std::snprintf(
        text, sizeof text, "%6s",
        (std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") + std::to_string(seconds % 60)).c_str());
    return text;
}

TStandardFaxDisplay::TStandardFaxDisplay(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Fax Status");
    setFixedSize(529, 295);
    // The form was laid out for an 8-point dialog font.
    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    auto* panel1 = Panel(this,
                         {{"Phone number:", &fsPhoneNumber},
                          {"Fax file name:", &fsFaxFileName},
                          {"Cover file name:", &fsCoverFileName},
                          {"Total pages:", &fsTotalPages},
                          {"Dial attempt:", &fsDialAttempt}},
                         1);
    auto* panel2 = Panel(this,
                         {{"Remote ID:", &fsRemoteID},
                          {"Connect BPS:", &fsConnectBPS},
                          {"Resolution:", &fsResolution},
                          {"Width:", &fsWidth},
                          {"Error control:", &fsErrorControl}},
                         1);
    auto* panel3 = Panel(this, {{"Current page:", &fsCurrentPage}, {"Page length:", &fsPageLength}}, 1);
    auto* panel4 = Panel(this, {{"Bytes transferred:", &fsBytesTransferred}, {"Elapsed time:", &fsElapsedTime}}, 1);
    auto* panel5 = Panel(this, {{"Status:", &fsStatusMsg}}, 1);

    auto* panel6 = new QFrame(this);
    panel6->setFrameShape(QFrame::Panel);
    panel6->setFrameShadow(QFrame::Raised);
    panel6->setFixedHeight(34);
    fsLabel19 = new QLabel("Page progress:", panel6);
    fsLabel19->setGeometry(8, 9, 180, 16);
    fsLabel19->lower();
    Meter = new TFxMeter(panel6);
    Meter->setGeometry(99, 7, 406, 20);
    Meter->SetPosition(0);
    Meter->SetStep(10);

    fsCancel = new QPushButton("Cancel", this);
    connect(fsCancel, &QPushButton::clicked, this, [this] { CancelClick(); });

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setSpacing(4);
    grid->setColumnStretch(0, 6);
    grid->setColumnStretch(1, 5);
    grid->addWidget(panel1, 0, 0);
    grid->addWidget(panel2, 0, 1);
    grid->addWidget(panel3, 1, 0);
    grid->addWidget(panel4, 1, 1);
    grid->addWidget(panel5, 2, 0, 1, 2);
    grid->addWidget(panel6, 3, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(fsCancel);
    buttons->addStretch();
    grid->addLayout(buttons, 4, 0, 1, 2);
}

void TStandardFaxDisplay::showEvent(QShowEvent* event)
{
    if (position_ == poScreenCenter || position_ == poDesktopCenter) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect area = screen->availableGeometry();
            move(area.center() - rect().center());
        }
    }
    QDialog::showEvent(event);
}

void TStandardFaxDisplay::StartSession()
{
    // A session that ended without its closing status (a dropped line, a cancel) left the clock
    // running: the next one counts from its own start.
    clockRunning_ = false;
    countdownRunning_ = false;
}

void TStandardFaxDisplay::reject()
{
    if (Fax && Fax->Busy()) {
        CancelClick();
        return;
    }
    QDialog::reject();
}

void TStandardFaxDisplay::CancelClick()
{
    if (Fax)
        Fax->CancelFax();
}

void TStandardFaxDisplay::UpdateValues()
{
    if (!Fax)
        return;
    TFxCustomAbstractFax& f = *Fax;
    const int status = f.GetProgressCode();

    if (!clockRunning_ && (status == kElapsedStart1 || status == kElapsedStart2)) {
        StartTimer(clock_, 0);
        clockRunning_ = true;
    } else if (clockRunning_ && (status == kElapsedStop1 || status == kElapsedStop2 || status == kElapsedStop3)) {
        clockRunning_ = false;
    }
    if (status == kBusyWait) {
        if (!countdownRunning_ && f.IsSender()) {
            StartTimerSecs(countdown_, static_cast<TFxCustomSendFax&>(f).DialRetryWait);
            countdownRunning_ = true;
        }
    } else {
        countdownRunning_ = false;
    }

    if (f.IsSender()) {
        auto& s = static_cast<TFxCustomSendFax&>(f);
        fsPhoneNumber->setText(Text(s.PhoneNumber));
        fsFaxFileName->setText(Text(ShortFaxFileName(s.FaxFile())));
        fsCoverFileName->setText(Text(ShortFaxFileName(s.CoverFile)));
        fsDialAttempt->setText(QString::number(s.DialAttempt()));
    } else {
        fsPhoneNumber->setText("");
        fsCoverFileName->setText("");
        fsFaxFileName->setText(Text(ShortFaxFileName(f.FaxFile())));
        fsDialAttempt->setText("1");
    }

    fsTotalPages->setText(QString::number(f.GetTotalPages()));
    fsRemoteID->setText(Text(f.GetRemoteID()));
    fsConnectBPS->setText(QString::number(f.GetConnectBPS()));
    fsResolution->setText(f.GetHiRes() ? "high" : "standard");
    fsWidth->setText(f.GetWideWidth() ? "2048" : "1728");
    fsErrorControl->setText(f.GetErrorCorrection() ? "on" : "off");

    fsCurrentPage->setText(f.GetCurrentPage() == 0 ? QString("<cover page>") : QString::number(f.GetCurrentPage()));
    fsPageLength->setText(QString::number(f.GetPageLength()));
    fsBytesTransferred->setText(QString::number(f.GetBytesTransferred()));

    fsElapsedTime->setText(clockRunning_ ? Text(MinutesSeconds(ElapsedSeconds(clock_))) : QString("00:00"));

    std::string message = StatusText(status);
    if (status == kBusyWait && countdownRunning_)
        message += MinutesSeconds(RemainingSeconds(countdown_));
    fsStatusMsg->setText(Text(message));

    if (!f.IsSender()) {
        Meter->hide();
        fsLabel19->setText("Page progress: N/A");
    } else {
        Meter->show();
        fsLabel19->setText("Page progress:");
        Meter->SetMin(0);
        Meter->SetMax(100);
        int length = f.GetPageLength();
        Meter->SetPosition(length == 0 ? 0 : int(std::lround(double(f.GetBytesTransferred()) * 100.0 / length)));
    }
}

void InstallEnhancedFaxText()
{
    SetEnhancedTextMaker([](const faxdoc::TFaxTextFont& font, bool fine, bool wide, int& result) {
        auto reader = std::make_unique<faxdoc::TEnhTextReader>();
        constexpr int kLeftMargin = 50; // the converter state's margin
        result =
            reader->SetEnhTextFont(wide ? faxdoc::kWideLineWidth : faxdoc::kNormalLineWidth, kLeftMargin, font, fine);
        return std::unique_ptr<faxdoc::TTextReader>(std::move(reader));
    });
}

// ---- TFxFaxStatus ------------------------------------------------------------------------------

TFxFaxStatus::TFxFaxStatus() { Initialize(); }

TFxFaxStatus::~TFxFaxStatus() { Finalize(); }

void TFxFaxStatus::CreateDisplay()
{
    form_ = std::make_unique<TStandardFaxDisplay>();
    form_->Fax = Fax();
    form_->setWindowTitle(QString::fromStdString(Caption()));
    SetDisplay(form_.get());
}

void TFxFaxStatus::DestroyDisplay()
{
    SetDisplay(nullptr);
    form_.reset();
}

void TFxFaxStatus::SetOwnerWindow(QWidget* owner)
{
    if (!form_)
        return;
    // Window managers keep a modal window above the other windows that belong to it and raise it
    // over them whenever it or a window it blocks is clicked: the status window of a modal dialog
    // is in the layer above the ordinary windows, and goes back on top after each click.
    form_->setParent(owner, form_->windowFlags() | Qt::Dialog | Qt::WindowStaysOnTopHint);
    TStandardFaxDisplay* form = form_.get();
    platform::WatchUserClicks(form, [form] {
        if (form->isVisible())
            form->raise();
    });
}

void TFxFaxStatus::UpdateDisplay(bool first, bool last)
{
    if (!form_)
        return;
    if (first) {
        form_->Fax = Fax();
        form_->StartSession();
        form_->show();
    }
    if (last) {
        form_->hide();
        return;
    }
    form_->UpdateValues();
}

} // namespace zn::comms
