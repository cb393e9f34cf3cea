// A program with one window that may run only once: single_instance_probe PROGRAM.EXE [--minimized]
// Prints "first" once it runs as the first instance, and "restored <was minimised> <is minimised>
// title=<window title>" each time a second start has brought its window back.
#include "foundation/single_instance.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    using zn::foundation::TOneInstance;
    using zn::foundation::TPreviousInstance;
    if (argc < 2)
        return 2;
    TPreviousInstance::OneInstanceInitialization(argv[1]);
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QString::fromStdString(TPreviousInstance::Get().GetTitle()));
    window.resize(200, 100);
    const bool minimized = argc > 2 && std::strcmp(argv[2], "--minimized") == 0;
    TOneInstance oneInstance(&window); // a second instance ends here
    bool wasMinimized = minimized;
    TPreviousInstance::Get().SetRestoreObserver([&] {
        std::printf("restored %d %d title=%s\n", wasMinimized ? 1 : 0, window.isMinimized() ? 1 : 0,
                    qPrintable(window.windowTitle()));
        std::fflush(stdout);
        wasMinimized = window.isMinimized();
    });
    if (minimized)
        window.showMinimized();
    else
        window.show();
    std::printf("first\n");
    std::fflush(stdout);
    return app.exec();
}
