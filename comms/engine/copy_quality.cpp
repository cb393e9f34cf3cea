#include "copy_quality.h"

#include <cstdlib>

namespace zn::comms {

bool CopyQualityAcceptable(const PageQuality& q)
{
    if (q.consecutiveBadRows > kMaxConsecutiveBadRows)
        return false;
    // good / rows >= 95 %, in integers.
    return (q.rows - q.badRows) * 100 >= q.rows * kMinGoodRowsPercent;
}

PageQuality QualityFromPageStatus(const std::string& report)
{
    int values[4] = {0, 0, 0, 0}; // response, rows, bad rows, consecutive bad rows
    size_t at = report.find(':');
    at = at == std::string::npos ? 0 : at + 1;
    for (int i = 0; i < 4 && at <= report.size(); ++i) {
        values[i] = std::atoi(report.c_str() + at);
        size_t comma = report.find(',', at);
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    PageQuality q;
    q.rows = values[1];
    q.badRows = values[2];
    q.consecutiveBadRows = values[3];
    return q;
}

} // namespace zn::comms
