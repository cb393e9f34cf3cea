#include "app/small_forms.h"

#include "app/form_controls.h"

#include "foundation/dialogs.h"
#include "foundation/form_placement.h"
#include "foundation/gui/url_label.h"
#include "foundation/program_folders.h"
#include "foundation/settings.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace zn::app {

const char* const kStoreAddress = "https://www.tarvel-fax.example/store";
const char* const kSupportAddress = "support@tarvel-fax.example";

namespace {

using foundation::kDeleteWhatHelpContext;

// The About box's picture: a fax sheet coming out of a machine, drawn rather than shipped.
QPixmap AboutPicture()
{
    QPixmap pix(96, 96);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(Qt::white);
    p.drawRect(26, 8, 44, 52);
    p.setPen(QPen(QColor(90, 90, 90), 2));
    for (int y = 18; y < 56; y += 7)
        p.drawLine(32, y, y % 2 ? 56 : 62, y);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(0, 84, 147));
    p.drawRoundedRect(8, 50, 80, 36, 6, 6);
    p.setBrush(QColor(20, 20, 20));
    p.drawRect(22, 56, 52, 5);
    p.setBrush(QColor(130, 200, 120));
    p.drawEllipse(70, 70, 8, 8);
    return pix;
}

} // namespace

TSplashform::TSplashform(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint)
{
    setObjectName("TSplashform");
    setWindowTitle("About Tarvel");
    setFont(QFont("Arial", 9));
    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(AboutPicture());
    auto* title = new QLabel("Tarvel", this);
    QFont big("Arial", 20, QFont::Bold);
    title->setFont(big);
    Label3216 = new QLabel(this);
    Label3216->setObjectName("Label3216");
    versionlabel = new QLabel(this);
    versionlabel->setObjectName("versionlabel");
    URLPanel = new QWidget(this);
    URLPanel->setObjectName("URLPanel");
    URLPanelLabel = new QLabel("Visit our online store:", URLPanel);
    UrlLabel1 = new foundation::gui::TUrlLabel(URLPanel);
    UrlLabel1->setObjectName("UrlLabel1");
    UrlLabel1->setText("www.tarvel-fax.example");
    UrlLabel1->URL = kStoreAddress;
    auto* urlLayout = new QHBoxLayout(URLPanel);
    urlLayout->setContentsMargins(0, 0, 0, 0);
    urlLayout->addWidget(URLPanelLabel);
    urlLayout->addWidget(UrlLabel1);
    urlLayout->addStretch();
    OKButton = MakeButton(this, "OKButton", "Ok");
    OKButton->setDefault(true);

    // FormCreate
    Label3216->setText("32-bit version");
    versionlabel->setText(QString::fromStdString("Version " + foundation::Settings().ProgramVersion));

    auto* text = new QVBoxLayout;
    text->addWidget(title);
    text->addWidget(Label3216);
    text->addWidget(versionlabel);
    text->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(text, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(OKButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addWidget(URLPanel);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

TGetSenderInfo::TGetSenderInfo(QWidget* parent) : QDialog(parent)
{
    setObjectName("TGetSenderInfo");
    setWindowTitle("Sender Information");
    setFont(QFont("Arial", 9));
    Name = MakeEdit<QLineEdit>(this, "Name", 35, "Enter your name here");
    FaxNumber = MakeEdit<QLineEdit>(this, "FaxNumber", 20, "Enter your own fax number here");
    Voicenumber = MakeEdit<QLineEdit>(this, "Voicenumber", 20, "Enter your own phone number here");
    Company = MakeEdit<QLineEdit>(this, "Company", 35, "Enter your company  name here");
    OKButton = MakeButton(this, "OKButton", "&Accept", "Accept changes made and exit");
    OKButton->setDefault(true);
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cance&l", "Cancel changes made and exit");
    auto* form = new QFormLayout;
    auto row = [&](const QString& label, QLineEdit* edit) {
        auto* l = new QLabel(label, this);
        l->setBuddy(edit);
        form->addRow(l, edit);
    };
    row("Your &name", Name);
    row("Your &fax number (Station ID#)", FaxNumber);
    row("Your &voice number", Voicenumber);
    row("Your &company", Company);
    for (QLineEdit* e : {Name, Company})
        e->setMinimumWidth(QFontMetrics(e->font()).horizontalAdvance(QString(35, 'n')) * 7 / 10);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(Cancelbutton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
}

bool EditSenderInformation(QWidget* parent)
{
    auto& s = foundation::Settings();
    TGetSenderInfo form(parent);
    form.FaxNumber->setText(QString::fromStdString(s.Fax));
    form.Voicenumber->setText(QString::fromStdString(s.Voice));
    form.Name->setText(QString::fromStdString(s.Name));
    form.Company->setText(QString::fromStdString(s.Company));
    foundation::CenterForm(form);
    if (form.exec() != 1)
        return false;
    s.Fax = form.FaxNumber->text().toStdString();
    s.Voice = form.Voicenumber->text().toStdString();
    s.Name = form.Name->text().toStdString();
    s.Company = form.Company->text().toStdString();
    foundation::SaveSettings();
    return true;
}

TTellUserAboutReceiveLog::TTellUserAboutReceiveLog(QWidget* parent) : QDialog(parent)
{
    setObjectName("TTellUserAboutReceiveLog");
    setWindowTitle("Logging ON");
    setFont(QFont("Arial", 9));
    auto label = [&](const QString& text) {
        auto* l = new QLabel(text, this);
        l->setWordWrap(true);
        return l;
    };
    QLabel* intro = label("Logging is now ON. A log file will be saved  with detailed technical information about "
                          "this fax receive session. The file will be saved as");
    LogFileNAme = new QLabel(this);
    LogFileNAme->setObjectName("LogFileNAme");
    LogFileNAme->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = LogFileNAme->font();
    bold.setBold(true);
    LogFileNAme->setFont(bold);
    QLabel* request = label(QString("If the receive attempt fails, please e-mail this file to %1 with a short "
                                    "description of the problem.")
                                .arg(kSupportAddress));
    QLabel* note = label("NOTE: If no attempt to receive a fax is made, or if the fax is received correctly, do not "
                         "send the file, as we need to see a FAILED session in order to diagnose it.");
    QLabel* goOn = label("Click OK now to continue with this fax receive session...");
    Button1 = MakeButton(this, "Button1", "OK");
    Button1->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : {static_cast<QWidget*>(intro), static_cast<QWidget*>(LogFileNAme), static_cast<QWidget*>(request),
                       static_cast<QWidget*>(note), static_cast<QWidget*>(goOn)})
        layout->addWidget(w);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addStretch();
    layout->addLayout(buttons);
    setFixedWidth(420);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    // FormCreate; the full stop ends the sentence above.
    LogFileNAme->setText(QString::fromStdString(foundation::GetProgramFolder() + "ZNIN.LOG."));
}

void TellUserAboutReceiveLog()
{
    TTellUserAboutReceiveLog form(QApplication::activeWindow());
    foundation::CenterForm(form);
    form.exec();
}

TDeleteWhat::TDeleteWhat(QWidget* parent) : QDialog(parent)
{
    setObjectName("TDeleteWhat");
    setWindowTitle("Delete Fax");
    setFont(QFont("Arial", 9));
    WhatToDelete = new QGroupBox(this);
    WhatToDelete->setObjectName("WhatToDelete");
    group_ = new QButtonGroup(this);
    auto* g = new QVBoxLayout(WhatToDelete);
    const char* captions[3] = {"Delete Fax Cover", "Delete Fax Body", "Delete Both Fax Cover && Fax Body"};
    for (int i = 0; i < 3; ++i) {
        Choices[i] = new QRadioButton(captions[i], WhatToDelete);
        Choices[i]->setObjectName(QString("WhatToDelete%1").arg(i));
        group_->addButton(Choices[i], i);
        g->addWidget(Choices[i]);
    }
    OkButton = MakeButton(this, "OkButton", "OK");
    OkButton->setDefault(true);
    Cancelbutton = MakeButton(this, "Cancelbutton", "Cancel");
    Helpbutton = MakeButton(this, "Helpbutton", "&Help");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(OkButton);
    buttons->addWidget(Cancelbutton);
    buttons->addWidget(Helpbutton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(WhatToDelete);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(OkButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(Cancelbutton, &QPushButton::clicked, this, [this] { done(2); });
    connect(Helpbutton, &QPushButton::clicked, this, [] { foundation::ShowHelpContext(kDeleteWhatHelpContext); });
}

int TDeleteWhat::ItemIndex() const { return group_->checkedId(); }
void TDeleteWhat::SetItemIndex(int index)
{
    if (index >= 0 && index < 3)
        Choices[index]->setChecked(true);
}

} // namespace zn::app
