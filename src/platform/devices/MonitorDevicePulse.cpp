// The monitor path through PulseAudio's asynchronous interface (which
// PipeWire's PulseAudio service speaks as well).  A threaded main loop of
// its own runs both streams; each recorded fragment is processed and
// written to the playback stream in the same callback, so the delay is one
// recorded fragment plus what the playback buffer holds.
//
// The buffers: the recording stream asks for fragments of kFragmentMs (a
// server may deliver them smaller, as its source produces them, or larger:
// PipeWire's service records in quanta of at least 5.3 ms).  The playback
// stream starts (and starts again after running dry) once its start
// threshold is queued: kStartMs, or a whole recorded fragment where the
// server's fragments are larger; when it runs dry again and
// again, the threshold grows a millisecond at a time up to kLatestStartMs,
// as the machine's timing needs (the server's own loopback does the same).
// The server keeps kSpareMs above it; when the output has wanted nothing for
// kFullBlocksToDrop fragments in a row, a fragment is left out, so that an
// input clock faster than the output's does not make the delay creep up.
// Dropping only because the output's buffer looked full at one moment, or
// starting from a lower threshold without growing it, left audible gaps on
// the virtual servers (bench/mic_monitor.py).
//
// What the path costs is mostly its thread waking: once for every fragment
// recorded and once for nearly every message the server sends back about
// the output (its requests for more, and on PulseAudio the release of each
// block written).  Fragments of 4 ms rather than 2, and the server asking
// for more only once kRequestMs has been played, took the path from 2.0–2.5 %
// of a core to 1.7–1.9 % on the virtual servers (bench/mic_monitor.py);
// the delay stayed within the server's own loopback's.
#include "platform/devices/MonitorDevice.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include <pthread.h>
#include <sched.h>

namespace vozaro::platform {

namespace {

constexpr int kFragmentMs = 4;
constexpr int kStartMs = 4;
constexpr int kSpareMs = 8;
constexpr int kRequestMs = 8;
constexpr int kLatestStartMs = 20;
constexpr int kFullBlocksToDrop = 5;
constexpr int kUnderflowsToGrow = 2;  // within kUnderflowWindowUs
constexpr pa_usec_t kUnderflowWindowUs = 2 * PA_USEC_PER_SEC;
constexpr pa_usec_t kAnswerUs = 3 * PA_USEC_PER_SEC;  // the server's time to answer
constexpr int kRealTimePriority = 5;  // as the sound server asks for its clients
constexpr int kBlockFrames = 1024;                     // processed at most at once

class PulseMonitorPath final : public MonitorPath {
public:
    explicit PulseMonitorPath(MonitorProcessor& processor) : processor_(processor) {}

    ~PulseMonitorPath() override {
        if (!loop_)
            return;
        pa_threaded_mainloop_lock(loop_);
        for (pa_stream** s : {&record_, &play_}) {
            if (*s) {
                pa_stream_set_state_callback(*s, nullptr, nullptr);
                pa_stream_set_read_callback(*s, nullptr, nullptr);
                pa_stream_disconnect(*s);
                pa_stream_unref(*s);
                *s = nullptr;
            }
        }
        if (timer_)
            pa_threaded_mainloop_get_api(loop_)->time_free(timer_);
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_threaded_mainloop_stop(loop_);
        pa_threaded_mainloop_free(loop_);
    }

    int sampleRate() const noexcept override { return static_cast<int>(spec_.rate); }
    bool lost() const noexcept override { return lost_.load(); }

    bool open(std::string& why) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_)
            return fail(why, "the sound server's thread cannot start");
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        context_ = pa_context_new(api, "Vozaro");
        if (!context_)
            return fail(why, "no sound server");
        pa_context_set_state_callback(context_, &PulseMonitorPath::signal, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return fail(why, std::string("the sound server: ") + pa_strerror(pa_context_errno(context_)));
        if (pa_threaded_mainloop_start(loop_) < 0)
            return fail(why, "the sound server's thread cannot start");
        pa_threaded_mainloop_lock(loop_);
        const bool opened = openLocked(why);
        pa_threaded_mainloop_unlock(loop_);
        return opened;
    }

private:
    static bool fail(std::string& why, std::string text) {
        why = std::move(text);
        return false;
    }

    std::string serverError() const { return std::string("the sound server: ") + pa_strerror(pa_context_errno(context_)); }

    // Waits for `done` under the loop's lock, or until the server has not
    // answered for kAnswerUs.
    template <class Done>
    bool waitFor(Done done) {
        timedOut_ = false;
        timer_ = pa_context_rttime_new(context_, pa_rtclock_now() + kAnswerUs, &PulseMonitorPath::timeout, this);
        while (!done() && !timedOut_)
            pa_threaded_mainloop_wait(loop_);
        pa_threaded_mainloop_get_api(loop_)->time_free(timer_);
        timer_ = nullptr;
        return !timedOut_;
    }

    bool openLocked(std::string& why) {
        auto contextSettled = [this] {
            const pa_context_state_t state = pa_context_get_state(context_);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        };
        if (!waitFor(contextSettled))
            return fail(why, "the sound server does not answer");
        if (pa_context_get_state(context_) != PA_CONTEXT_READY)
            return fail(why, serverError());

        // The default input, which must be a real one.
        answered_ = false;
        pa_operation_unref(pa_context_get_source_info_by_name(context_, "@DEFAULT_SOURCE@",
                                                              &PulseMonitorPath::sourceInfo, this));
        if (!waitFor([this] { return answered_; }))
            return fail(why, "the sound server does not answer");
        if (sourceName_.empty())
            return fail(why, "no microphone");
        if (sourceIsMonitor_)
            return fail(why, "no microphone: the default input is what the speakers play");

        spec_ = pa_sample_spec{PA_SAMPLE_FLOAT32NE, std::clamp<std::uint32_t>(sourceRate_, 8000, 192000), 1};
        const std::uint32_t frameBytes = sizeof(float);
        const std::uint32_t msBytes = spec_.rate / 1000 * frameBytes;
        block_.resize(kBlockFrames);
        out_.resize(kBlockFrames);
        processor_.prepare(static_cast<int>(spec_.rate));

        play_ = pa_stream_new(context_, "Microfone nas caixas", &spec_, nullptr);
        record_ = pa_stream_new(context_, "Microfone nas caixas", &spec_, nullptr);
        if (!play_ || !record_)
            return fail(why, serverError());
        pa_stream_set_state_callback(play_, &PulseMonitorPath::streamState, this);
        pa_stream_set_state_callback(record_, &PulseMonitorPath::streamState, this);
        pa_stream_set_read_callback(record_, &PulseMonitorPath::recorded, this);
        pa_stream_set_underflow_callback(play_, &PulseMonitorPath::underflow, this);

        msBytes_ = msBytes;
        const pa_buffer_attr playing = playBuffer();
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_NOT_MONOTONIC);
        if (pa_stream_connect_playback(play_, nullptr, &playing, flags, nullptr, nullptr) < 0)
            return fail(why, serverError());

        pa_buffer_attr recording{};
        recording.maxlength = static_cast<std::uint32_t>(-1);
        recording.fragsize = kFragmentMs * msBytes;
        // Kept on its input: moved to another, it could be the monitor of
        // the speakers.
        if (pa_stream_connect_record(record_, sourceName_.c_str(), &recording,
                                     static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE)) < 0)
            return fail(why, serverError());

        auto streamsSettled = [this] {
            for (pa_stream* s : {play_, record_}) {
                const pa_stream_state_t state = pa_stream_get_state(s);
                if (state != PA_STREAM_READY && PA_STREAM_IS_GOOD(state))
                    return false;
            }
            return true;
        };
        if (!waitFor(streamsSettled))
            return fail(why, "the sound server does not answer");
        if (pa_stream_get_state(play_) != PA_STREAM_READY || pa_stream_get_state(record_) != PA_STREAM_READY)
            return fail(why, serverError());
        // The output starts once it holds a whole recorded fragment: a
        // server that records in larger fragments than asked (PipeWire's
        // quantum) delivers them that far apart.
        if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(record_); granted) {
            const int fragmentMs = static_cast<int>((granted->fragsize + msBytes_ - 1) / msBytes_);
            if (fragmentMs > startMs_)
                setStart(play_, std::min(fragmentMs, kLatestStartMs));
        }
        ready_ = true;
        return true;
    }

    // The playback buffer for the start threshold reached.
    pa_buffer_attr playBuffer() const {
        pa_buffer_attr playing{};
        playing.tlength = static_cast<std::uint32_t>(startMs_ + kSpareMs) * msBytes_;
        playing.maxlength = 2 * playing.tlength;
        playing.prebuf = static_cast<std::uint32_t>(startMs_) * msBytes_;
        playing.minreq = kRequestMs * msBytes_;
        playing.fragsize = static_cast<std::uint32_t>(-1);
        return playing;
    }

    // The output ran dry: repeatedly within kUnderflowWindowUs, the start
    // threshold grows by a millisecond, up to kLatestStartMs, as this
    // machine's timing needs.
    static void underflow(pa_stream* stream, void* user) {
        auto* self = static_cast<PulseMonitorPath*>(user);
        const pa_usec_t now = pa_rtclock_now();
        if (now - self->windowStart_ > kUnderflowWindowUs) {
            self->windowStart_ = now;
            self->underflows_ = 0;
        }
        if (++self->underflows_ < kUnderflowsToGrow || self->startMs_ >= kLatestStartMs)
            return;
        self->underflows_ = 0;
        self->setStart(stream, self->startMs_ + 1);
    }

    void setStart(pa_stream* stream, int ms) {
        startMs_ = ms;
        const pa_buffer_attr playing = playBuffer();
        if (pa_operation* op = pa_stream_set_buffer_attr(stream, &playing, nullptr, nullptr))
            pa_operation_unref(op);
    }

    static void signal(pa_context* context, void* user) {
        auto* self = static_cast<PulseMonitorPath*>(user);
        if (self->ready_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            self->markLost();
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    static void timeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
        auto* self = static_cast<PulseMonitorPath*>(user);
        self->timedOut_ = true;
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    static void sourceInfo(pa_context*, const pa_source_info* info, int eol, void* user) {
        auto* self = static_cast<PulseMonitorPath*>(user);
        if (info && !eol) {
            self->sourceName_ = info->name ? info->name : "";
            self->sourceIsMonitor_ = info->monitor_of_sink != PA_INVALID_INDEX;
            self->sourceRate_ = info->sample_spec.rate;
            return;
        }
        self->answered_ = true;
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    static void streamState(pa_stream* stream, void* user) {
        auto* self = static_cast<PulseMonitorPath*>(user);
        if (self->ready_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
            self->markLost();
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    void markLost() noexcept {
        if (!lost_.exchange(true))
            processor_.lost();
    }

    // thread: the main loop's; every fragment recorded.
    static void recorded(pa_stream* stream, std::size_t, void* user) {
        auto* self = static_cast<PulseMonitorPath*>(user);
        if (!self->scheduled_) {
            // Real-time scheduling where the system grants it (the sound
            // server's own threads have it): on a busy machine an ordinary
            // thread is held up for longer than the few milliseconds buffered.
            // Without it the path runs all the same.
            self->scheduled_ = true;
            sched_param param{};
            param.sched_priority = kRealTimePriority;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        }
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(stream) > 0) {
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            if (data && self->ready_ && !self->lost_.load())
                self->play(static_cast<const float*>(data), bytes / sizeof(float));
            pa_stream_drop(stream);
        }
    }

    void play(const float* samples, std::size_t frames) noexcept {
        while (frames > 0) {
            const std::size_t n = std::min<std::size_t>(frames, kBlockFrames);
            // The recorded data may be unaligned for floats.
            std::memcpy(block_.data(), samples, n * sizeof(float));
            processor_.process(block_.data(), out_.data(), static_cast<int>(n));
            // Everything is played, unless the output has wanted nothing
            // for kFullBlocksToDrop blocks in a row (the input's clock runs
            // faster than the output's, or a burst came late): then a block
            // is left out, so that the delay does not creep up.
            const std::size_t room = pa_stream_writable_size(play_);
            fullBlocks_ = room == 0 ? fullBlocks_ + 1 : 0;
            if (fullBlocks_ < kFullBlocksToDrop)
                pa_stream_write(play_, out_.data(), n * sizeof(float), nullptr, 0, PA_SEEK_RELATIVE);
            else
                fullBlocks_ = 0;
            samples += n;
            frames -= n;
        }
    }

    MonitorProcessor& processor_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* record_ = nullptr;
    pa_stream* play_ = nullptr;
    pa_time_event* timer_ = nullptr;
    bool timedOut_ = false;
    bool answered_ = false;
    bool ready_ = false;
    std::uint32_t msBytes_ = 0;
    int startMs_ = kStartMs;
    pa_usec_t windowStart_ = 0;
    int underflows_ = 0;
    int fullBlocks_ = 0;
    bool scheduled_ = false;
    std::string sourceName_;
    bool sourceIsMonitor_ = false;
    std::uint32_t sourceRate_ = 48000;
    pa_sample_spec spec_{PA_SAMPLE_FLOAT32NE, 48000, 1};
    std::vector<float> block_;
    std::vector<float> out_;
    std::atomic<bool> lost_{false};
};

}  // namespace

std::unique_ptr<MonitorPath> openSoundServerMonitor(MonitorProcessor& processor, std::string& why) {
    auto path = std::make_unique<PulseMonitorPath>(processor);
    if (!path->open(why))
        return nullptr;
    return path;
}

}  // namespace vozaro::platform
