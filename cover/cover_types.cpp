#include "cover/cover_types.h"

#include <cstdlib>

namespace zn::cover {

namespace {

// The platform's MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    const long long q = (std::llabs(p) * 2 + c) / (2LL * c);
    return static_cast<int>(p < 0 ? -q : q);
}

const char* const kFieldNames[] = {"Date",   "Time",          "Regarding", "Recipient",  "RecipientFax",
                                   "Sender", "SenderCompany", "SenderFax", "SenderVoice"};
const char* const kFlagNames[] = {"Urgent", "ForReview", "PleaseComment", "PleaseReply", "PleaseRecycle"};

} // namespace

int TFontSpec::Size() const { return -MulDiv(height, 72, kScreenPixelsPerInch); }

void TFontSpec::SetSize(int points) { height = -MulDiv(points, kScreenPixelsPerInch, 72); }

const std::string* TCoverValues::Field(int type) const { return const_cast<TCoverValues*>(this)->Field(type); }

std::string* TCoverValues::Field(int type)
{
    std::string* fields[] = {&Date,   &Time,          &Regarding, &Recipient,  &RecipientFax,
                             &Sender, &SenderCompany, &SenderFax, &SenderVoice};
    return type >= 0 && type < 9 ? fields[type] : nullptr;
}

bool TCoverValues::Flag(int index) const
{
    const bool flags[] = {Urgent, ForReview, PleaseComment, PleaseReply, PleaseRecycle};
    return index >= 0 && index < 5 && flags[index];
}

void TCoverValues::SetFlag(int index, bool value)
{
    bool* flags[] = {&Urgent, &ForReview, &PleaseComment, &PleaseReply, &PleaseRecycle};
    if (index >= 0 && index < 5)
        *flags[index] = value;
}

int TCoverValues::FieldIndex(const std::string& name)
{
    for (int i = 0; i < 9; ++i)
        if (name == kFieldNames[i])
            return i;
    return -1;
}

int TCoverValues::FlagIndex(const std::string& name)
{
    for (int i = 0; i < 5; ++i)
        if (name == kFlagNames[i])
            return i;
    return -1;
}

} // namespace zn::cover
