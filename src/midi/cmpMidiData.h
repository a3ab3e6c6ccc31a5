// TMidiData: one song, the fields of its Standard MIDI File header and its
// tracks in file order.  Setting Active to true loads the file named by
// FileName (a plain Standard MIDI File, or a RIFF MIDI file when the name
// ends in ".RMI" or ".RIFF" in any case); setting it to false releases
// everything.  The engine reads songs; there is no writer.
//
// Threads: user-interface thread only; a song must not be closed or reloaded
// while a player plays it.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "midi/unitMidiTrackStream.h"

namespace vozaro::midi {

// Header errors: "Invalid MIDI file ID", "Invalid MIDI header size".
class EMidiData : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

class TMidiData {
public:
    TMidiData();
    ~TMidiData();
    TMidiData(const TMidiData&) = delete;
    TMidiData& operator=(const TMidiData&) = delete;

    // The song file (a path in the file system's encoding).  After a RIFF song
    // has loaded, its extension is replaced by ".MID".
    const std::string& FileName() const noexcept { return fileName_; }
    void setFileName(const std::string& fileName) { fileName_ = fileName; }

    // true: load FileName, or create an empty song when FileName is empty.
    // false: release everything.  Setting the current value does nothing.
    // A failed load throws (EMidiData, EMidiTrackStream, EVirtualMemory,
    // RiffError, FileOpenError, StreamReadError) and leaves the song inactive
    // without tracks.
    bool Active() const noexcept { return active_; }
    void setActive(bool value);

    // Ticks per quarter note: the division word as an unsigned number (an
    // SMPTE division is not interpreted).  Writing a different value stores
    // its low 16 bits and sets Modified.
    std::uint16_t PPQN() const noexcept { return swapWord(division_); }
    void setPPQN(int value);

    std::int32_t TrackCount() const noexcept { return static_cast<std::int32_t>(tracks_.size()); }
    // The track at index, or nullptr outside 0 .. TrackCount - 1.
    TMidiTrackStream* Tracks(std::int32_t index) const noexcept {
        if (index < 0 || index >= TrackCount())
            return nullptr;
        return tracks_[static_cast<std::size_t>(index)].get();
    }

    bool Modified() const noexcept { return modified_; }
    // Clears Modified of the song and of every track.
    void ClearModified();
    // Frees the tracks and the header extra, resets the header (format 1, no
    // tracks, division 180), clears Modified and deactivates.
    void Close();

    // Header words as numbers (they are kept as read, big-endian).
    std::uint16_t format() const noexcept { return swapWord(format_); }
    std::uint16_t headerTrackCount() const noexcept { return swapWord(trackCount_); }
    // Header bytes beyond the first six (empty when the header has six).
    const std::vector<std::uint8_t>& headerExtra() const noexcept { return headerExtra_; }
    // Whether the file name names a RIFF song (".RMI" or ".RIFF").
    bool isRiff() const noexcept { return riff_; }

    // Loads a plain Standard MIDI File already in memory, as Active := true
    // loads a file (FileName is left alone).  For tests and fuzzing.
    void loadFromMemory(const std::uint8_t* data, std::size_t size);
    // Loads from an open stream positioned at "MThd".
    void loadFromStream(Stream& source);

private:
    void load();
    void readHeader(Stream& source);
    void readTracks(Stream& source);

    std::string fileName_;
    bool active_ = false;
    std::uint16_t format_;      // big-endian, as in the file
    std::uint16_t trackCount_;  // big-endian
    std::uint16_t division_;    // big-endian
    std::vector<std::uint8_t> headerExtra_;
    std::vector<std::unique_ptr<TMidiTrackStream>> tracks_;
    bool modified_ = false;
    bool riff_ = false;
};

// A key change: the note number of every note-on and note-off of played
// becomes that of the same record of original plus shift, kept within 0 to
// 127.  Channel 10 (index 9), where note numbers choose drum sounds, is left
// alone, as is everything else.  The shift always starts from original, so
// changes never accumulate.  Both songs are read from the same file; records
// beyond the shorter of two corresponding tracks are left alone.  Note
// numbers are written atomically, so a player may be playing played.
void transposeNotes(const TMidiData& original, TMidiData& played, std::int32_t shift) noexcept;

}  // namespace vozaro::midi
