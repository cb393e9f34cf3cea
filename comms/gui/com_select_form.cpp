#include "comms/gui/com_select_form.h"

#include "comms/port/com_port.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace zn::comms {

TComSelectForm::TComSelectForm(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Select Port");
    setModal(true);
    label1_ = new QLabel("The configured serial port is not valid.", this);
    label2_ = new QLabel("Please choose another port.", this);
    PortsComboBox = new QComboBox(this);
    PortsComboBox->setObjectName("PortsComboBox");
    PortsComboBox->setEditable(false);
    OkBtn = new QPushButton("OK", this);
    OkBtn->setObjectName("OkBtn");
    OkBtn->setDefault(true);
    AbortBtn = new QPushButton("Cancel", this);
    AbortBtn->setObjectName("AbortBtn");
    connect(OkBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(AbortBtn, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkBtn);
    buttons->addWidget(AbortBtn);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label1_);
    layout->addWidget(label2_);
    layout->addWidget(PortsComboBox);
    layout->addLayout(buttons);
    FormCreate();
}

void TComSelectForm::FormCreate()
{
    for (int n = 1; n <= 50; ++n)
        if (ComPortPresent(n))
            PortsComboBox->addItem(QString::asprintf("COM%d", n));
    if (PortsComboBox->count() > 0)
        PortsComboBox->setCurrentIndex(0);
}

void TComSelectForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
}

void InstallComSelectForm()
{
    SetComSelectPrompt([](std::string& chosen) {
        TComSelectForm form;
        if (form.exec() != QDialog::Accepted || form.PortsComboBox->currentIndex() < 0)
            return false;
        chosen = form.PortsComboBox->currentText().toStdString();
        return true;
    });
}

} // namespace zn::comms
