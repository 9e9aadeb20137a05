#pragma once
// What a widget really paints as text: it is rendered onto a device whose paint engine records
// every text item with its place, so that a test sees the characters on the screen rather than
// what the model would give.
#include <QPaintDevice>
#include <QPaintEngine>
#include <QRectF>
#include <QString>
#include <QTransform>
#include <QWidget>

#include <vector>

namespace talvira::test {

struct PaintedText {
    QString text;
    QRectF box;  // in the rendered widget's coordinates: from the pen position, the item's width and height
};

class TextRecordingEngine : public QPaintEngine {
public:
    TextRecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    std::vector<PaintedText> texts;

    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState& s) override {
        if (s.state() & QPaintEngine::DirtyTransform) transform_ = s.transform();
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawPolygon(const QPoint*, int, PolygonDrawMode) override {}
    void drawPath(const QPainterPath&) override {}
    void drawRects(const QRectF*, int) override {}
    void drawRects(const QRect*, int) override {}
    void drawLines(const QLineF*, int) override {}
    void drawLines(const QLine*, int) override {}
    void drawEllipse(const QRectF&) override {}
    void drawPoints(const QPointF*, int) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override {
        const QRectF local(p.x(), p.y() - item.ascent(), item.width(), item.ascent() + item.descent());
        texts.push_back({item.text(), transform_.mapRect(local)});
    }
    Type type() const override { return QPaintEngine::User; }

private:
    QTransform transform_;
};

class TextRecorder : public QPaintDevice {
public:
    explicit TextRecorder(QSize size) : size_(size) {}
    TextRecordingEngine engine;
    QPaintEngine* paintEngine() const override { return const_cast<TextRecordingEngine*>(&engine); }

protected:
    int metric(PaintDeviceMetric m) const override {
        switch (m) {
        case PdmWidth: return size_.width();
        case PdmHeight: return size_.height();
        case PdmWidthMM: return size_.width() * 254 / 960;
        case PdmHeightMM: return size_.height() * 254 / 960;
        case PdmNumColors: return 0x7fffffff;
        case PdmDepth: return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return 96;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
        default: return 0;
        }
    }

private:
    QSize size_;
};

/** The text items `w` paints, in `w`'s coordinates. */
inline std::vector<PaintedText> paintedTexts(QWidget* w) {
    TextRecorder rec(w->size());
    w->render(&rec, QPoint(), QRegion(), QWidget::DrawChildren);
    return rec.engine.texts;
}

}  // namespace talvira::test
