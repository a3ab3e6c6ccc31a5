// The melody on the stage: a band between the title's area and the
// countdown that shows the notes of the lyric line being sung as bars (their
// height by pitch, their length by duration, in the key the host chose), a
// mark at the song's time, and the singer's pitch as a short trail over
// them.  A note sung in tune changes colour.  Being on the stage picture it
// shows on the singers' screen too.
//
// The band takes the room between the title's area and the countdown; where
// that room is too low for it (small screens), it reaches up into the
// title's area and then shows only while no centred text (title, score) is
// on the stage.  It never takes the lyric lines, the countdown or the line
// of who sings next.
//
// Drawing: the band's picture without the mark and the trail (background,
// backdrop and bars) is kept; a refresh restores from it only the columns
// the mark left and the trail pieces that expired, and draws the mark and
// the new trail pieces: a step touches a few narrow rectangles, never the
// whole band.  A new line, a new key, a jump back in time or a replaced
// background draws the band whole.
//
// thread: user-interface thread only.
#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>
#include <vector>

#include "karaoke/MelodyGuide.h"

class KaraokeStage;

namespace vozaro::stage {

class MelodyBand {
public:
    explicit MelodyBand(KaraokeStage& stage) : stage_(stage) {}

    // How far back the trail reaches, in song milliseconds.
    static constexpr std::int32_t kTrailMs = 800;

    // The song's lines (none: the song has no melody, and no band shows).
    void load(std::vector<MelodyLine> lines);
    const std::vector<MelodyLine>& lines() const { return lines_; }

    // The band is wanted (the host's setting); off, it goes at once.
    void setEnabled(bool on);
    bool enabled() const { return enabled_; }
    // The key the notes are moved by; the band follows at its next refresh.
    void setKey(int key) { key_ = key; }

    // The place of the band on the stage as laid out now; empty when there
    // is no room for it at all.  `besideTitle` is false when it reaches into
    // the title's area.
    QRect area() const;
    bool besideTitle() const;

    // Brings the band up to the lyric display's state at song time `now`
    // (ms), repainting only what changed.
    void refresh(std::int64_t now);
    // A microphone buffer at song time `now`: the singer's pitch (a
    // fractional MIDI note number), and whether a voice was heard with a
    // pitch worth judging.  The trail grows at the next refresh, and a note
    // heard in tune turns.
    void heard(double sungNote, bool voiced, std::int64_t now);
    // Erased from the stage; nothing shows until the next refresh finds a
    // line again.
    void clear();
    // The stage picture was replaced: the band drawn on the old one is gone.
    void backgroundReplaced();

    // What is shown: the line (-1: none) and where it is.
    int shownLine() const { return shown_; }
    const QRect& shownRect() const { return layout_.area(); }
    const BandLayout& layout() const { return layout_; }
    // Whether the shown line's note `index` has been sung in tune.
    bool noteHit(std::size_t index) const { return index < hits_.size() && hits_[index]; }
    struct TrailPoint {
        std::int32_t ms = 0;
        double note = 0;  // folded, in the key shown
        bool inTune = false;
        QRect rect;       // where it is drawn, empty until it is
    };
    const std::vector<TrailPoint>& trail() const { return trail_; }

private:
    bool allowed(const QRect& area) const;
    void drawWhole(std::int64_t now);
    void paintBar(std::size_t index);
    void restore(const QRect& rect);
    void paintOverlays(const QRect& clip);
    QRect markRect(std::int64_t now) const;
    QRect trailRect(std::size_t index) const;

    KaraokeStage& stage_;
    std::vector<MelodyLine> lines_;
    bool enabled_ = true;
    int key_ = 0;
    int shown_ = -1;
    BandLayout layout_;
    QImage base_;  // the band without mark and trail, the size of its area
    std::vector<bool> hits_;
    std::vector<std::size_t> newHits_;
    std::vector<TrailPoint> trail_;
    QRect mark_;
    std::int64_t drawnAt_ = 0;
    std::vector<QRect> dirty_;
};

}  // namespace vozaro::stage
