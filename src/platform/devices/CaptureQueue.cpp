#include "platform/devices/CaptureQueue.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <algorithm>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

namespace vozaro::platform {

CaptureQueue::CaptureQueue() = default;

CaptureQueue::~CaptureQueue() {
    notifier_.reset();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void CaptureQueue::setTarget(QObject* window, CaptureHandler handler) {
    window_ = window;
    handler_ = std::move(handler);
}

void CaptureQueue::post(CaptureMessage message, WaveHeader* header) {
    if (!window_ || !handler_) return;
    QMetaObject::invokeMethod(
        window_.data(), [handler = handler_, message, header] { handler(message, header); },
        Qt::QueuedConnection);
}

int CaptureQueue::prepare(WaveHeader& header) {
    if (!header.data && header.bufferLength) return kCaptureInvalidParam;
    header.flags |= kWhdrPrepared;
    return kCaptureOk;
}

int CaptureQueue::unprepare(WaveHeader& header) {
    if (isQueued(header)) return kCaptureStillRecording;
    header.flags &= ~kWhdrPrepared;
    return kCaptureOk;
}

int CaptureQueue::add(WaveHeader& header) {
    if (!(header.flags & kWhdrPrepared)) return kCaptureUnprepared;
    if (header.flags & kWhdrInQueue) return kCaptureStillRecording;
    const std::uint32_t added = added_.load(std::memory_order_relaxed);
    if (added - reported_ >= kCapacity) return kCaptureNoMemory;
    header.flags = (header.flags & ~kWhdrDone) | kWhdrInQueue;
    header.bytesRecorded = 0;
    slots_[added % kCapacity] = &header;
    added_.store(added + 1, std::memory_order_release);
    return kCaptureOk;
}

bool CaptureQueue::isQueued(const WaveHeader& header) const {
    const std::uint32_t added = added_.load(std::memory_order_relaxed);
    for (std::uint32_t i = reported_; i != added; ++i)
        if (slots_[i % kCapacity] == &header) return true;
    return false;
}

std::size_t CaptureQueue::queued() const {
    return added_.load(std::memory_order_relaxed) - reported_;
}

void CaptureQueue::collect() {
    const std::uint32_t filled = filled_.load(std::memory_order_acquire);
    while (reported_ != filled) post(CaptureMessage::Data, takeOldest());
}

WaveHeader* CaptureQueue::takeOldest() {
    WaveHeader* header = slots_[reported_ % kCapacity];
    ++reported_;
    header->flags = (header->flags & ~kWhdrInQueue) | kWhdrDone;
    return header;
}

void CaptureQueue::returnAll() {
    collect();
    const std::uint32_t added = added_.load(std::memory_order_relaxed);
    std::uint32_t partial = offset_.load(std::memory_order_relaxed);
    while (reported_ != added) {
        WaveHeader* header = takeOldest();
        header->bytesRecorded = partial;
        partial = 0;
        post(CaptureMessage::Data, header);
    }
    offset_.store(0, std::memory_order_relaxed);
    filled_.store(added, std::memory_order_release);
}

bool CaptureQueue::write(const void* bytes, std::size_t count, bool flipSign) {
    const auto* source = static_cast<const char*>(bytes);
    bool completed = false;
    std::uint32_t offset = offset_.load(std::memory_order_relaxed);
    while (count > 0) {
        const std::uint32_t filled = filled_.load(std::memory_order_relaxed);
        if (filled == added_.load(std::memory_order_acquire)) break;  // nothing queued: drop
        WaveHeader* header = slots_[filled % kCapacity];
        const std::size_t room = header->bufferLength - offset;
        const std::size_t n = std::min(room, count);
        char* target = header->data + offset;
        if (flipSign) {
            for (std::size_t i = 0; i < n; ++i) target[i] = static_cast<char>(source[i] ^ 0x80);
        } else if (n > 0) {
            std::memcpy(target, source, n);
        }
        source += n;
        count -= n;
        offset += static_cast<std::uint32_t>(n);
        if (offset >= header->bufferLength) {
            header->bytesRecorded = header->bufferLength;
            offset = 0;
            filled_.store(filled + 1, std::memory_order_release);
            completed = true;
        }
    }
    offset_.store(offset, std::memory_order_relaxed);
    return completed;
}

WaveHeader* CaptureQueue::filling(std::uint32_t* offset) const {
    const std::uint32_t filled = filled_.load(std::memory_order_relaxed);
    if (filled == added_.load(std::memory_order_acquire)) return nullptr;
    if (offset) *offset = offset_.load(std::memory_order_relaxed);
    return slots_[filled % kCapacity];
}

void CaptureQueue::wake() {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool CaptureQueue::enableWakeups() {
    if (wakeFd_ >= 0) return true;
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) return false;
    notifier_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { onWakeup(); });
    return true;
}

void CaptureQueue::onWakeup() {
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t got = ::read(wakeFd_, &count, sizeof count);
    collect();
    if (wakeupHook_) wakeupHook_();
}

}  // namespace vozaro::platform
