// TAltFaxViewer ("Fax Viewer (alternate)"): the fax viewer window that renders each page itself
// through a fax unpacker onto a zoom panel in a scroll box, for systems where the viewer control
// misbehaves.
#pragma once

#include "app/viewer_form_base.h"
#include "faxdoc/fax_unpacker.h"
#include "foundation/gui/zoom_panel.h"

class QScrollArea;

namespace zn::app {

class TAltFaxViewer : public TViewerFormBase {
    Q_OBJECT
public:
    TAltFaxViewer(const std::string& fileName, const std::string& title, const std::string& headerText = "",
                  QWidget* parent = nullptr);

    foundation::gui::TGZoomPanel* ZoomPanel;
    QScrollArea* ScrollBox;
    int CurrentPage() const { return currentPage_; }

protected:
    int CurrentPageNo() const override { return currentPage_; }
    int PageCount() const override { return pageCount_; }
    void ApplyZoom(int value) override;
    void FirstButtonClick() override;
    void PrevButtonClick() override;
    void NextButtonClick() override;
    void LastButtonClick() override;
    void FormActivate() override;

private:
    void RenderPage();
    void GoToPage(int page);

    faxdoc::TFxFaxUnpacker unpacker_;
    int currentPage_ = 1;
    int pageCount_ = 0;
};

} // namespace zn::app
