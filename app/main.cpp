#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Stirwatch");
    QLabel window("Stirwatch");
    window.setWindowTitle("Stirwatch");
    window.resize(635, 238);
    window.show();
    return QApplication::exec();
}
