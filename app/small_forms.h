// The small dialogs of zn: the About box, the sender information, the receive-log notice and the
// delete choice of an outgoing fax with both a cover and a document.
#pragma once
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QButtonGroup;
class QCheckBox;
class QTimer;
class QGroupBox;

namespace zn::foundation::gui {
class TUrlLabel;
}

namespace zn::app {

// The seller's pages and support address, named by the About box and the receive-log notice.
extern const char* const kStoreAddress;
extern const char* const kSupportAddress;

class TSplashform : public QDialog {
    Q_OBJECT
public:
    explicit TSplashform(QWidget* parent = nullptr);
    QLabel* Image1;
    QLabel* Label3216;
    QLabel* versionlabel;
    QWidget* URLPanel;
    QLabel* URLPanelLabel;
    foundation::gui::TUrlLabel* UrlLabel1;
    QPushButton* OKButton;
};

class TGetSenderInfo : public QDialog {
    Q_OBJECT
public:
    explicit TGetSenderInfo(QWidget* parent = nullptr);
    QLineEdit* Name;
    QLineEdit* FaxNumber;
    QLineEdit* Voicenumber;
    QLineEdit* Company;
    QPushButton* OKButton;
    QPushButton* Cancelbutton;
};

// Fills the sender form from the settings; on Accept stores the four values and saves ZN.INI.
// True when the user accepted.
bool EditSenderInformation(QWidget* parent);

class TTellUserAboutReceiveLog : public QDialog {
    Q_OBJECT
public:
    explicit TTellUserAboutReceiveLog(QWidget* parent = nullptr);
    QLabel* LogFileNAme;
    QPushButton* Button1;
};
void TellUserAboutReceiveLog();

class TDeleteWhat : public QDialog {
    Q_OBJECT
public:
    explicit TDeleteWhat(QWidget* parent = nullptr);
    QGroupBox* WhatToDelete;
    QRadioButton* Choices[3]; // cover, body, both
    int ItemIndex() const;    // the choice taken, -1 none
    void SetItemIndex(int index);
    QPushButton* OkButton;
    QPushButton* Cancelbutton;
    QPushButton* Helpbutton;

private:
    QButtonGroup* group_;
};

} // namespace zn::app
