// The pages of a fax file as libtiff reads them after znfax has unpacked each one.
#pragma once
#include "faxline_harness.h"

#include <QProcess>
#include <QString>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zn::app::test {

inline std::vector<faxline::Bitmap> FaxFilePages(const std::string& apf)
{
    const std::string tif = apf + ".tif";
    const QString znfax = qEnvironmentVariable("ZN_BUILD_DIR") + "/tools/znfax/znfax";
    QProcess info;
    info.start(znfax, {"info", QString::fromStdString(apf)});
    info.waitForFinished();
    const QString text = info.readAllStandardOutput();
    const int count = text.section("pages: ", 1).section('\n', 0, 0).toInt();
    std::vector<faxline::Bitmap> all;
    for (int page = 1; page <= count; ++page) {
        EXPECT_EQ(QProcess::execute(znfax, {"unpack", "--page", QString::number(page), QString::fromStdString(apf),
                                            QString::fromStdString(tif)}),
                  0);
        auto pages = faxline::ReadTiffPages(tif);
        if (pages && !pages->empty())
            all.push_back(pages->front());
    }
    return all;
}

} // namespace zn::app::test
