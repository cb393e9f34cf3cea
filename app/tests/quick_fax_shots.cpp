// Test tool: pictures of the quick fax windows, the quick-start window, the receive-mode notice and
// the configuration report, filled as a user would see them. Usage: app_quick_fax_shots OUTPUT_FOLDER
// (with ZN_HOME set to a scratch folder; run under Xvfb or the offscreen platform).
#include "app/config_report.h"
#include "app/notice_forms.h"
#include "app/quick_fax.h"
#include "cover/template_files.h"
#include "cover/tests/sample_template.h"
#include "foundation/gui/enter_edit.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"
#include "platform/folders.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include <fstream>

namespace {

QString outFolder;

void Save(QWidget& w, const char* name)
{
    w.show();
    QApplication::processEvents();
    w.grab().save(outFolder + "/" + name + ".png");
    w.hide();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    outFolder = argv[1];
    namespace foundation = zn::foundation;
    foundation::Settings().Name = "Ann Example";
    foundation::Settings().Company = "Example Trading";
    foundation::CreateDataFolders();
    zn::platform::EnsureFolderCI(foundation::GetCoversFolder());
    const zn::cover::TItemList items = zn::cover::test::SampleTemplate(zn::cover::test::SamplePhoto(300, 300));
    std::vector<const zn::cover::TFaxGraphicControl*> pointers;
    for (const auto& item : items)
        pointers.push_back(item.get());
    zn::cover::SaveTemplate(pointers, foundation::GetCoversFolder() + "zn0001.fcs", "Business cover with photo");
    zn::cover::SaveTemplate(pointers, foundation::GetCoversFolder() + "zn0002.fcs", "The same, second copy");

    zn::app::TCreateEditQuickFax editor;
    editor.TemplateName = "zn0001.fct";
    editor.Recipient->setText("Head Office");
    editor.RecipientFax->setText("555-0142");
    editor.Regarding->setText("Quarterly report");
    editor.Notes->setText("call on Monday");
    editor.FaxMessage->setPlainText("The figures follow by post.\nPlease check the totals on page 2.");
    editor.cUrgent->setChecked(true);
    editor.cPleaseReply->setChecked(true);
    Save(editor, "cover_editor");

    zn::app::TPreviewQuickFaxForms chooser;
    chooser.SetFolder(foundation::GetCoversFolder());
    chooser.TemplateName = "zn0001.FCT";
    Save(chooser, "template_chooser");

    zn::app::TQuickStart quickStart;
    Save(quickStart, "quick_start");

    zn::app::TStartingFaxForm starting;
    starting.ShowStarting();
    Save(starting, "receive_notice_starting");
    starting.ShowReady();
    Save(starting, "receive_notice_ready");

    zn::app::TConfigurationInfo report;
    const std::vector<std::string> lines = zn::app::BuildConfigurationReport(zn::app::GatherSystemFacts());
    report.SetLines(lines);
    std::ofstream text((outFolder + "/configuration_report.txt").toStdString());
    for (const std::string& line : lines)
        text << line << "\n";
    report.resize(760, 560);
    Save(report, "configuration_report");
    return 0;
}
