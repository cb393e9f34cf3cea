// The toolkit application the cover targets need for fonts and painting (offscreen, made once).
#pragma once

#include <QGuiApplication>

#include <cstdlib>

namespace zn::cover::fuzz {

inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
}

} // namespace zn::cover::fuzz
