#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Talvira");
    QLabel placeholder("Тальвира 1.0");
    placeholder.show();
    return app.exec();
}
