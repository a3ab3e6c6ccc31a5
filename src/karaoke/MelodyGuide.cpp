#include "karaoke/MelodyGuide.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vozaro::stage {

namespace {

constexpr int kOctave = 12;
constexpr int kMargin = 4;  // pixels between the band's edge and its bars

bool startsLine(const QString& syllable) {
    return syllable.startsWith(QLatin1Char('/')) || syllable.startsWith(QLatin1Char('\\'));
}

}  // namespace

const SongNote* MelodyLine::noteAt(std::int64_t ms) const {
    if (notes.empty())
        return nullptr;
    // The latest started at or before ms (notes are by start).
    auto it = std::upper_bound(notes.begin(), notes.end(), ms,
                               [](std::int64_t t, const SongNote& n) { return t < n.startMs; });
    if (it == notes.begin())
        return &notes.front();
    const SongNote* sounding = nullptr;
    const SongNote* endedLast = nullptr;
    for (auto k = it; k != notes.begin();) {
        --k;
        if (k->endMs > ms) {
            sounding = &*k;
            break;
        }
        if (!endedLast || k->endMs > endedLast->endMs)
            endedLast = &*k;
    }
    return sounding ? sounding : endedLast;
}

std::vector<int> lyricLineStarts(const QStringList& syllables) {
    std::vector<int> starts;
    for (int k = 0; k < syllables.size(); ++k)
        if (k == 0 || startsLine(syllables[k]))
            starts.push_back(k);
    return starts;
}

std::vector<MelodyLine> melodyLines(const std::vector<SongNote>& songNotes, const Melody& melody,
                                    const std::vector<std::int32_t>& syllableMs,
                                    const std::vector<int>& lineStarts) {
    std::vector<MelodyLine> lines;
    if (!melody.found() || syllableMs.empty())
        return lines;
    std::vector<SongNote> voice;
    for (const SongNote& n : songNotes)
        if (n.channel == melody.channel)
            voice.push_back(n);
    std::stable_sort(voice.begin(), voice.end(),
                     [](const SongNote& a, const SongNote& b) { return a.startMs < b.startMs; });

    const int count = static_cast<int>(syllableMs.size());
    for (std::size_t i = 0; i < lineStarts.size(); ++i) {
        const int first = lineStarts[i];
        if (first < 0 || first >= count)
            continue;
        const int last = i + 1 < lineStarts.size() ? std::min(lineStarts[i + 1], count) - 1 : count - 1;
        if (last < first)
            continue;
        MelodyLine line;
        line.firstSyllable = first;
        line.lastSyllable = last;
        const std::int64_t from = std::int64_t{syllableMs[static_cast<std::size_t>(first)]} - kCoincidenceMs;
        const std::int64_t to = last + 1 < count
                                    ? std::int64_t{syllableMs[static_cast<std::size_t>(last) + 1]} - kCoincidenceMs
                                    : std::numeric_limits<std::int64_t>::max();
        auto it = std::lower_bound(voice.begin(), voice.end(), from,
                                   [](const SongNote& n, std::int64_t t) { return n.startMs < t; });
        for (; it != voice.end() && it->startMs < to; ++it)
            line.notes.push_back(*it);
        line.startMs = syllableMs[static_cast<std::size_t>(first)];
        line.endMs = syllableMs[static_cast<std::size_t>(last)];
        for (const SongNote& n : line.notes) {
            line.startMs = std::min(line.startMs, n.startMs);
            line.endMs = std::max(line.endMs, n.endMs);
        }
        line.endMs = std::max(line.endMs, line.startMs + 1);
        lines.push_back(std::move(line));
    }
    return lines;
}

int lineOfSyllable(const std::vector<MelodyLine>& lines, int syllable) {
    auto it = std::upper_bound(lines.begin(), lines.end(), syllable,
                               [](int s, const MelodyLine& line) { return s < line.firstSyllable; });
    if (it == lines.begin())
        return -1;
    --it;
    return syllable <= it->lastSyllable ? static_cast<int>(it - lines.begin()) : -1;
}

int bandLine(const std::vector<MelodyLine>& lines, int sung, int loaded, bool linesShown, std::int64_t now) {
    if (sung >= 0) {
        const int current = lineOfSyllable(lines, sung);
        if (current >= 0 && now < lines[static_cast<std::size_t>(current)].endMs)
            return current;
    }
    const int next = sung + 1;
    if (linesShown && next <= loaded) {
        const int line = lineOfSyllable(lines, next);
        if (line >= 0)
            return line;
    }
    return -1;
}

BandLayout::BandLayout(const MelodyLine& line, int key, const QRect& area)
    : area_(area), inner_(area.adjusted(kMargin, kMargin, -kMargin, -kMargin)), key_(key) {
    // The line's own range (in the file's key) stays put, so that the key
    // moves the bars on it; it widens to keep moved bars on the band.
    int low = std::numeric_limits<int>::max();
    int high = std::numeric_limits<int>::min();
    for (const SongNote& n : line.notes) {
        low = std::min(low, int{n.note});
        high = std::max(high, int{n.note});
    }
    if (line.notes.empty())
        low = high = 60;
    low -= 1;
    high += 1;
    if (const int missing = kOctave - (high - low); missing > 0) {
        low -= missing / 2;
        high += missing - missing / 2;
    }
    for (const SongNote& n : line.notes) {
        const int moved = transposedNote(n.note, key);
        low = std::min(low, moved - 1);
        high = std::max(high, moved + 1);
    }
    low_ = low;
    high_ = high;
    startMs_ = line.startMs;
    endMs_ = std::max(line.endMs, line.startMs + 1);
    semitone_ = std::max(1.0, static_cast<double>(inner_.height()) / (high_ - low_));
}

int BandLayout::x(std::int64_t ms) const {
    const std::int64_t t = std::clamp<std::int64_t>(ms, startMs_, endMs_);
    const double share = static_cast<double>(t - startMs_) / static_cast<double>(endMs_ - startMs_);
    return inner_.left() + static_cast<int>(std::lround(share * (inner_.width() - 1)));
}

int BandLayout::y(double note) const {
    if (!std::isfinite(note))
        note = low_;
    const double row = inner_.bottom() - (note - low_) * semitone_;
    return std::clamp(static_cast<int>(std::lround(row)), inner_.top(), inner_.bottom());
}

QRect BandLayout::bar(const SongNote& note) const {
    const int left = x(note.startMs);
    const int right = std::max(x(note.endMs) - 1, left + 1);
    // Thick enough to be seen from afar, and to show its colour around the
    // singer's trail over it.
    const int height = std::max(static_cast<int>(std::lround(semitone_)), std::clamp(inner_.height() / 5, 5, 14));
    const int middle = y(transposedNote(note.note, key_));
    return QRect(QPoint(left, middle - height / 2), QSize(right - left + 1, height)).intersected(area_);
}

}  // namespace vozaro::stage
