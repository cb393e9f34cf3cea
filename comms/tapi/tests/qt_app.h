// The Qt application the message layer needs, made once per test program.
#pragma once

#include <QCoreApplication>

namespace zn::comms::test {

inline void EnsureCoreApplication()
{
    static int argc = 1;
    static char name[] = "zn_test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

} // namespace zn::comms::test
