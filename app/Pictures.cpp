#include "app/Pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

QPixmap canvas(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(Qt::transparent);
    return pm;
}

void drawSheet(QPainter& p, const QColor& paper) {
    QPainterPath sheet;
    sheet.moveTo(2.5, 0.5);
    sheet.lineTo(10.5, 0.5);
    sheet.lineTo(13.5, 3.5);
    sheet.lineTo(13.5, 15.5);
    sheet.lineTo(2.5, 15.5);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(paper);
    p.drawPath(sheet);
    p.setBrush(QColor(200, 200, 200));
    QPainterPath fold;
    fold.moveTo(10.5, 0.5);
    fold.lineTo(10.5, 3.5);
    fold.lineTo(13.5, 3.5);
    fold.closeSubpath();
    p.drawPath(fold);
}

}  // namespace

QPixmap blankSheetPicture() {
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    drawSheet(p, Qt::white);
    return pm;
}

QPixmap openFolderPicture() {
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(128, 96, 0));
    p.setBrush(QColor(224, 176, 48));
    p.drawRect(0, 4, 12, 10);  // back of the folder
    p.drawRect(0, 2, 5, 2);    // its tab
    QPolygon front;
    front << QPoint(2, 7) << QPoint(15, 7) << QPoint(12, 14) << QPoint(0, 14);
    p.setBrush(QColor(255, 216, 96));
    p.drawPolygon(front);
    return pm;
}

QPixmap penPicture() {
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.translate(8, 8);
    p.rotate(-45);
    p.setPen(QPen(QColor(32, 32, 96), 1));
    p.setBrush(QColor(64, 96, 200));
    p.drawRect(QRectF(-5, -1.8, 9, 3.6));  // barrel
    p.setBrush(QColor(240, 208, 150));
    QPolygonF tip;
    tip << QPointF(-5, -1.8) << QPointF(-8, 0) << QPointF(-5, 1.8);
    p.drawPolygon(tip);
    p.setBrush(QColor(200, 40, 40));
    p.drawRect(QRectF(4, -1.8, 2.5, 3.6));  // cap
    return pm;
}

QPixmap textPagePicture() {
    QPixmap pm = canvas(16, 16);
    QPainter p(&pm);
    drawSheet(p, Qt::white);
    p.setPen(QColor(0, 0, 160));
    for (int y = 5; y <= 13; y += 2) p.drawLine(4, y, y == 13 ? 8 : 11, y);
    return pm;
}

QPixmap aboutPicture() {
    QPixmap pm(128, 97);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient sky(0, 0, 0, 97);
    sky.setColorAt(0, QColor(120, 170, 230));
    sky.setColorAt(1, QColor(235, 245, 255));
    p.fillRect(pm.rect(), sky);
    p.fillRect(QRect(0, 80, 128, 17), QColor(150, 120, 80));  // ground
    // The house.
    p.setPen(QPen(QColor(90, 40, 20), 1));
    p.setBrush(QColor(200, 90, 60));
    p.drawRect(QRectF(18, 50, 44, 30));
    QPolygonF roof;
    roof << QPointF(12, 50) << QPointF(40, 30) << QPointF(68, 50);
    p.setBrush(QColor(120, 50, 40));
    p.drawPolygon(roof);
    p.setBrush(QColor(250, 240, 170));
    p.drawRect(QRectF(25, 58, 10, 9));
    p.drawRect(QRectF(45, 58, 10, 9));
    // The crane.
    p.setPen(QPen(QColor(230, 170, 0), 3));
    p.drawLine(QPointF(96, 80), QPointF(96, 14));
    p.drawLine(QPointF(70, 16), QPointF(120, 16));
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.drawLine(QPointF(76, 16), QPointF(76, 34));
    p.setBrush(QColor(110, 110, 110));
    p.drawRect(QRectF(72, 34, 8, 6));
    // The estimate sheet with its figures.
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(80, 80, 80), 1));
    p.drawRect(QRectF(84, 50, 30, 38));
    p.setPen(QColor(0, 0, 160));
    for (int y = 56; y <= 82; y += 5) p.drawLine(QPointF(88, y), QPointF(110, y));
    return pm;
}
