// The start-up check killed at random moments: every crashed state has whole
// catalogue files, and a restart always ends where an uninterrupted check
// ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#include <chrono>
#include <random>
#include <set>

#include "CatalogueFixture.h"
#include "CheckAlbumProcess.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using vozaro::catalogue::kEntrySize;

#ifdef VOZARO_CHECKALBUM

using vozaro::test::finish;
using vozaro::test::startCheck;

namespace {

std::multiset<int32_t> numbersOf(const std::string& index) {
    const std::vector<int32_t> numbers = decodeIndex(index);
    return {numbers.begin(), numbers.end()};
}

}  // namespace

class CrashTest : public CatalogueTest {};

TEST_F(CrashTest, AKilledStartupCheckIsFinishedByTheNextStart) {
    // 4,000 songs; every 7th song file is gone, and that of the highest
    // number (above every free number: only the album tells it was in use);
    // 3 numbers are free already.
    constexpr int kSongs = 4000;
    ASSERT_TRUE(AbrirAlbum());
    for (int i = 1; i <= kSongs; ++i)
        addSong(std::to_string(i) + ".kar", i % 7 != 0 && i != kSongs);
    for (int32_t gone : {11, 200, 3001})
        ASSERT_TRUE(ExcluirMusica(gone));
    FecharAlbum();
    const std::string album = readBytes(file("vozaro.alb"));
    const std::string index = readBytes(file("vozaro.idx"));
    std::set<std::string> entries;
    for (size_t i = 0; i < album.size(); i += kEntrySize)
        entries.insert(album.substr(i, kEntrySize));
    auto restore = [&] {
        writeBytes(file("vozaro.alb"), album);
        writeBytes(file("vozaro.idx"), index);
    };

    // The uninterrupted run, timed to spread the kills over it.
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(finish(startCheck(folder)), 0);
    const auto runMicros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    const std::string expectedAlbum = readBytes(file("vozaro.alb"));
    const std::multiset<int32_t> expectedFree = numbersOf(readBytes(file("vozaro.idx")));
    size_t kept = 0;
    for (int i = 1; i <= kSongs; ++i)
        kept += i % 7 != 0 && i != kSongs && i != 11 && i != 200 && i != 3001;
    ASSERT_EQ(expectedAlbum.size(), kept * kEntrySize);
    ASSERT_EQ(expectedFree.count(kSongs), 1u);

    // Half the kills at any moment of the run, half while the album is being
    // rewritten (from when its rewrite file appears), where the files change.
    std::mt19937 random(20261207);
    std::uniform_int_distribution<long> anyMoment(0, runMicros + runMicros / 10);
    std::uniform_int_distribution<long> duringRewrite(0, runMicros / 3);
    int untouched = 0, finished = 0, between = 0;
    constexpr int kKills = 160;
    for (int kill = 0; kill < kKills; ++kill) {
        restore();
        const pid_t pid = startCheck(folder);
        ASSERT_GT(pid, 0);
        long micros = anyMoment(random);
        if (kill % 2) {
            const Clock::time_point giveUp = Clock::now() + std::chrono::microseconds(2 * runMicros);
            while (!fs::exists(file("vozaro.alt")) && Clock::now() < giveUp)
                continue;
            micros = duringRewrite(random);
        }
        timespec pause{micros / 1000000, (micros % 1000000) * 1000};
        ::nanosleep(&pause, nullptr);
        ::kill(pid, SIGKILL);
        finish(pid);

        // Whole files: entries of the prepared album only, whole numbers only.
        const std::string crashedAlbum = readBytes(file("vozaro.alb"));
        const std::string crashedIndex = readBytes(file("vozaro.idx"));
        ASSERT_EQ(crashedAlbum.size() % kEntrySize, 0u) << "kill " << kill;
        ASSERT_EQ(crashedIndex.size() % 4, 0u) << "kill " << kill;
        for (size_t i = 0; i < crashedAlbum.size(); i += kEntrySize)
            ASSERT_EQ(entries.count(crashedAlbum.substr(i, kEntrySize)), 1u) << "kill " << kill;
        if (crashedAlbum == album)
            ++(crashedIndex == index ? untouched : between);
        else
            ++finished;

        ASSERT_EQ(finish(startCheck(folder)), 0) << "restart after kill " << kill;
        ASSERT_EQ(readBytes(file("vozaro.alb")), expectedAlbum) << "kill " << kill;
        ASSERT_EQ(numbersOf(readBytes(file("vozaro.idx"))), expectedFree) << "kill " << kill;
    }
    std::printf("%d kills in a %ld us check: %d before any change, %d with only the index "
                "rewritten, %d after the album was replaced\n",
                kKills, static_cast<long>(runMicros), untouched, between, finished);
}

#endif
