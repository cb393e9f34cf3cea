#include "copy_quality.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "class1_frames.h"

namespace zn::comms {

bool CopyQualityAcceptable(const PageQuality& q)
{
    if (q.consecutiveBadRows > kMaxConsecutiveBadRows)
        return false;
    // good / rows >= 95 %, in integers.
    return (q.rows - q.badRows) * 100 >= q.rows * kMinGoodRowsPercent;
}

PageQuality QualityFromPageStatus(const std::string& report, bool class20)
{
    const size_t colon = report.find(':');
    const std::vector<long> v = ReportNumbers(colon == std::string::npos ? report : report.substr(colon + 1), class20);
    auto at = [&v](size_t i) { return i < v.size() ? int(std::clamp<long>(v[i], 0, INT32_MAX)) : 0; };
    PageQuality q; // v[0] is the post-page response
    q.rows = at(1);
    q.badRows = at(2);
    q.consecutiveBadRows = at(3);
    return q;
}

} // namespace zn::comms
