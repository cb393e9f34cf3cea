// The phone book browser over ZNPB and its entry editor, as both programs show them: zn's browser
// and znptf's number picker.
#pragma once
#include "data/gui/db_grid.h"
#include "data/table/dataset.h"
#include "data/table/veldrane.h"

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace zn::foundation {

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

} // namespace zn::foundation
