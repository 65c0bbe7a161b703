// Entry of ZORVEL_Backup: the application object, its title, the main window, the message loop.
#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("ZORVEL_Backup");
    QLabel placeholder("ZORVEL_Backup");
    placeholder.setWindowTitle("ZORVEL_Backup");
    placeholder.show();
    return app.exec();
}
