#include "comms/base/status_display.h"

namespace zn::comms {

void TFxStatusDisplayBase::Initialize(const std::string& caption)
{
    CreateDisplay();
    if (display_) {
        position_ = display_->FormPosition();
        ctl3D_ = display_->FormCtl3D();
        visible_ = display_->FormVisible();
        caption_ = display_->FormCaption();
    }
    SetCaption(caption);
}

void TFxStatusDisplayBase::Finalize()
{
    if (finalized_)
        return;
    finalized_ = true;
    DestroyDisplay();
    display_ = nullptr;
}

void TFxStatusDisplayBase::SetPosition(TPosition p)
{
    position_ = p;
    if (display_)
        display_->SetFormPosition(p);
}

void TFxStatusDisplayBase::SetCtl3D(bool on)
{
    ctl3D_ = on;
    if (display_)
        display_->SetFormCtl3D(on);
}

void TFxStatusDisplayBase::SetVisible(bool on)
{
    visible_ = on;
    if (display_)
        display_->SetFormVisible(on);
}

void TFxStatusDisplayBase::SetCaption(const std::string& caption)
{
    caption_ = caption;
    if (display_)
        display_->SetFormCaption(caption);
}

} // namespace zn::comms
