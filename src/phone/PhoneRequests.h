// Requests taken from the guests' phones: the rules a request must pass
// before it joins the stage's queue, where it is a request like a typed one
// (the same look-up by number, the same request line, the end of the queue)
// that the host deletes and reorders as any other.  The queue's record says
// which phone asked for it.
//
// The rules, in the order they are checked (the web interface has throttled
// each phone's tries before, see PhoneApi):
//   - requests by phone are switched on (else Off);
//   - the access code of this run, 6 digits (else WrongCode);
//   - the singer's name, trimmed: at most 15 characters, no control or
//     formatting characters, only characters Windows-1252 can store; it may
//     be empty (else BadName);
//   - a song with that number in the catalogue (else NoSuchSong);
//   - at most 2 requests of the same client address waiting in the queue
//     (the phone may take back its own while they wait),
//     at most one request (or wrong code) per 10 seconds from it, at most
//     30 requests of all phones together in a minute, at most 200 requests
//     in the queue (else TooMany).
//
// thread: user-interface thread only.
#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <deque>
#include <optional>

#include "karaoke/RequestQueue.h"
#include "karaoke/Waits.h"
#include "phone/SongIndex.h"

namespace vozaro::stage {

class PhoneRequests {
public:
    static constexpr int kMaxQueue = 200;
    static constexpr int kMaxWaitingPerClient = 2;
    static constexpr std::int64_t kIntervalMs = 10000;
    static constexpr int kMaxPerMinute = 30;  // of all phones together
    static constexpr int kCodeDigits = 6;
    static constexpr int kMaxNameLength = 15;
    // Client addresses remembered before those past their interval are dropped.
    static constexpr qsizetype kForgetAfter = 1000;

    enum class Result { Accepted, BadName, WrongCode, NoSuchSong, TooMany, Off };
    struct Outcome {
        Result result = Result::Off;
        int position = 0;  // 1 = the first in the queue, when accepted
    };

    // `queueChanged` is called after a request joined the queue (the stage
    // shows it); `clockMs` is a monotonic clock in milliseconds.
    PhoneRequests(SongSnapshots& songs, RequestQueue& queue, std::function<void()> queueChanged,
                  std::function<std::int64_t()> clockMs);

    void setAccepting(bool on) { accepting_ = on; }
    bool accepting() const { return accepting_; }
    // The access code of this run.
    void setCode(const QString& code) { code_ = code; }
    const QString& code() const { return code_; }
    // Six digits from the system's random source.
    static QString drawCode();

    // The singer's name as it is queued, or nothing when it cannot be shown
    // or stored.
    static std::optional<QString> checkedName(const QString& name);

    Outcome request(std::int32_t numero, const QString& singer, const QString& code, const QString& client);

    // A phone takes back one of its own requests while it waits (the
    // client address that made it is the one asking): false, nothing
    // removed, when there is no such request of that phone waiting.
    bool cancel(std::uint64_t id, const QString& client);
    // Whether a request waiting in the queue was made by that phone.
    static bool madeBy(const Request& request, const QString& client);

    // What the stage is doing, for the waits (none given: an idle stage).
    void setStageTimes(std::function<StageTimes()> stageTimes) { stageTimes_ = std::move(stageTimes); }
    StageTimes stageTimes() const { return stageTimes_ ? stageTimes_() : StageTimes{}; }

    // The catalogue's list: refreshed by the web interface's thread, only
    // read here.
    SongSnapshots& songs() { return *songs_; }
    const RequestQueue& queue() const { return *queue_; }

private:
    // The requests of `client` still waiting in the queue.
    int waitingOf(const QString& client) const;

    SongSnapshots* songs_;
    RequestQueue* queue_;
    std::function<void()> queueChanged_;
    std::function<std::int64_t()> clockMs_;
    std::function<StageTimes()> stageTimes_;
    bool accepting_ = false;
    QString code_;
    QHash<QString, std::int64_t> lastTry_;  // per client: last request or wrong code
    std::deque<std::int64_t> lastMinute_;   // when the requests of the last minute were taken
};

}  // namespace vozaro::stage
