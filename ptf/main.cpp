#include "foundation/single_instance.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>

#include "comms/base/string_resource.h"
#include <exception>

int main(int argc, char** argv)
{
    // A lock of its own (ZNPTF.EXE), so that znptf runs beside zn.
    zn::foundation::TPreviousInstance::JustoneInitialization("ZNPTF.EXE");
    QApplication app(argc, argv);
    // The string tables are part of the program: a broken one stops the start.
    try {
        zn::comms::OpenStringTables();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Tarvel", QString::fromLocal8Bit(e.what()));
        return 1;
    }
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
