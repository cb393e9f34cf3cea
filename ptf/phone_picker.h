// znptf's phone-number picker: the phone book of ZNPB (shared with zn when both use one program
// folder), always in pick mode, under a caption and hints of its own.
#pragma once
#include "foundation/phone_book.h"

#include <string>

namespace zn::ptf {

class TMainScreen : public foundation::TPhoneBook {
public:
    explicit TMainScreen(QWidget* parent = nullptr);
    // Opens the phone book (not exclusive: zn may hold it too); false after telling the user.
    bool FormCreate();
};

// Shows the picker over the job dialog; true with the chosen entry's name and number.
bool PickPhoneNumber(QWidget* parent, std::string* name, std::string* phone);

} // namespace zn::ptf
