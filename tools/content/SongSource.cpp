#include "SongSource.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <sstream>

#include "platform/TextEncoding.h"

namespace vozaro::content {

SourceError::SourceError(int line, const std::string& message)
    : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}

namespace {

constexpr int kQ = kTicksPerQuarter;
constexpr int kMelodyChannel = 0, kBassChannel = 1, kHarmonyChannel = 2, kDrumChannel = 9;
// General MIDI drum notes.
constexpr int kKick = 36, kRim = 37, kSnare = 38, kClosedHat = 42, kPedalHat = 44, kCrash = 49,
              kShaker = 70, kMuteTriangle = 80, kOpenTriangle = 81;

struct Chord {
    int root = 0;  // pitch class
    int bass = 0;  // pitch class of the bass note
    std::vector<int> intervals;
};

struct Note {
    int tick, length, pitch, velocity, channel;
};

struct TimedText {
    int tick;
    std::string text;  // Windows-1252
};

struct Meter {
    int tick, beats, unit;
};

enum class Style { March, Waltz, Baiao, Ballad };

std::string trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return std::string(s.substr(b, e - b));
}

std::vector<std::string> words(std::string_view s) {
    std::istringstream in{std::string(s)};
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

int parseNumber(int line, const std::string& text, int low, int high, const char* what) {
    int value = 0;
    std::size_t used = 0;
    try {
        value = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value < low || value > high)
        throw SourceError(line, std::string(what) + " must be a number from " + std::to_string(low) +
                                    " to " + std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

std::optional<int> pitchClass(char letter) {
    static const std::map<char, int> classes{{'c', 0}, {'d', 2}, {'e', 4}, {'f', 5},
                                             {'g', 7}, {'a', 9}, {'b', 11}};
    auto it = classes.find(static_cast<char>(std::tolower(static_cast<unsigned char>(letter))));
    if (it == classes.end())
        return std::nullopt;
    return it->second;
}

// "F#", "Bb", "C" at the start of `text`; advances `at`.
std::optional<int> parseRoot(const std::string& text, std::size_t& at) {
    if (at >= text.size() || !std::isupper(static_cast<unsigned char>(text[at])))
        return std::nullopt;
    std::optional<int> pc = pitchClass(text[at]);
    if (!pc)
        return std::nullopt;
    ++at;
    if (at < text.size() && text[at] == '#')
        ++at, *pc += 1;
    else if (at < text.size() && text[at] == 'b')
        ++at, *pc += 11;
    return *pc % 12;
}

Chord parseChord(int line, const std::string& name) {
    static const std::map<std::string, std::vector<int>> kinds{
        {"", {0, 4, 7}},       {"m", {0, 3, 7}},         {"7", {0, 4, 7, 10}},
        {"m7", {0, 3, 7, 10}}, {"maj7", {0, 4, 7, 11}},  {"6", {0, 4, 7, 9}},
        {"m6", {0, 3, 7, 9}},  {"dim", {0, 3, 6}},       {"dim7", {0, 3, 6, 9}},
        {"aug", {0, 4, 8}},    {"sus4", {0, 5, 7}}};
    std::size_t at = 0;
    std::optional<int> root = parseRoot(name, at);
    std::size_t slash = name.find('/', at);
    std::string kind = name.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    auto it = kinds.find(kind);
    if (!root || it == kinds.end())
        throw SourceError(line, "unknown chord \"" + name + "\"");
    Chord chord{*root, *root, it->second};
    if (slash != std::string::npos) {
        std::size_t b = slash + 1;
        std::optional<int> bass = parseRoot(name, b);
        if (!bass || b != name.size())
            throw SourceError(line, "unknown bass note in chord \"" + name + "\"");
        chord.bass = *bass;
    }
    return chord;
}

// Ticks of a duration token ("4", "8.", "2").
int parseDuration(int line, const std::string& text) {
    bool dotted = !text.empty() && text.back() == '.';
    std::string digits = dotted ? text.substr(0, text.size() - 1) : text;
    static const std::map<std::string, int> lengths{
        {"1", 4 * kQ}, {"2", 2 * kQ}, {"4", kQ}, {"8", kQ / 2}, {"16", kQ / 4}};
    auto it = lengths.find(digits);
    if (it == lengths.end())
        throw SourceError(line, "unknown duration \"" + text + "\"");
    return dotted ? it->second * 3 / 2 : it->second;
}

class Compiler {
public:
    CompiledSong run(std::string_view source);

private:
    void statement(const std::string& keyword, const std::string& value, bool hasValue);
    void notesLine(const std::string& value);
    void lyricsLine(const std::string& value);
    void noteToken(const std::string& token, int depth);
    int barTicks() const { return meter_.beats * 4 * kQ / meter_.unit; }
    void accompany();
    void accompanyBeat(const Chord& chord, int beatStart, int beat, int barIndex);
    std::optional<Chord> chordAt(int tick) const;
    std::vector<std::uint8_t> write() const;
    std::string encode(const std::string& utf8) const;

    int line_ = 0;
    CompiledSong song_;
    Style style_ = Style::March;
    int melodyProgram_ = 74, bassProgram_ = -1, harmonyProgram_ = -1;
    Meter meter_{0, 4, 4};
    int barStart_ = 0;  // tick of the last meter change; bars count from it
    std::vector<Meter> meters_{meter_};
    std::vector<std::pair<int, int>> tempos_;  // tick, quarter notes per minute
    std::map<std::string, std::vector<std::string>> phrases_;
    std::vector<std::pair<int, std::optional<Chord>>> chords_;
    std::vector<Note> notes_;
    std::vector<TimedText> lyrics_;
    bool bodyStarted_ = false;
    bool verseNext_ = true;

    int position_ = 0;
    int duration_ = kQ;
    std::optional<std::size_t> tiedNote_;  // index into notes_ of a note tied onwards
    std::vector<std::size_t> lineNotes_;   // notes of the last notes line that take syllables
    bool lineHasLyrics_ = true;            // the last notes line already has its lyrics
};

CompiledSong Compiler::run(std::string_view source) {
    std::istringstream in{std::string(source)};
    for (std::string raw; std::getline(in, raw);) {
        ++line_;
        std::string text = trim(raw);
        if (text.empty() || text[0] == '#')
            continue;
        std::size_t colon = text.find(':');
        std::string head = trim(text.substr(0, colon));
        std::string value = colon == std::string::npos ? std::string() : trim(text.substr(colon + 1));
        statement(head, value, colon != std::string::npos);
    }
    ++line_;
    if (tiedNote_)
        throw SourceError(line_, "the last note is tied to nothing");
    if (song_.title.empty())
        throw SourceError(line_, "the song has no title");
    if (notes_.empty())
        throw SourceError(line_, "the song has no notes");
    if (tempos_.empty() || tempos_.front().first != 0)
        tempos_.insert(tempos_.begin(), {0, 120});
    accompany();
    song_.midi = write();
    song_.syllables = static_cast<int>(lyrics_.size());
    return std::move(song_);
}

void Compiler::statement(const std::string& keyword, const std::string& value, bool hasValue) {
    auto header = [&](const char* name) {
        if (bodyStarted_)
            throw SourceError(line_, std::string(name) + " belongs before the first notes");
    };
    if (keyword == "verse" && !hasValue) {
        verseNext_ = true;
        return;
    }
    if (!hasValue)
        throw SourceError(line_, "unknown statement \"" + keyword + "\"");
    if (keyword == "title") {
        header("title");
        song_.title = value;
    } else if (keyword == "performer") {
        header("performer");
        song_.performer = value;
    } else if (keyword == "style") {
        header("style");
        static const std::map<std::string, Style> styles{
            {"march", Style::March}, {"waltz", Style::Waltz}, {"baiao", Style::Baiao},
            {"ballad", Style::Ballad}};
        auto it = styles.find(value);
        if (it == styles.end())
            throw SourceError(line_, "unknown style \"" + value + "\"");
        style_ = it->second;
    } else if (keyword == "melody" || keyword == "bass" || keyword == "harmony") {
        header(keyword.c_str());
        int program = parseNumber(line_, value, 1, 128, "a program") - 1;
        (keyword == "melody" ? melodyProgram_ : keyword == "bass" ? bassProgram_ : harmonyProgram_) = program;
    } else if (keyword == "meter") {
        std::size_t slash = value.find('/');
        if (slash == std::string::npos)
            throw SourceError(line_, "a meter is written as beats/4, such as 3/4");
        int beats = parseNumber(line_, value.substr(0, slash), 2, 4, "the beats of a bar");
        int unit = parseNumber(line_, value.substr(slash + 1), 4, 4, "the beat unit");
        if ((position_ - barStart_) % barTicks() != 0)
            throw SourceError(line_, "a meter changes only at a bar line");
        meter_ = Meter{position_, beats, unit};
        barStart_ = position_;
        if (!meters_.empty() && meters_.back().tick == position_)
            meters_.back() = meter_;
        else
            meters_.push_back(meter_);
    } else if (keyword == "tempo") {
        int bpm = parseNumber(line_, value, 20, 300, "a tempo");
        if (!tempos_.empty() && tempos_.back().first == position_)
            tempos_.back().second = bpm;
        else
            tempos_.emplace_back(position_, bpm);
    } else if (keyword.rfind("define ", 0) == 0) {
        std::string name = trim(keyword.substr(7));
        if (name.empty() || phrases_.count(name))
            throw SourceError(line_, "a phrase needs a new name");
        phrases_[name] = words(value);
    } else if (keyword == "notes") {
        bodyStarted_ = true;
        notesLine(value);
    } else if (keyword == "lyrics") {
        lyricsLine(value);
    } else {
        throw SourceError(line_, "unknown statement \"" + keyword + "\"");
    }
}

void Compiler::notesLine(const std::string& value) {
    lineNotes_.clear();
    lineHasLyrics_ = false;
    for (const std::string& token : words(value))
        noteToken(token, 0);
}

void Compiler::noteToken(const std::string& token, int depth) {
    if (token[0] == '$') {
        auto it = phrases_.find(token.substr(1));
        if (it == phrases_.end() || depth > 8)
            throw SourceError(line_, "unknown phrase \"" + token + "\"");
        for (const std::string& t : it->second)
            noteToken(t, depth + 1);
        return;
    }
    if (token == "|") {
        if ((position_ - barStart_) % barTicks() != 0)
            throw SourceError(line_, "bar line " + std::to_string((position_ - barStart_) % barTicks()) +
                                         " ticks into a bar");
        return;
    }
    if (token.front() == '[' && token.back() == ']') {
        std::string name = token.substr(1, token.size() - 2);
        std::optional<Chord> chord;
        if (name != "-")
            chord = parseChord(line_, name);
        if (!chords_.empty() && chords_.back().first == position_)
            chords_.back().second = chord;
        else
            chords_.emplace_back(position_, chord);
        return;
    }
    std::string text = token;
    bool tie = !text.empty() && text.back() == '~';
    if (tie)
        text.pop_back();
    std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        duration_ = parseDuration(line_, text.substr(colon + 1));
        text.resize(colon);
    }
    if (text == "r") {
        if (tie || tiedNote_)
            throw SourceError(line_, "a rest cannot be tied");
        position_ += duration_;
        return;
    }
    std::optional<int> pc = text.empty() ? std::nullopt : pitchClass(text[0]);
    if (!pc || !std::islower(static_cast<unsigned char>(text[0])))
        throw SourceError(line_, "unknown note \"" + token + "\"");
    std::size_t at = 1;
    if (at < text.size() && text[at] == '#')
        ++at, *pc += 1;
    else if (at < text.size() && text[at] == 'b')
        ++at, *pc -= 1;
    int octave = parseNumber(line_, text.substr(at), 1, 7, "an octave");
    int pitch = (octave + 1) * 12 + *pc;
    if (tiedNote_) {
        Note& held = notes_[*tiedNote_];
        if (held.pitch != pitch)
            throw SourceError(line_, "a tie joins notes of the same pitch");
        held.length += duration_;
        if (!tie)
            tiedNote_.reset();
    } else {
        notes_.push_back(Note{position_, duration_, pitch, 100, kMelodyChannel});
        lineNotes_.push_back(notes_.size() - 1);
        if (tie)
            tiedNote_ = notes_.size() - 1;
    }
    position_ += duration_;
}

void Compiler::lyricsLine(const std::string& value) {
    if (lineHasLyrics_)
        throw SourceError(line_, "lyrics need a notes line right above them");
    lineHasLyrics_ = true;
    // One entry per note: the syllable, or nothing for '_'.
    std::vector<std::optional<std::string>> syllables;
    for (const std::string& word : words(value)) {
        if (word == "_") {
            syllables.emplace_back();
            continue;
        }
        // "-" splits a word; "--" splits it and shows a hyphen ("ga-to--to").
        std::vector<std::string> parts(1);
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '-') {
                parts.back() += word[i] == '_' ? ' ' : word[i];
                continue;
            }
            if (i + 1 < word.size() && word[i + 1] == '-')
                parts.back() += '-', ++i;
            parts.emplace_back();
        }
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (parts[i].empty() || parts[i] == "-")
                throw SourceError(line_, "empty syllable in \"" + word + "\"");
            syllables.push_back(encode(parts[i]) + (i + 1 == parts.size() ? " " : ""));
        }
    }
    if (syllables.size() != lineNotes_.size())
        throw SourceError(line_, std::to_string(lineNotes_.size()) + " notes but " +
                                     std::to_string(syllables.size()) + " syllables");
    bool first = true;
    std::optional<std::size_t> last;
    for (std::size_t i = 0; i < syllables.size(); ++i) {
        if (!syllables[i])
            continue;
        std::string text = *syllables[i];
        if (first) {
            text = (verseNext_ ? "\\" : "/") + text;
            verseNext_ = first = false;
        }
        lyrics_.push_back(TimedText{notes_[lineNotes_[i]].tick, text});
        last = lyrics_.size() - 1;
    }
    if (!last)
        throw SourceError(line_, "a lyrics line without a syllable");
    // No blank after the last word of a screen line.
    if (!lyrics_[*last].text.empty() && lyrics_[*last].text.back() == ' ')
        lyrics_[*last].text.pop_back();
}

std::string Compiler::encode(const std::string& utf8) const {
    std::optional<std::string> bytes = platform::utf8ToWindows1252(utf8);
    if (!bytes)
        throw SourceError(line_, "\"" + utf8 + "\" cannot be written in Windows-1252");
    return *bytes;
}

std::optional<Chord> Compiler::chordAt(int tick) const {
    std::optional<Chord> chord;
    for (const auto& [at, c] : chords_) {
        if (at > tick)
            break;
        chord = c;
    }
    return chord;
}

// Chord notes voiced close together between G3 and F#4, bass notes between
// C2 and B2: a small band sounds like one accompanist whatever the chord.
int harmonyPitch(int pc) { return 55 + (pc - 7 + 12) % 12; }
int bassPitch(int pc) { return 36 + pc % 12; }
int fifthPitch(const Chord& c) {
    int fifth = bassPitch(c.root) + 7;
    return fifth > 50 ? fifth - 12 : fifth;
}

void Compiler::accompany() {
    int end = position_;
    // Fill the last bar, then one more bar holds the final chord.
    int bar = barTicks();
    int intoBar = (end - barStart_) % bar;
    if (intoBar)
        end += bar - intoBar;
    std::size_t m = 0;
    int barIndex = 0;
    for (int tick = 0; tick < end;) {
        while (m + 1 < meters_.size() && meters_[m + 1].tick <= tick)
            ++m, barIndex = 0;
        const Meter& meter = meters_[m];
        int beat = 4 * kQ / meter.unit;
        for (int b = 0; b < meter.beats; ++b)
            if (std::optional<Chord> chord = chordAt(tick + b * beat))
                accompanyBeat(*chord, tick + b * beat, b, barIndex);
        tick += meter.beats * beat;
        ++barIndex;
    }
    std::optional<Chord> last = chordAt(end - 1);
    if (last) {
        notes_.push_back(Note{end, bar, bassPitch(last->bass), 90, kBassChannel});
        for (int i : last->intervals)
            notes_.push_back(Note{end, bar, harmonyPitch(last->root + i), 70, kHarmonyChannel});
        notes_.push_back(Note{end, kQ, kKick, 100, kDrumChannel});
        notes_.push_back(Note{end, kQ, kCrash, 90, kDrumChannel});
        end += bar;
    }
    position_ = end;
}

void Compiler::accompanyBeat(const Chord& c, int at, int beat, int barIndex) {
    const int q = 4 * kQ / meter_.unit;
    auto add = [&](int offset, int length, int pitch, int velocity, int channel) {
        notes_.push_back(Note{at + offset, length, pitch, velocity, channel});
    };
    auto chord = [&](int offset, int length, int velocity) {
        for (int i : c.intervals)
            add(offset, length, harmonyPitch(c.root + i), velocity, kHarmonyChannel);
    };
    const int root = bassPitch(c.bass), fifth = fifthPitch(c);
    switch (style_) {
    case Style::March:
        // Root and fifth on the beats, the chord on the off-beats.
        add(0, q * 9 / 10, beat % 2 == 0 ? root : fifth, 92, kBassChannel);
        chord(q / 2, q * 2 / 5, 62);
        add(0, q / 4, beat % 2 == 0 ? kKick : kSnare, beat % 2 == 0 ? 100 : 80, kDrumChannel);
        add(0, q / 4, kClosedHat, 55, kDrumChannel);
        add(q / 2, q / 4, kClosedHat, 40, kDrumChannel);
        break;
    case Style::Waltz:
        // Oom-pah-pah: the bass on one, the chord on two and three.
        if (beat == 0) {
            add(0, q * 19 / 20, barIndex % 2 == 0 ? root : fifth, 92, kBassChannel);
            add(0, q / 4, kKick, 95, kDrumChannel);
        } else {
            chord(0, q * 3 / 5, beat == 1 ? 64 : 56);
            add(0, q / 4, kPedalHat, 50, kDrumChannel);
        }
        break;
    case Style::Baiao:
        // The zabumba's dotted figure in the bass and kick, a triangle
        // ringing open on the off-beats, the accordion pushing ahead.
        if (beat % 2 == 0) {
            add(0, q * 3 / 4 - 10, root, 95, kBassChannel);
            add(q * 3 / 4, q * 3 / 4 - 10, root, 85, kBassChannel);
            add(0, q / 4, kKick, 105, kDrumChannel);
            add(q * 3 / 4, q / 4, kKick, 90, kDrumChannel);
            chord(q / 2, q / 3, 66);
        } else {
            add(q / 2, q / 2 - 10, fifth, 85, kBassChannel);
            add(0, q / 4, kRim, 70, kDrumChannel);
            chord(q / 4, q / 3, 60);
        }
        for (int s = 0; s < 4; ++s)
            add(s * q / 4, q / 4, s == 2 ? kOpenTriangle : kMuteTriangle, s == 2 ? 70 : 45, kDrumChannel);
        break;
    case Style::Ballad: {
        // A guitar picking root, third and fifth in eighths over long bass notes.
        if (beat % 2 == 0) {
            add(0, 2 * q - 20, beat == 0 ? root : fifth, 85, kBassChannel);
            add(0, q / 4, kKick, 80, kDrumChannel);
        } else {
            add(0, q / 4, kRim, 55, kDrumChannel);
        }
        const std::vector<int>& iv = c.intervals;
        add(0, q, harmonyPitch(c.root + iv[(beat * 2) % iv.size()]), 60, kHarmonyChannel);
        add(q / 2, q / 2, harmonyPitch(c.root + iv[(beat * 2 + 1) % iv.size()]), 52, kHarmonyChannel);
        add(0, q / 4, kShaker, 45, kDrumChannel);
        add(q / 2, q / 4, kShaker, 35, kDrumChannel);
        break;
    }
    }
}

// --- writing the Standard MIDI File -------------------------------------------

struct Event {
    int tick;
    int order;  // at the same tick: meta first, then note-offs, then note-ons
    std::vector<std::uint8_t> bytes;
};

void putVarLen(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t buffer[5];
    int n = 0;
    do {
        buffer[n++] = value & 0x7f;
        value >>= 7;
    } while (value);
    while (n--)
        out.push_back(static_cast<std::uint8_t>(buffer[n] | (n ? 0x80 : 0)));
}

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Event meta(int tick, std::uint8_t type, const std::string& data) {
    Event e{tick, 0, {0xff, type}};
    putVarLen(e.bytes, static_cast<std::uint32_t>(data.size()));
    e.bytes.insert(e.bytes.end(), data.begin(), data.end());
    return e;
}

Event channelMessage(int tick, int order, std::uint8_t status, std::uint8_t a, std::optional<std::uint8_t> b = {}) {
    Event e{tick, order, {status, a}};
    if (b)
        e.bytes.push_back(*b);
    return e;
}

void putTrack(std::vector<std::uint8_t>& out, std::vector<Event> events, int endTick) {
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    std::vector<std::uint8_t> body;
    int now = 0;
    for (const Event& e : events) {
        putVarLen(body, static_cast<std::uint32_t>(e.tick - now));
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
        now = e.tick;
    }
    putVarLen(body, static_cast<std::uint32_t>(std::max(0, endTick - now)));
    body.insert(body.end(), {0xff, 0x2f, 0x00});
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    putBigEndian(out, static_cast<std::uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
}

std::vector<std::uint8_t> Compiler::write() const {
    const int end = position_;
    std::vector<std::vector<Event>> tracks;

    std::vector<Event> conductor{meta(0, 0x03, encode(song_.title)),
                                 meta(0, 0x01, "@KMIDI KARAOKE FILE"), meta(0, 0x01, "@V0100"),
                                 meta(0, 0x01, "@I" + encode(song_.performer))};
    for (const Meter& m : meters_)
        conductor.push_back(meta(m.tick, 0x58, std::string{char(m.beats), char(2), char(24), char(8)}));
    for (const auto& [tick, bpm] : tempos_) {
        std::uint32_t micros = 60000000u / static_cast<std::uint32_t>(bpm);
        conductor.push_back(meta(tick, 0x51, std::string{char(micros >> 16), char(micros >> 8), char(micros)}));
    }
    tracks.push_back(std::move(conductor));

    if (!lyrics_.empty()) {
        // Event 0 the name, event 1 the language tag the lyric search looks for.
        std::vector<Event> words{meta(0, 0x03, "Words"), meta(0, 0x01, "@LPORT"),
                                 meta(0, 0x01, "@T" + encode(song_.title)),
                                 meta(0, 0x01, "@T" + encode(song_.performer))};
        for (const TimedText& t : lyrics_)
            words.push_back(meta(t.tick, 0x01, t.text));
        for (Event& e : words)
            e.order = 0;
        tracks.push_back(std::move(words));
    }

    struct Part {
        const char* name;
        int channel, program, volume, pan;
    };
    static const int styleBass[] = {33, 33, 34, 33};       // acoustic or finger bass
    static const int styleHarmony[] = {25, 22, 22, 25};    // nylon guitar, accordion
    const int s = static_cast<int>(style_);
    const Part parts[] = {
        {"Melodia", kMelodyChannel, melodyProgram_, 110, 64},
        {"Baixo", kBassChannel, bassProgram_ >= 0 ? bassProgram_ : styleBass[s] - 1, 100, 58},
        {"Harmonia", kHarmonyChannel, harmonyProgram_ >= 0 ? harmonyProgram_ : styleHarmony[s] - 1, 85, 78},
        {"Bateria", kDrumChannel, 0, 95, 64}};
    for (const Part& part : parts) {
        const std::uint8_t ch = static_cast<std::uint8_t>(part.channel);
        std::vector<Event> events{meta(0, 0x03, part.name)};
        if (part.channel != kDrumChannel)
            events.push_back(channelMessage(0, 1, 0xc0 | ch, static_cast<std::uint8_t>(part.program)));
        events.push_back(channelMessage(0, 1, 0xb0 | ch, 7, static_cast<std::uint8_t>(part.volume)));
        events.push_back(channelMessage(0, 1, 0xb0 | ch, 10, static_cast<std::uint8_t>(part.pan)));
        events.push_back(channelMessage(0, 1, 0xb0 | ch, 91, 40));
        for (const Note& n : notes_) {
            if (n.channel != part.channel)
                continue;
            // A hair of silence before the next note keeps repeated notes apart.
            const int length = std::max(1, n.length - (part.channel == kDrumChannel ? 0 : 12));
            events.push_back(channelMessage(n.tick, 3, 0x90 | ch, static_cast<std::uint8_t>(n.pitch),
                                            static_cast<std::uint8_t>(n.velocity)));
            events.push_back(channelMessage(n.tick + length, 2, 0x80 | ch, static_cast<std::uint8_t>(n.pitch), 0));
        }
        tracks.push_back(std::move(events));
    }

    std::vector<std::uint8_t> out{'M', 'T', 'h', 'd'};
    putBigEndian(out, 6, 4);
    putBigEndian(out, 1, 2);
    putBigEndian(out, static_cast<std::uint32_t>(tracks.size()), 2);
    putBigEndian(out, kQ, 2);
    for (auto& track : tracks)
        putTrack(out, std::move(track), end);
    return out;
}

}  // namespace

CompiledSong compileSong(std::string_view source) { return Compiler().run(source); }

std::string songFileName(const std::string& title) {
    std::string name;
    for (char c : title)
        if (std::string_view("/\\:*?\"<>|,").find(c) == std::string_view::npos)
            name += c;
    return trim(name) + ".kar";
}

}  // namespace vozaro::content
