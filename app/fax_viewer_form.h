// TFaxViewer ("Fax Viewer "): the fax viewer window built on the viewer control, which also turns
// pages.
#pragma once

#include "app/viewer_form_base.h"
#include "faxdoc/gui/fax_viewer.h"

namespace zn::app {

class TFaxViewer : public TViewerFormBase {
    Q_OBJECT
public:
    TFaxViewer(const std::string& fileName, const std::string& title, const std::string& headerText = "",
               QWidget* parent = nullptr);

    faxdoc::TFxFaxViewer* FaxViewer;
    QAction* NoRotateItem;
    QAction* Rotate90Item;
    QAction* Rotate180Item;
    QAction* Rotate270Item;

    void SetFaxFile();

protected:
    int CurrentPageNo() const override { return FaxViewer->CurrentPage(); }
    int PageCount() const override { return FaxViewer->NumPages(); }
    void ApplyZoom(int value) override;
    void FirstButtonClick() override { FaxViewer->FirstPage(); }
    void PrevButtonClick() override { FaxViewer->PrevPage(); }
    void NextButtonClick() override { FaxViewer->NextPage(); }
    void LastButtonClick() override { FaxViewer->LastPage(); }
    void FormActivate() override;

private:
    void SetRotation(int rotation);
    void ShowPageStatus();
};

} // namespace zn::app
