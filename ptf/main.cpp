#include "foundation/single_instance.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    // A lock of its own (ZNPTF.EXE), so that znptf runs beside zn.
    zn::foundation::TPreviousInstance::JustoneInitialization("ZNPTF.EXE");
    QApplication app(argc, argv);
    {
        zn::foundation::TOneInstance oneInstance; // a second start ends here with exit code 0
    }
    QApplication::setApplicationName("Tarvel");
    QMainWindow mainScreen;
    mainScreen.setWindowTitle("Tarvel");
    mainScreen.resize(400, 200);
    mainScreen.show();
    return app.exec();
}
