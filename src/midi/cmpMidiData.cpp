#include "midi/cmpMidiData.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "midi/cmpRiffStream.h"

namespace vozaro::midi {

namespace {

constexpr std::uint16_t kDefaultFormat = 0x0100;    // 1, big-endian
constexpr std::uint16_t kDefaultDivision = 0xB400;  // 180, big-endian

// Position of the extension's "." in the last path component, or npos.
std::size_t extensionDot(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    const std::size_t slash = fileName.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string::npos;
    return dot;
}

}  // namespace

TMidiData::TMidiData() : format_(kDefaultFormat), trackCount_(0), division_(kDefaultDivision) {}

TMidiData::~TMidiData() = default;

void TMidiData::setActive(bool value) {
    if (value == active_)
        return;
    if (!value) {
        Close();
    } else if (fileName_.empty()) {
        Close();
        active_ = true;
    } else {
        load();
    }
}

void TMidiData::setPPQN(int value) {
    const auto word = swapWord(static_cast<std::uint16_t>(value));
    if (word == division_)
        return;
    division_ = word;
    modified_ = true;
}

void TMidiData::ClearModified() {
    modified_ = false;
    for (auto& track : tracks_)
        track->setModified(false);
}

void TMidiData::Close() {
    headerExtra_.clear();
    headerExtra_.shrink_to_fit();
    tracks_.clear();
    format_ = kDefaultFormat;
    trackCount_ = 0;
    division_ = kDefaultDivision;
    modified_ = false;
    active_ = false;
}

void TMidiData::load() {
    Close();
    const std::size_t dot = extensionDot(fileName_);
    std::string ext = dot == std::string::npos ? std::string() : fileName_.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    riff_ = ext == ".RMI" || ext == ".RIFF";

    std::unique_ptr<Stream> source;
    if (riff_) {
        auto riff = std::make_unique<TRiffFileStream>(fileName_, kOpenRead | kShareDenyWrite);
        riff->Descend("RMID", kFindRiff);
        riff->Descend("data", kFindChunk);
        source = std::move(riff);
    } else {
        source = std::make_unique<FileStream>(fileName_, kOpenRead | kShareDenyWrite);
    }
    loadFromStream(*source);
    if (riff_)
        fileName_ = fileName_.substr(0, dot) + ".MID";
}

void TMidiData::loadFromMemory(const std::uint8_t* data, std::size_t size) {
    ReadOnlyMemoryStream source(data, size);
    Close();
    loadFromStream(source);
}

void TMidiData::loadFromStream(Stream& source) {
    try {
        readHeader(source);
        try {
            readTracks(source);
            active_ = true;
        } catch (...) {
            Close();
            throw;
        }
    } catch (...) {
        ClearModified();
        throw;
    }
    ClearModified();
}

void TMidiData::readHeader(Stream& source) {
    std::uint8_t head[8];
    source.readBuffer(head, 4);
    if (std::memcmp(head, "MThd", 4) != 0)
        throw EMidiData("Invalid MIDI file ID");
    source.readBuffer(head + 4, 4);
    // Taken as a signed number: a length of 2^31 or more is as invalid as 5.
    const auto length = static_cast<std::int32_t>(readBigEndian32(head + 4));
    if (length <= 5)
        throw EMidiData("Invalid MIDI header size");
    std::uint16_t words[3];
    source.readBuffer(words, sizeof words);
    format_ = words[0];
    trackCount_ = words[1];
    division_ = words[2];
    if (length >= 7) {
        const std::int64_t extra = length - 6;
        source.requireAhead(extra);
        headerExtra_.resize(static_cast<std::size_t>(extra));
        source.readBuffer(headerExtra_.data(), extra);
    }
}

void TMidiData::readTracks(Stream& source) {
    const std::uint16_t count = headerTrackCount();
    tracks_.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        auto track = std::make_unique<TMidiTrackStream>(TMidiTrackStream::kFileTrackEvents);
        track->LoadFromStream(source);
        tracks_.push_back(std::move(track));
    }
}

void transposeNotes(const TMidiData& original, TMidiData& played, std::int32_t shift) noexcept {
    constexpr std::uint8_t kDrumChannel = 9;
    const std::int32_t tracks = std::min(original.TrackCount(), played.TrackCount());
    for (std::int32_t t = 0; t < tracks; ++t) {
        const TMidiTrackStream& from = *original.Tracks(t);
        TMidiTrackStream& to = *played.Tracks(t);
        const std::int32_t events = std::min(from.EventCount(), to.EventCount());
        for (std::int32_t e = 0; e < events; ++e) {
            const TEventData& source = from.Event(e)->Message;
            const std::uint8_t kind = source.Status & 0xF0;
            if ((kind != 0x80 && kind != 0x90) || (source.Status & 0x0F) == kDrumChannel)
                continue;
            const std::int32_t note = std::clamp<std::int32_t>(source.Data1 + shift, 0, 127);
            to.Event(e)->Message.storeData1(static_cast<std::uint8_t>(note));
        }
    }
}

}  // namespace vozaro::midi
