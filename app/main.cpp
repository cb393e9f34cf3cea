#include "foundation/single_instance.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>

#include "comms/base/string_resource.h"
#include <exception>

int main(int argc, char** argv)
{
    // The lock and the window title follow the program file's name, which the title rule wants as
    // ZN.EXE (it gives "ZN"), whatever this binary is called.
    zn::foundation::TPreviousInstance::JustoneInitialization("ZN.EXE");
    QApplication app(argc, argv);
    // The string tables are part of the program: a broken one stops the start.
    try {
        zn::comms::OpenStringTables();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Tarvel", QString::fromLocal8Bit(e.what()));
        return 1;
    }
    QApplication::setApplicationName("Tarvel");
    QMainWindow mainScreen;
    zn::foundation::TOneInstance oneInstance(&mainScreen); // a second start ends here with exit code 0
    mainScreen.setWindowTitle("Tarvel");
    mainScreen.resize(800, 500);
    mainScreen.show();
    return app.exec();
}
