// The phone book browser (shared with znptf), the fax information editor of an outgoing fax, and
// the notes editor of a received fax.
#pragma once
#include "data/gui/db_grid.h"
#include "data/table/dataset.h"
#include "data/table/veldrane.h"
#include "foundation/phone_book.h"

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace zn::foundation::gui {
class TEnterEdit;
}

namespace zn::app {

using foundation::TPhoneBook;
using foundation::TPhoneBookEditor;

// Opens the phone book to pick an entry; the name and number chosen go into the two edits. False
// when the book cannot be opened or nothing was picked.
bool PickPhoneBookEntry(QWidget* parent, QLineEdit* name, QLineEdit* number);

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
