// What the call and fax progress displays share: the display component keeps Position, Ctl3D,
// Visible and Caption and passes each to its form once the concrete display has made one.
#pragma once

#include "comms/base/fx_misc.h"

#include <string>

namespace zn::comms {

// Two components that name each other (a component and its status display): links `self` to
// `next` and unlinks the old partner, each side through its own accessors.
template <typename Self, typename Other>
void Relink(Self* self, Other*& partner, Other* next, Self* (Other::*get)() const, void (Other::*set)(Self*))
{
    if (partner == next)
        return;
    Other* old = partner;
    partner = next;
    if (old && (old->*get)() == self)
        (old->*set)(nullptr);
    if (next && (next->*get)() != self)
        (next->*set)(self);
}

enum TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};

// The form a concrete status display shows.
class StatusDisplayForm {
public:
    virtual ~StatusDisplayForm() = default;
    virtual TPosition FormPosition() const = 0;
    virtual void SetFormPosition(TPosition p) = 0;
    virtual bool FormCtl3D() const = 0;
    virtual void SetFormCtl3D(bool on) = 0;
    virtual bool FormVisible() const = 0;
    virtual void SetFormVisible(bool on) = 0;
    virtual std::string FormCaption() const = 0;
    virtual void SetFormCaption(const std::string& caption) = 0;
};

class TFxStatusDisplayBase : public TFxBaseComponent {
public:
    TPosition Position() const { return position_; }
    void SetPosition(TPosition p);
    bool Ctl3D() const { return ctl3D_; }
    void SetCtl3D(bool on);
    bool Visible() const { return visible_; }
    void SetVisible(bool on);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

protected:
    TFxStatusDisplayBase() = default;
    // The concrete display's constructor calls Initialize (CreateDisplay, then the form's values are
    // copied and the caption becomes `caption`); its destructor calls Finalize (DestroyDisplay).
    void Initialize(const std::string& caption);
    void Finalize();
    virtual void CreateDisplay() = 0;
    virtual void DestroyDisplay() = 0;
    StatusDisplayForm* Display() const { return display_; }
    void SetDisplay(StatusDisplayForm* form) { display_ = form; }

private:
    TPosition position_ = poScreenCenter;
    bool ctl3D_ = true;
    bool visible_ = false;
    std::string caption_;
    StatusDisplayForm* display_ = nullptr;
    bool finalized_ = false;
};

} // namespace zn::comms
