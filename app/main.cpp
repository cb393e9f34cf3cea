#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>

#include "comms/string_resource.h"
#include <exception>

int main(int argc, char** argv)
{
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
    mainScreen.setWindowTitle("Tarvel");
    mainScreen.resize(800, 500);
    mainScreen.show();
    return app.exec();
}
