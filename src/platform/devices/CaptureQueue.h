// The buffer queue of one open capture device, shared by the back ends.
//
// The user-interface thread queues buffers (add) and learns about filled ones
// (collect, returnAll); one producer, the back end's recording thread or the
// test double, fills them in order (write).  The two sides meet through atomic
// indexes only: the producer never allocates, locks or waits, and audio that
// arrives while no buffer is queued is dropped.  Every returned buffer is
// reported to the device's handler as a queued Data event, so the reports keep
// their order with the Open and Close events posted around them.
#pragma once

#include "platform/devices/CaptureDevice.h"

#include <QPointer>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vozaro::platform {

class CaptureQueue {
public:
    CaptureQueue();
    ~CaptureQueue();
    CaptureQueue(const CaptureQueue&) = delete;
    CaptureQueue& operator=(const CaptureQueue&) = delete;

    // User-interface thread.
    void setTarget(QObject* window, CaptureHandler handler);
    // Posts a report to the handler on the window's thread; dropped when the
    // window has gone by then.
    void post(CaptureMessage message, WaveHeader* header = nullptr);
    // Registering a buffer with the device, and undoing it (refused while the
    // buffer is queued).
    int prepare(WaveHeader& header);
    int unprepare(WaveHeader& header);
    int add(WaveHeader& header);
    bool isQueued(const WaveHeader& header) const;
    std::size_t queued() const;
    // Reports every buffer the producer has completed since the last call.
    void collect();
    // With the producer stopped: reports the completed buffers, then returns
    // the rest (the one being filled with what it holds, the others empty).
    void returnAll();
    // Lets write() wake the user-interface thread's event loop (a back end
    // with its own recording thread calls this once, on the user-interface
    // thread); collect() then runs there by itself.
    bool enableWakeups();
    // Runs on the user-interface thread after every wake-up, once the
    // completed buffers have been reported.
    void setWakeupHook(std::function<void()> hook) { wakeupHook_ = std::move(hook); }

    // Producer thread.  Copies `bytes` into the queued buffers in order and
    // returns true when at least one buffer became full.  With `flipSign`,
    // every byte is stored with its top bit inverted (signed 8-bit samples
    // become the unsigned ones of 8-bit PCM).
    bool write(const void* bytes, std::size_t count, bool flipSign = false);
    // The buffer write() fills next and how many bytes it holds already;
    // nullptr when none is queued.
    WaveHeader* filling(std::uint32_t* offset = nullptr) const;
    // Wakes the user-interface thread after write() filled a buffer; never
    // blocks or allocates.
    void wake();

private:
    static constexpr std::size_t kCapacity = 8;

    void onWakeup();
    // Takes the oldest queued buffer out of the queue, marked done.
    WaveHeader* takeOldest();

    QPointer<QObject> window_;
    CaptureHandler handler_;
    std::array<WaveHeader*, kCapacity> slots_{};
    std::atomic<std::uint32_t> added_{0};   // written by the user-interface thread
    std::atomic<std::uint32_t> filled_{0};  // written by the producer
    std::atomic<std::uint32_t> offset_{0};  // bytes in the buffer being filled (producer)
    std::uint32_t reported_ = 0;            // user-interface thread only
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> wakeupHook_;
};

}  // namespace vozaro::platform
