// The capture queue between a recording thread and the user-interface thread.
#include "platform/devices/CaptureQueue.h"

#include "audio/EventLoop.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <cstdlib>
#include <new>

using namespace vozaro::platform;

// Counts the allocations made by a thread while it says so, to check that
// the recording side of the queue never allocates.
namespace {
thread_local bool countingAllocations = false;
thread_local int allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (countingAllocations) ++allocations;
    if (void* memory = std::malloc(size ? size : 1)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

TEST(CaptureQueue, FillsInOrderAndDropsWhatFindsNoBuffer) {
    vozaro::test::ensureApplication();
    QObject window;
    std::vector<WaveHeader*> returned;
    CaptureQueue queue;
    queue.setTarget(&window, [&](CaptureMessage message, WaveHeader* header) {
        if (message == CaptureMessage::Data) returned.push_back(header);
    });
    char a[4] = {}, b[4] = {};
    WaveHeader first{a, 4, 0, 0, 0}, second{b, 4, 0, 0, 0};
    EXPECT_EQ(queue.add(first), kCaptureUnprepared);
    first.flags = second.flags = kWhdrPrepared;
    ASSERT_EQ(queue.add(first), kCaptureOk);
    EXPECT_EQ(queue.add(first), kCaptureStillRecording);
    ASSERT_EQ(queue.add(second), kCaptureOk);

    const char bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_TRUE(queue.write(bytes, 10));  // two bytes find no buffer
    queue.collect();
    QCoreApplication::processEvents();
    ASSERT_EQ(returned.size(), 2u);
    EXPECT_EQ(returned[0], &first);
    EXPECT_EQ(std::vector<char>(b, b + 4), (std::vector<char>{5, 6, 7, 8}));
    EXPECT_EQ(first.flags, kWhdrPrepared | kWhdrDone);
    EXPECT_EQ(queue.queued(), 0u);

    // A stop returns the partly filled buffer with what it holds.
    first.flags = kWhdrPrepared;
    ASSERT_EQ(queue.add(first), kCaptureOk);
    EXPECT_FALSE(queue.write(bytes, 3));
    queue.returnAll();
    QCoreApplication::processEvents();
    ASSERT_EQ(returned.size(), 3u);
    EXPECT_EQ(first.bytesRecorded, 3u);
}

TEST(CaptureQueue, ARecordingThreadWakesTheEventLoop) {
    vozaro::test::ensureApplication();
    QObject window;
    constexpr int kBuffers = 4;
    constexpr int kRounds = 40;
    std::vector<std::vector<char>> memory(kBuffers, std::vector<char>(64));
    std::vector<WaveHeader> headers(kBuffers);
    CaptureQueue queue;
    ASSERT_TRUE(queue.enableWakeups());
    int returned = 0;
    std::vector<char> firstBytes;
    queue.setTarget(&window, [&](CaptureMessage, WaveHeader* header) {
        ++returned;
        firstBytes.push_back(header->data[0]);
        if (returned + kBuffers <= kRounds) {
            header->flags = kWhdrPrepared;
            EXPECT_EQ(queue.add(*header), kCaptureOk);
        }
    });
    for (int i = 0; i < kBuffers; ++i) {
        headers[i] = WaveHeader{memory[i].data(), 64, 0, 0, kWhdrPrepared};
        ASSERT_EQ(queue.add(headers[i]), kCaptureOk);
    }
    std::atomic<bool> stop{false};
    std::atomic<int> recorderAllocations{0};
    std::thread recorder([&] {
        char block[16];
        char counter = 0;
        countingAllocations = true;
        while (!stop.load()) {
            for (char& byte : block) byte = counter;
            if (queue.write(block, sizeof block)) {
                ++counter;
                queue.wake();
            }
            std::this_thread::yield();
        }
        countingAllocations = false;
        recorderAllocations = allocations;
    });
    QDeadlineTimer deadline(20000);
    while (returned < kRounds && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    stop = true;
    recorder.join();
    ASSERT_EQ(returned, kRounds);
    EXPECT_EQ(recorderAllocations.load(), 0);
    // Every buffer was filled whole by one 64-byte stretch: its first byte
    // grows with the buffers returned (dropped audio only skips values).
    for (std::size_t i = 1; i < firstBytes.size(); ++i)
        EXPECT_NE(firstBytes[i], firstBytes[i - 1]);
}

}  // namespace
