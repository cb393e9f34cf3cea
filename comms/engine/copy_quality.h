// Copy quality of a received page: whether it is good enough to confirm to the sender (MCF) or
// must be asked for again (RTN: the sender trains again and sends the page once more).
#pragma once

#include <string>

namespace zn::comms {

struct PageQuality {
    int rows = 0;               // rows received
    int badRows = 0;            // rows that did not decode into a whole row
    int consecutiveBadRows = 0; // the longest run of bad rows
};

// No recommendation fixes the limits; these are the defaults fax servers have long judged received
// pages by: at least 95 % of the rows good, and no more than 5 bad rows in a row (a longer gap is a
// visible hole in the page; isolated bad rows are not).
constexpr int kMinGoodRowsPercent = 95;
constexpr int kMaxConsecutiveBadRows = 5;

bool CopyQualityAcceptable(const PageQuality& q);

// The counts a Class 2/2.0 modem reports with a page's status: post-page response, rows, bad rows,
// most consecutive bad rows, lost bytes; counts it leaves out are 0. Class 2 counts in decimal
// ("+FPTS:1,2294,5,2"), Class 2.0 in hexadecimal ("+FPS:1,8F6,5,2,0" is the same page).
PageQuality QualityFromPageStatus(const std::string& report, bool class20);

} // namespace zn::comms
