#include "app/pre_print_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zn::app {

namespace {

QSpinBox* PageSpin(const char* name)
{
    auto* spin = new QSpinBox;
    spin->setObjectName(name);
    spin->setRange(1, 1000);
    spin->setValue(1);
    return spin;
}

QCheckBox* Option(const char* name, const char* caption)
{
    auto* box = new QCheckBox(QString::fromLatin1(caption));
    box->setObjectName(name);
    return box;
}

} // namespace

TPrePrintForm::TPrePrintForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("PrePrintForm");
    setWindowTitle("Print");
    auto* layout = new QVBoxLayout(this);
    auto* range = new QFormLayout;
    FromPage = PageSpin("FromPage");
    ToPage = PageSpin("ToPage");
    range->addRow("From page:", FromPage);
    range->addRow("To page:", ToPage);
    layout->addLayout(range);
    PrintMultiPage = Option("PrintMultiPage", "Print 4 faxes to a page");
    PrintHeader = Option("PrintHeader", "Print Header");
    PrintFooter = Option("PrintFooter", "Print Footer");
    StretchToFit = Option("StretchToFit", "Stretch/shrink faxes to fit on page");
    for (QCheckBox* box : {PrintMultiPage, PrintHeader, PrintFooter, StretchToFit})
        layout->addWidget(box);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    BitBtn1 = new QPushButton("Ok");
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton("Cancel");
    BitBtn2->setObjectName("BitBtn2");
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    layout->addLayout(buttons);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TPrePrintForm::BitBtn1Click()
{
    if (ToPage->isEnabled() && ToPage->value() < FromPage->value()) {
        QApplication::beep();
        return;
    }
    accept();
}

} // namespace zn::app
