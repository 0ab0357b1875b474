#include "app/TApplication.h"

#include <QLabel>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    TApplication::SetTitle("Stirwatch");
    QLabel window("Stirwatch");
    window.setWindowTitle("Stirwatch");
    window.resize(635, 238);
    window.show();
    return TApplication::exec();
}
