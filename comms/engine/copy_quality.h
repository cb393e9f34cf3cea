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

// The counts a Class 2/2.0 modem reports with a page's status ("1,2376,3,1[,0]": post-page
// response, rows, bad rows, most consecutive bad rows, lost bytes); counts it leaves out are 0.
PageQuality QualityFromPageStatus(const std::string& report);

} // namespace zn::comms
