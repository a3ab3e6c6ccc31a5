// A paint device that records what is drawn on it, page by page: texts with
// their position and font, and rectangles.  For checking printed layouts
// without a printer.
#pragma once

#include <QPaintDevice>
#include <QPaintEngine>
#include <QRect>
#include <QString>
#include <QTextItem>
#include <ostream>
#include <vector>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

struct RecordedText {
    QString text;
    QPointF baseline;
    QFont font;
};

struct RecordedPage {
    std::vector<RecordedText> texts;
    std::vector<QRectF> rects;
};

class RecordingPaintEngine : public QPaintEngine {
public:
    explicit RecordingPaintEngine(std::vector<RecordedPage>& pages)
        : QPaintEngine(QPaintEngine::AllFeatures), pages_(pages) {}
    bool begin(QPaintDevice*) override {
        if (pages_.empty())
            pages_.emplace_back();
        return true;
    }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override {
        pages_.back().texts.push_back({item.text(), p, item.font()});
    }
    void drawRects(const QRectF* rects, int count) override {
        for (int i = 0; i < count; ++i)
            pages_.back().rects.push_back(rects[i]);
    }
    void drawRects(const QRect* rects, int count) override {
        for (int i = 0; i < count; ++i)
            pages_.back().rects.push_back(QRectF(rects[i]));
    }
    Type type() const override { return QPaintEngine::User; }

private:
    std::vector<RecordedPage>& pages_;
};

class RecordingPaintDevice : public QPaintDevice {
public:
    RecordingPaintDevice(int width, int height, int dpi = 600)
        : width_(width), height_(height), dpi_(dpi), engine_(pages) {}
    QPaintEngine* paintEngine() const override { return &engine_; }
    bool newPage() {
        pages.emplace_back();
        return true;
    }

    std::vector<RecordedPage> pages;

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth: return width_;
        case PdmHeight: return height_;
        case PdmWidthMM: return width_ * 254 / (dpi_ * 10);
        case PdmHeightMM: return height_ * 254 / (dpi_ * 10);
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY: return dpi_;
        case PdmDepth: return 32;
        case PdmNumColors: return INT_MAX;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
        default: return 0;
        }
    }

private:
    int width_, height_, dpi_;
    mutable RecordingPaintEngine engine_;
};
