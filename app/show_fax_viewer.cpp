#include "app/show_fax_viewer.h"

#include "app/alt_fax_viewer_form.h"
#include "app/fax_viewer_form.h"
#include "foundation/settings.h"

#include <memory>

namespace zn::app {

void ShowFaxViewer(const std::string& fileName, const std::string& title, const std::string& headerText,
                   QWidget* parent)
{
    for (;;) {
        std::unique_ptr<TViewerFormBase> form;
        if (foundation::Settings().UseAlternateFaxViewer)
            form = std::make_unique<TAltFaxViewer>(fileName, title, headerText, parent);
        else
            form = std::make_unique<TFaxViewer>(fileName, title, headerText, parent);
        form->exec();
        if (!form->SwitchViewer())
            return;
    }
}

} // namespace zn::app
