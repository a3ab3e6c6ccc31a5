// The evening's flow on the stage: what happens when a song starts, when it
// stops (by the host or by its own end), the score announcement with its
// pauses, automatic next, Next pressed at any moment, the stops the stage
// makes itself (its buttons, the catalogue and configuration windows, the
// catalogue's check of a file to add) and the catalogue's "Tocar Agora".
//
// The flow owns that state and the two window timers it runs on (timerDelay,
// which erases the centred text and times the announcement's pauses, and
// timerNota, 500 ms after every stop).  It works on the karaoke screen (song,
// player, drawing) and the request queue, and asks the stage window for the
// rest through EveningWindow, so tests drive it on the test clock without a
// window.
//
// Every stop the stage makes itself switches automatic next off while it
// runs: only a song that ends by itself starts the next request after its
// score.  Next starts exactly one request, whatever it meets: a song playing,
// a song that has just ended and whose end is not handled yet, a score about
// to be announced or being announced.
//
// thread: user-interface thread, except stopReported(), which the player's
// timer thread calls at the end of a song: it only sets a flag, read by the
// next lyric step (allocation-free, lock-free).
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "audio/PitchDetector.h"
#include "karaoke/RequestQueue.h"
#include "karaoke/Scoring.h"
#include "karaoke/Waits.h"
#include "stage/canvas/UpNext.h"

class KaraokeStage;

namespace vozaro::platform {
class WindowTimer;
}

namespace vozaro::stage {

// What the flow needs of the stage window.
class EveningWindow {
public:
    virtual ~EveningWindow() = default;
    // The auto-next switch of the live settings.
    virtual bool& autoNextSwitch() = 0;
    // Scoring is switched on in the settings; and with it, scoring by pitch.
    virtual bool scoringOn() = 0;
    virtual bool pitchScoringOn() = 0;
    // The button bar: disabled from a stop until its score has been
    // announced.  The Next button: disabled while Next runs.
    virtual void setButtonBarEnabled(bool enabled) = 0;
    virtual void setNextEnabled(bool enabled) = 0;
    // The queue changed: its list shows it again.
    virtual void showQueue() = 0;
    // A song is about to start: the microphone becomes the only recording
    // source.  Then it starts: the microphone is listened to.
    virtual void selectMicrophone() = 0;
    virtual void startListening() = 0;
    // The key chosen in the adjustment panel, in semitones.
    virtual int key() = 0;
    // A song stopped: the microphone and the lyric timer stop; speed and
    // key go back to normal, their change handlers run.
    virtual void songStopped() = 0;
    // The background pictures: how many there are, and a new one at random.
    virtual int pictureCount() = 0;
    virtual void loadRandomPicture() = 0;
    // The other windows, modally.  showConfiguration is true when the
    // settings were saved.
    virtual void showCatalogue() = 0;
    virtual bool showConfiguration() = 0;
    // The catalogue could not be opened (its message has been shown): the
    // program ends.  Not for a failure that passes (no descriptor left for
    // the moment): the host is asked to try again, and the request waits.
    virtual void catalogueUnavailable() = 0;
    // A song is about to be shown and played; the stage is idle again (the
    // score has been announced and no next request starts).
    virtual void songStarting() {}
    virtual void stageIdle() {}
    // The idle stage's invitation is on screen: it shows who sings next
    // itself, in place of the up-next line.
    virtual bool invitationShown() { return false; }
};

class EveningFlow {
public:
    EveningFlow(KaraokeStage& stage, RequestQueue& queue, EveningWindow& window);
    ~EveningFlow();
    EveningFlow(const EveningFlow&) = delete;
    EveningFlow& operator=(const EveningFlow&) = delete;

    std::unique_ptr<platform::WindowTimer> timerDelay;  // the centred text; the announcement's pauses
    std::unique_ptr<platform::WindowTimer> timerNota;   // 500 ms after every stop
    int timerNotaTag = 0;  // 0: the next request may start after the announcement

    QString Titulo;            // singer and title, shown when a song starts
    bool VozPresente = false;  // the last microphone buffer peaked above the noise level
    audio::HeardPitch Afinacao;  // the pitch heard in the last microphone buffers
    std::int32_t Acertos = 0;  // syllables highlighted while the singer was heard
    std::int32_t Erros = 0;    // ... and while not

    // The stage's handlers.
    void play();                // Play
    void stop();                // Stop
    void next();                // Next
    void openCatalogue();       // the catalogue button
    void openConfiguration();   // the configuration button
    void playerStopped();       // the player stopped: reset, then the score in 500 ms
    void announceScore();       // timerNota
    void delayOver();           // timerDelay: the centred text goes
    void lyricStep();           // the 50 ms lyric timer: the end of the song, who sings next
    void displayStep();         // the stage's display step (every 16 ms, and at each syllable)
    // A highlighted syllable counts as sung when the singer was heard; with
    // pitch scoring on a song whose melody is known, when the singer is
    // heard in tune with the syllable's note (moved by the key) in one of
    // the buffers from its highlight on, for kPitchJudgingMs or until the
    // next syllable is highlighted or the song stops.  A syllable without a
    // melody note counts as heard or not.
    void syllableHighlighted();
    // A microphone buffer has set VozPresente and Afinacao.
    void bufferHeard();
    static constexpr std::int32_t kPitchJudgingMs = 250;
    // The score's announcement: the question, then the score and verdict.
    static constexpr int kAskingMs = 2000;
    static constexpr int kScoreMs = 5000;
    static constexpr int kAnnouncementMs = kAskingMs + kScoreMs;

    // The catalogue window's "Tocar Agora": the song numbered `numero` is
    // requested without a singer, put first in the queue and started.
    void playNow(std::int32_t numero);
    // After the catalogue's karaoke check of a file to be added: stopped as
    // after a song without going on to the next request; the song models
    // forget the file.
    void releaseCheckedSong();
    // Stops a song (playing, paused or fast-forwarding) without starting the
    // next request; also an end of song not yet handled counts as stopped so.
    void stopPlaying();
    // The stage closes: an announcement ends in its current pause, the song
    // stops, nothing starts any more.
    void close();

    // Who sings next is shown while no song plays, during the score
    // announcement, and during a song from its last highlighted syllable on
    // (a song without lyrics: its last kUpNextWithoutLyricsMs), whenever a
    // request waits.  The queue changed: the line follows.
    void queueChanged() { refreshUpNext(); }
    const UpNextLine& upNext() const { return upNext_; }
    static constexpr std::int32_t kUpNextWithoutLyricsMs = 20000;

    // What the guests' waits need now (see waitsMs): the rest of the song
    // playing at its speed and the pause after it, or the pause under way.
    StageTimes stageTimes() const;
    // From a song's end to the next one's start: timerNota's half second,
    // and with scoring on the announcement's two and five seconds.
    std::int64_t pauseBetweenSongsMs() const;

    // thread: any.  The player's stop notification.  A stop the stage makes
    // on this thread is handled in place, so it has been handled when Stop
    // returns; the end of a song is only noted, for the next lyric step.
    void stopReported();

    // Runs the delay timer out: a title still on screen goes at once.
    void runDelayOut();

    bool announcing() const { return announcing_; }
    const Score& lastScore() const { return lastScore_; }
    int announcements() const { return announcements_; }
    // The song file the player plays (a RIFF song's MidiData renames it).
    const std::string& songFile() const { return songFile_; }
    // The request started last (what plays while the player plays).
    const std::optional<Request>& started() const { return started_; }

private:
    class AutoNextOff;
    void stopWithoutAutoNext();
    // An end of song noted and not handled yet is handled now; with
    // `byTheHost`, as a stop the host made.  True when there was one.
    bool handlePendingEnd(bool byTheHost);
    void startFirstRequest();
    void showTitle();
    // The syllable being judged by pitch is counted now.
    void endPitchJudging();
    // One pause of the announcement; false when it must end there.
    bool pause(int ms);
    bool upNextDue() const;
    void refreshUpNext();

    KaraokeStage& stage_;
    RequestQueue& queue_;
    EveningWindow& window_;
    std::string songFile_;
    std::int64_t songLengthMs_ = 0;  // of the song playing, at 100 %
    std::optional<Request> started_;
    bool announcing_ = false;
    bool nextAfterAnnouncement_ = false;  // Next was asked for during the announcement
    bool nextWaiting_ = false;            // a Next waits for the score to be announced
    Score lastScore_;
    // The syllable being judged by pitch: its note (-1: none), whether it
    // was hit, and how many more buffers it waits for.
    int judgedNote_ = -1;
    bool judgedHit_ = false;
    int judgedBuffersLeft_ = 0;
    int announcements_ = 0;
    bool closing_ = false;
    bool outputFailed_ = false;  // the last play() found no sound output
    // Ends with the flow: waits that outlive it see it gone.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
    // A stage-caused Stop is under way: its report is handled in place.
    std::atomic<bool> stopping_{false};
    // The end of a song noted on the timer thread, not yet handled.
    std::atomic<bool> stopPosted_{false};
    const std::thread::id uiThread_;
    UpNextLine upNext_{stage_};
};

}  // namespace vozaro::stage
