#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tarvel");
    QMainWindow mainScreen;
    mainScreen.setWindowTitle("Tarvel");
    mainScreen.resize(400, 200);
    mainScreen.show();
    return app.exec();
}
