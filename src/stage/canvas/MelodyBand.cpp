#include "stage/canvas/MelodyBand.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "stage/canvas/KaraokeStage.h"

namespace vozaro::stage {

namespace {

const QColor kBackdrop(0, 0, 0, 120);  // darkens the picture behind the bars
const QColor kOutline(0, 0, 0);
const QColor kNote(90, 200, 255);     // a note not (yet) sung in tune
const QColor kNoteHit(70, 235, 90);   // a note sung in tune
constexpr QRgb kTrail = 0xFFFFFFFF;
constexpr QRgb kTrailInTune = 0xFFFFFF00;
constexpr QRgb kMark = 0xFFFF00FF;
constexpr int kMarkWidth = 2;
constexpr int kTrailThickness = 3;
constexpr std::int32_t kTrailJoinMs = 80;  // pieces closer than this join up
constexpr int kGap = 2;                    // pixels kept clear around the band

int rounded(double value) { return static_cast<int>(std::lround(value)); }

// Just below the title's box on a stage `height` pixels high (exclusive): the
// box, at most 8 % of the height plus 4 and centred, is erased with a pixel
// around it.
int belowTitle(int height) {
    const int titleHeight = rounded(0.08 * height) + 4;
    return (height - titleHeight) / 2 + titleHeight + 1;
}

// A solid rectangle straight into a 32-bit picture, clipped to it.
void fill(QImage& picture, const QRect& rect, QRgb colour) {
    const QRect r = rect.intersected(picture.rect());
    if (picture.depth() != 32) {
        QPainter(&picture).fillRect(r, QColor::fromRgb(colour));
        return;
    }
    for (int y = r.top(); y <= r.bottom(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        std::fill(line + r.left(), line + r.right() + 1, colour);
    }
}

}  // namespace

void MelodyBand::load(std::vector<MelodyLine> lines) {
    clear();
    lines_ = std::move(lines);
}

void MelodyBand::setEnabled(bool on) {
    enabled_ = on;
    if (!on)
        clear();
}

QRect MelodyBand::area() const {
    const int W = stage_.canvasWidth();
    const int H = stage_.canvasHeight();
    if (stage_.AlturaLinha <= 0 || W <= 0 || H <= 0)
        return QRect();
    // The countdown's band starts one pixel above its row.
    const int bottom = stage_.LinhaY[1] - stage_.AlturaLinha - 1 - kGap;  // exclusive
    const int lowest = rounded(0.06 * H);
    const int highest = rounded(0.12 * H);
    const int width = rounded(0.9 * W);
    const int left = (W - width) / 2;
    int top = belowTitle(H) + kGap;
    if (bottom - top < lowest) {
        top = bottom - lowest;
        // Never up to the line of who sings next (at most 5 % of the height
        // from 10 pixels down).
        if (top < 10 + rounded(0.05 * H) + kGap)
            return QRect();
    } else if (bottom - top > highest) {
        top = bottom - highest;
    }
    return QRect(left, top, width, bottom - top);
}

bool MelodyBand::besideTitle() const {
    const QRect band = area();
    return !band.isEmpty() && band.top() >= belowTitle(stage_.canvasHeight());
}

bool MelodyBand::allowed(const QRect& area) const {
    if (!stage_.textBoxShown)
        return true;
    const QRect box(stage_.CaixaX - 1, stage_.CaixaY - 1, stage_.CaixaLargura + 2, stage_.CaixaAltura + 2);
    return !area.intersects(box);
}

void MelodyBand::refresh(std::int64_t now) {
    const QRect place = area();
    int line = -1;
    if (enabled_ && !lines_.empty() && !place.isEmpty())
        line = bandLine(lines_, stage_.SilabaAtual, stage_.UltimaCarregada, stage_.LinhaAtual != 0, now);
    if (line >= 0 && !allowed(place))
        line = -1;
    if (line < 0) {
        clear();
        return;
    }
    const bool newLine = line != shown_;
    if (newLine) {
        shown_ = line;
        hits_.assign(lines_[static_cast<std::size_t>(line)].notes.size(), false);
        newHits_.clear();
        trail_.clear();
    }
    if (newLine || base_.isNull() || place != layout_.area() || key_ != layout_.key() || now < drawnAt_) {
        if (key_ != layout_.key() || now < drawnAt_)
            trail_.clear();  // folded for another key, or heard after a time now gone
        drawWhole(now);
        return;
    }

    dirty_.clear();
    for (std::size_t index : newHits_) {
        paintBar(index);
        dirty_.push_back(layout_.bar(lines_[static_cast<std::size_t>(shown_)].notes[index]));
    }
    newHits_.clear();
    const auto expired = std::find_if(trail_.begin(), trail_.end(),
                                      [&](const TrailPoint& p) { return p.ms >= now - kTrailMs; });
    for (auto it = trail_.begin(); it != expired; ++it)
        if (!it->rect.isEmpty())
            dirty_.push_back(it->rect);
    trail_.erase(trail_.begin(), expired);
    for (std::size_t k = 0; k < trail_.size(); ++k)
        if (trail_[k].rect.isEmpty()) {
            trail_[k].rect = trailRect(k);
            dirty_.push_back(trail_[k].rect);
        }
    const QRect mark = markRect(now);
    if (mark != mark_) {
        dirty_.push_back(mark_);
        dirty_.push_back(mark);
        mark_ = mark;
    }
    drawnAt_ = now;
    for (const QRect& rect : dirty_)
        restore(rect);
    for (const QRect& rect : dirty_)
        paintOverlays(rect);
}

void MelodyBand::heard(double sungNote, bool voiced, std::int64_t now) {
    if (shown_ < 0 || base_.isNull() || !voiced || !std::isfinite(sungNote))
        return;
    const MelodyLine& line = lines_[static_cast<std::size_t>(shown_)];
    const SongNote* sung = line.noteAt(now);
    if (!sung)
        return;
    const int target = transposedNote(sung->note, layout_.key());
    TrailPoint point;
    point.ms = static_cast<std::int32_t>(now);
    point.note = foldedPitch(sungNote, target);
    point.inTune = inTune(sungNote, target);
    if (!trail_.empty() && point.ms < trail_.back().ms)
        return;  // time went back: the next refresh draws the band anew
    trail_.push_back(point);
    if (point.inTune && sung->startMs <= now && now < sung->endMs) {
        const auto index = static_cast<std::size_t>(sung - line.notes.data());
        if (!hits_[index]) {
            hits_[index] = true;
            newHits_.push_back(index);
        }
    }
}

void MelodyBand::clear() {
    if (!base_.isNull())
        stage_.eraseRect(layout_.area());
    shown_ = -1;
    base_ = QImage();
    layout_ = BandLayout();
    hits_.clear();
    newHits_.clear();
    trail_.clear();
    mark_ = QRect();
}

void MelodyBand::backgroundReplaced() {
    // Drawn anew over the new picture at the next refresh.
    base_ = QImage();
    layout_ = BandLayout();
}

void MelodyBand::drawWhole(std::int64_t now) {
    const QRect place = area();
    if (!base_.isNull() && layout_.area() != place)
        stage_.eraseRect(layout_.area());
    const MelodyLine& line = lines_[static_cast<std::size_t>(shown_)];
    layout_ = BandLayout(line, key_, place);
    base_ = stage_.FundoLimpo.copy(place).convertToFormat(QImage::Format_RGB32);
    {
        QPainter painter(&base_);
        painter.fillRect(base_.rect(), kBackdrop);
    }
    for (std::size_t k = 0; k < line.notes.size(); ++k)
        paintBar(k);
    newHits_.clear();
    for (std::size_t k = 0; k < trail_.size(); ++k)
        trail_[k].rect = trailRect(k);
    mark_ = markRect(now);
    drawnAt_ = now;
    restore(place);
    paintOverlays(place);
}

void MelodyBand::paintBar(std::size_t index) {
    const QRect bar = layout_.bar(lines_[static_cast<std::size_t>(shown_)].notes[index])
                          .translated(-layout_.area().topLeft());
    QPainter painter(&base_);
    painter.fillRect(bar, kOutline);
    painter.fillRect(bar.adjusted(1, 1, -1, -1), hits_[index] ? kNoteHit : kNote);
}

void MelodyBand::restore(const QRect& rect) {
    QImage& canvas = stage_.canvas();
    const QRect place = layout_.area();
    const QRect r = rect.intersected(place).intersected(canvas.rect());
    if (r.isEmpty())
        return;
    if (canvas.format() != base_.format()) {
        QPainter painter(&canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(r, base_, r.translated(-place.topLeft()));
        return;
    }
    const int bytes = r.width() * 4;
    for (int y = r.top(); y <= r.bottom(); ++y)
        std::memcpy(canvas.scanLine(y) + r.left() * 4,
                    base_.constScanLine(y - place.top()) + (r.left() - place.left()) * 4,
                    static_cast<std::size_t>(bytes));
}

void MelodyBand::paintOverlays(const QRect& clip) {
    const QRect r = clip.intersected(layout_.area());
    if (r.isEmpty())
        return;
    QImage& canvas = stage_.canvas();
    for (const TrailPoint& point : trail_)
        if (point.rect.intersects(r))
            fill(canvas, point.rect.intersected(r), point.inTune ? kTrailInTune : kTrail);
    fill(canvas, mark_.intersected(r), kMark);
    stage_.notifyChanged(r);
}

QRect MelodyBand::markRect(std::int64_t now) const {
    const QRect place = layout_.area();
    const int x = layout_.x(now);
    return QRect(x - kMarkWidth / 2, place.top() + 1, kMarkWidth, place.height() - 2).intersected(place);
}

QRect MelodyBand::trailRect(std::size_t index) const {
    const TrailPoint& point = trail_[index];
    const int x1 = layout_.x(point.ms);
    int x0 = x1 - 1;
    if (index > 0 && point.ms - trail_[index - 1].ms <= kTrailJoinMs)
        x0 = std::min(x0, layout_.x(trail_[index - 1].ms));
    const int y = layout_.y(point.note);
    return QRect(QPoint(x0, y - kTrailThickness / 2), QPoint(x1, y + kTrailThickness / 2 - 1))
        .intersected(layout_.area());
}

}  // namespace vozaro::stage
