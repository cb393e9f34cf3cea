// Tool: the picture of the job dialog for the help pages, filled as a user would fill it.
// Usage: ptf_job_dialog_shot PICTURE.png
#include "ptf/main_form.h"

#include <QApplication>
#include <QLineEdit>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    zn::ptf::TGetDataForm form;
    form.ShowDocument("Letter to Carol.odt", {});
    form.Phone->setText("555-0177");
    form.Recipient->setText("Carol Printer");
    form.Subject->setText("Letter printed to fax");
    form.show();
    QApplication::processEvents();
    const QImage image = form.grab().toImage().convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    return image.save(argv[1], nullptr, 9) ? 0 : 1;
}
