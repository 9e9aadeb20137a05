// The reference program of the start-up benchmark: a Qt application showing one empty window.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle(QStringLiteral("Empty"));
    w.resize(714, 561);
    w.show();
    return app.exec();
}
