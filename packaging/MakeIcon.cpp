// Writes the program's icon: the about box picture centred on a square transparent PNG, for
// the desktop entry of the Debian package.
//
//   talvira_make_icon OUT.png [SIZE]
#include "app/Pictures.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: talvira_make_icon OUT.png [SIZE]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const int size = argc > 2 ? std::atoi(argv[2]) : 128;
    const QPixmap picture = aboutPicture();
    QImage icon(size, size, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    {
        QPainter p(&icon);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize scaled = picture.size().scaled(size, size, Qt::KeepAspectRatio);
        p.drawPixmap(QRect(QPoint((size - scaled.width()) / 2, (size - scaled.height()) / 2), scaled), picture);
    }
    if (!icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
