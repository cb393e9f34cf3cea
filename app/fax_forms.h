// The phone book browser and its entry editor, the fax information editor of an outgoing fax, and
// the notes editor of a received fax.
#pragma once
#include "data/gui/db_grid.h"
#include "data/table/dataset.h"
#include "data/table/veldrane.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zn::foundation::gui {
class TEnterEdit;
}

namespace zn::app {

class TPhoneBookEditor : public QDialog {
    Q_OBJECT
public:
    explicit TPhoneBookEditor(QWidget* parent = nullptr);
    QLineEdit* Name;
    QLineEdit* Number;
    QPushButton* OKButton;
    QPushButton* Cancelbutton;
    QPushButton* Helpbutton;
};

class TPhoneBook : public QDialog {
    Q_OBJECT
public:
    explicit TPhoneBook(QWidget* parent = nullptr);
    ~TPhoneBook() override;

    data::TTable PhoneTable;
    data::TDataSource PhoneDataSource{&PhoneTable};
    data::TVeldrane PhoneVeldrane;
    data::TDBGrid* PhoneGrid;
    QPushButton *Addbutton, *Modifybutton, *Deletebutton, *Closebutton, *Cancelbutton, *OKButton, *Helpbutton;

    // Opens ZNPB of the program folder; false when it cannot be opened or created.
    bool Open(bool exclusive);
    // Pick mode: Accept and Cancel instead of Close.
    void SetPickMode();
    QString ChosenName;
    QString ChosenNumber;

    void FormActivate(); // updates the buttons
    void AddbuttonClick();
    void ModifyButtonClick();
    void DeleteButtonClick();
    void AcceptbuttonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool HasRows();
};

class TFaxEditor : public QDialog {
    Q_OBJECT
public:
    explicit TFaxEditor(QWidget* parent = nullptr);
    foundation::gui::TEnterEdit* Recipient;
    foundation::gui::TEnterEdit* FaxNumber;
    foundation::gui::TEnterEdit* Subject;
    foundation::gui::TEnterEdit* Notes;
    foundation::gui::TEnterEdit* Codes;
    QPushButton* AddressButton;
    QPushButton* OKButton;
    QPushButton* CancelButton;
    QPushButton* Helpbutton;

    void AddressButtonClick(); // picks an entry of the phone book
};

class TEditReceiveNotes : public QDialog {
    Q_OBJECT
public:
    explicit TEditReceiveNotes(QWidget* parent = nullptr);
    QLabel* Descript;
    QLineEdit* Notes;
    QPushButton* OKButton;
    QPushButton* Cancelbutton;
};

} // namespace zn::app
