#include "foundation/printer_choice.h"

#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/settings.h"
#include "foundation/text_values.h"

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPrinterInfo>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace zn::foundation {

namespace {

std::optional<std::vector<std::string>>& TestPrinterNames()
{
    static std::optional<std::vector<std::string>> names;
    return names;
}

int& CurrentIndex()
{
    static int index = -1;
    return index;
}

// Asks which printer to use when the default one cannot be found.
class TGetDefaultPrinterForm : public QDialog {
public:
    explicit TGetDefaultPrinterForm(const std::vector<std::string>& names)
    {
        setObjectName("GetDefaultPrinterForm");
        setWindowTitle("Select Printer");
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        auto* layout = new QVBoxLayout(this);
        auto* explanation =
            new QLabel("We are unable to find the Windows Default Printer. This may to be related to starting the "
                       "Tarvel program directly from the Tarvel Printer Driver on this system.  We will now ask you to "
                       "select a printer.\r\rIf this problem persists, please start Tarvel directly by clicking on its "
                       "desktop icon. ");
        explanation->setWordWrap(true);
        layout->addWidget(explanation);
        layout->addWidget(new QLabel("Please select your printer from this list:"));
        list_ = new QListWidget;
        list_->setObjectName("listofprinters");
        for (const std::string& name : names)
            list_->addItem(QString::fromStdString(name));
        // The first entry may be our own fax printer, which cannot print a fax on paper.
        int selected = 0;
        if (names.size() > 1 && UpperCase(names.front()).find("TARVEL") != std::string::npos)
            selected = static_cast<int>(names.size()) - 1;
        list_->setCurrentRow(selected);
        layout->addWidget(list_);
        auto* ok = new QPushButton("Ok");
        ok->setObjectName("OkButton");
        ok->setDefault(true);
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        layout->addWidget(ok);
    }
    int Highlighted() const { return list_->currentRow(); }

private:
    QListWidget* list_;
};

} // namespace

std::vector<std::string> PrinterNames()
{
    if (TestPrinterNames())
        return *TestPrinterNames();
    std::vector<std::string> names;
    for (const QString& name : QPrinterInfo::availablePrinterNames())
        names.push_back(name.toStdString());
    return names;
}

void SetPrinterNamesForTest(std::optional<std::vector<std::string>> names) { TestPrinterNames() = std::move(names); }

int PrinterIndex() { return CurrentIndex(); }

void SetPrinterIndex(int index)
{
    const int count = static_cast<int>(PrinterNames().size());
    if (index == -1 || (index >= 0 && index < count))
        CurrentIndex() = index;
}

std::string CurrentPrinterName()
{
    const std::vector<std::string> names = PrinterNames();
    const int index = CurrentIndex();
    return index >= 0 && index < static_cast<int>(names.size()) ? names[index] : std::string();
}

void RefreshPrinterSettings()
{
    if (CurrentIndex() >= static_cast<int>(PrinterNames().size()))
        CurrentIndex() = -1;
}

bool SelectUsablePrinter(bool askUser)
{
    if (!IsWindowsNT())
        return true;
    const std::vector<std::string> names = PrinterNames();
    if (names.empty()) {
        if (askUser)
            ShowInformation("Tarvel cannot find any installed printers.");
        return false;
    }
    if (PrinterIndex() > 0)
        return true;
    const auto found = std::find(names.begin(), names.end(), Settings().PrintOnReceiptPrinter);
    const int position = static_cast<int>(found - names.begin());
    if (found != names.end() && position > 0) {
        SetPrinterIndex(position);
        RefreshPrinterSettings();
        return PrinterIndex() == position;
    }
    if (!askUser)
        return false;
    TGetDefaultPrinterForm form(names);
    CenterForm(form);
    form.exec();
    const int highlighted = form.Highlighted();
    SetPrinterIndex(highlighted);
    RefreshPrinterSettings();
    if (PrinterIndex() == highlighted)
        return true;
    ShowInformation("We are unable to select the printer. \rThis may to be related to starting the Tarvel\r"
                    "program directly from the Tarvel Printer Driver on this\rsystem. Please close Tarvel "
                    "and start it again by\rclicking on its desktop icon");
    return false;
}

} // namespace zn::foundation
