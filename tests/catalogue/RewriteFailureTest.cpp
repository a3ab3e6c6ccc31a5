// The catalogue under a hostile host: a disk that fills up, links and folders
// planted where the rewrite files go, entries sharing a number, a folder that
// cannot be written, and two programs on one program folder.
#include "CatalogueFixture.h"
#include "CheckAlbumProcess.h"
#include "DescriptorsUsedUp.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/BinaryFile.h"

namespace fs = std::filesystem;
using vozaro::catalogue::CatalogueLock;
using vozaro::catalogue::lastRewriteFailure;

namespace {

// A small tmpfs mounted on a folder for the life of the object, where the
// system allows it (root in a container usually may).
class SmallDisk {
public:
    SmallDisk(const fs::path& at, const char* options) : at_(at) {
        fs::create_directories(at_);
        mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool remountReadOnly() { return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0; }

private:
    fs::path at_;
    bool mounted_ = false;
};

// A disk of `bytes` free bytes as the catalogue's files see it: every write
// takes space until none is left (the write that does not fit stores what
// fits and fails with ENOSPC), and a rewrite file given up gives its space
// back.
class InjectedFullDisk {
public:
    explicit InjectedFullDisk(size_t bytes)
        : free_(bytes),
          previous_(vozaro::platform::installFileSpaceHook(
              [this](vozaro::platform::FileSpaceChange change, const fs::path&, size_t size) -> size_t {
                  if (change == vozaro::platform::FileSpaceChange::Remove) {
                      free_ += size;
                      return size;
                  }
                  const size_t fits = std::min(size, free_);
                  free_ -= fits;
                  return fits;
              })) {}
    ~InjectedFullDisk() { vozaro::platform::installFileSpaceHook(std::move(previous_)); }

private:
    size_t free_;
    vozaro::platform::FileSpaceHook previous_;
};

// Fills the file system of `folder` up to `pages` pages of 4 KiB.
void fillLeaving(const fs::path& folder, int pages) {
    const fs::path filler = folder / "enchimento";
    {
        std::ofstream out(filler, std::ios::binary);
        const std::string block(4096, 'x');
        while (out.write(block.data(), block.size()) && out.flush()) {
        }
    }
    fs::resize_file(filler, fs::file_size(filler) - static_cast<uintmax_t>(pages) * 4096);
}

std::multiset<int32_t> duplicatesOf(const std::vector<int32_t>& numbers) {
    std::multiset<int32_t> all(numbers.begin(), numbers.end()), repeated;
    for (int32_t n : std::set<int32_t>(numbers.begin(), numbers.end()))
        if (all.count(n) > 1)
            repeated.insert(n);
    return repeated;
}

#ifdef VOZARO_CHECKALBUM
// Runs vozaro-checkalbum to its end, quietly; its wait status, -1 when it did
// not start.
int runCheck(const fs::path& folder) {
    const pid_t pid = vozaro::test::startCheck(folder, true);
    return pid > 0 ? vozaro::test::finish(pid) : -1;
}
#endif

}  // namespace

class RewriteFailureTest : public CatalogueTest {
protected:
    // `songs` songs numbered 1 .. songs, their files in place.
    void makeCatalogue(int songs) {
        ASSERT_TRUE(AbrirAlbum());
        for (int i = 1; i <= songs; ++i)
            addSong("musica" + std::to_string(i) + ".kar");
        FecharAlbum();
    }

    // An evening of removals and additions on a disk with little room;
    // failures are expected, two entries with one number are not.
    void removalsAndAdditions() {
        ASSERT_TRUE(AbrirAlbum());
        int added = 0;
        for (int32_t gone : {2, 5, 7, 9}) {
            if (!ExcluirMusica(gone)) {
                ASSERT_TRUE(lastRewriteFailure());
                EXPECT_EQ(lastRewriteFailure()->error, std::errc::no_space_on_device);
            }
            try {
                addSong("nova" + std::to_string(++added) + ".kar");
            } catch (const vozaro::catalogue::CatalogueError&) {
                // The disk is full: the song is not added.
            }
            EXPECT_EQ(duplicatesOf(albumNumbers()), std::multiset<int32_t>{});
        }
        FecharAlbum();
    }

    // The numbering rule: album and free numbers are 1 .. N, each once.
    void expectNumberingRule() {
        ASSERT_TRUE(AbrirAlbum());
        std::vector<int32_t> all = albumNumbers();
        FecharAlbum();
        const std::vector<int32_t> free = decodeIndex(readBytes(vozaro::catalogue::programFolder() / "vozaro.idx"));
        all.insert(all.end(), free.begin(), free.end());
        std::sort(all.begin(), all.end());
        for (size_t i = 0; i < all.size(); ++i)
            ASSERT_EQ(all[i], static_cast<int32_t>(i + 1)) << "numbers and free numbers are not 1 .. N";
    }
};

// A removal on a full disk used to commit the freed number to the index, fail
// the album rewrite, and fail to put the index back because the failed
// rewrite still held the space: the next song took the number of an entry
// still there.
TEST_F(RewriteFailureTest, RemovalsOnAFullDiskNeverLeaveTwoEntriesWithOneNumber) {
    for (const bool injected : {false, true}) {
        for (int pages = 1; pages <= 7; ++pages) {
            SCOPED_TRACE((injected ? "injected disk, pages left " : "tmpfs, pages left ") + std::to_string(pages));
            const fs::path program = folder / ("disco" + std::to_string(pages) + (injected ? "i" : "t"));
            std::optional<SmallDisk> disk;
            std::optional<InjectedFullDisk> fullDisk;
            if (!injected) {
                disk.emplace(program, "size=2m");
                if (!disk->mounted()) {
                    std::printf("no tmpfs can be mounted here; the full disk is injected only\n");
                    continue;
                }
            } else {
                fs::create_directories(program);
            }
            vozaro::catalogue::setProgramFolder(program);
            makeCatalogue(40);  // an album of 14,560 bytes: 4 pages
            ASSERT_TRUE(AbrirAlbum());  // two numbers free: putting the index back takes a page
            ASSERT_TRUE(ExcluirMusica(38));
            ASSERT_TRUE(ExcluirMusica(40));
            FecharAlbum();
            if (injected)
                fullDisk.emplace(static_cast<size_t>(pages) * 4096);
            else
                fillLeaving(program, pages);

            removalsAndAdditions();

            // Room again: the start-up check finds the catalogue sound.
            fullDisk.reset();
            fs::remove(program / "enchimento");
            messages.clear();
            ASSERT_TRUE(vozaro::catalogue::removeMissingSongs());
            EXPECT_FALSE(lastRewriteFailure());
            expectNumberingRule();
        }
    }
}

// The host is told when a removal could not rewrite the album.
TEST_F(RewriteFailureTest, AFailedRemovalSaysWhy) {
    makeCatalogue(3);
    ASSERT_TRUE(AbrirAlbum());
    {
        InjectedFullDisk full(100);
        EXPECT_FALSE(ExcluirMusica(2));
    }
    ASSERT_TRUE(lastRewriteFailure());
    EXPECT_EQ(lastRewriteFailure()->file.filename(), "vozaro.alt");
    EXPECT_EQ(vozaro::catalogue::rewriteFailureMessage("A música não foi excluída.", *lastRewriteFailure()),
              "A música não foi excluída. Não foi possível gravar \"vozaro.alt\": o disco está cheio.");
    EXPECT_EQ(albumNumbers(), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(indexNumbers(), std::vector<int32_t>{});
    // A removal that works forgets the failure.
    EXPECT_TRUE(ExcluirMusica(2));
    EXPECT_FALSE(lastRewriteFailure());
}

// A link planted at a rewrite file's name used to be followed: the file it
// pointed to was overwritten and the album became a link to it.
TEST_F(RewriteFailureTest, ALinkAtARewriteFileIsNeverFollowed) {
    for (const char* name : {"vozaro.alt", "vozaro.idt"}) {
        SCOPED_TRACE(name);
        const fs::path program = folder / name;
        vozaro::catalogue::setProgramFolder(program);
        makeCatalogue(3);
        const fs::path victim = folder / (std::string("alheio-") + name);
        writeBytes(victim, "nao mexa");
        fs::create_symlink(victim, program / name);

        ASSERT_TRUE(AbrirAlbum());
        EXPECT_TRUE(ExcluirMusica(2));  // rewrites the album and the index
        EXPECT_EQ(ProximoNumero(), 2);  // rewrites the index
        FecharAlbum();

        EXPECT_EQ(readBytes(victim), "nao mexa");
        for (const char* file : {"vozaro.alb", "vozaro.idx"})
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(program / file))) << file;
        EXPECT_FALSE(fs::exists(fs::symlink_status(program / name)));
        EXPECT_EQ(readBytes(program / "vozaro.alb").size(), 2u * vozaro::catalogue::kEntrySize);
    }
}

// With a folder where a rewrite file goes, removals failed without a word and
// vozaro-checkalbum reported success.
TEST_F(RewriteFailureTest, AFolderInTheWayOfARewriteIsReported) {
    for (const char* name : {"vozaro.alt", "vozaro.idt"}) {
        SCOPED_TRACE(name);
        const fs::path program = folder / name;
        vozaro::catalogue::setProgramFolder(program);
        makeCatalogue(3);
        fs::create_directory(program / name);
        const std::string album = readBytes(program / "vozaro.alb");
        const std::string index = readBytes(program / "vozaro.idx");

        ASSERT_TRUE(AbrirAlbum());
        EXPECT_FALSE(ExcluirMusica(2));
        ASSERT_TRUE(lastRewriteFailure());
        EXPECT_EQ(lastRewriteFailure()->file.filename(), name);
        FecharAlbum();

        fs::remove(vozaro::catalogue::songsFolder() / "musica3.kar");
        messages.clear();
        ASSERT_TRUE(vozaro::catalogue::removeMissingSongs());
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages()[0].icon, vozaro::platform::MessageIcon::Error);
        EXPECT_NE(messages.messages()[0].text.find(name), std::string::npos);
#ifdef VOZARO_CHECKALBUM
        const int status = runCheck(program);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
#endif
        EXPECT_EQ(readBytes(program / "vozaro.alb"), album);
        EXPECT_EQ(readBytes(program / "vozaro.idx"), index);
    }
}

// Entries sharing a number, whatever made them: the first keeps it, each
// later one gets a new number, and the host is told.
TEST_F(RewriteFailureTest, TheStartupCheckGivesSharedNumbersNewOnes) {
    struct Case {
        const char* name;
        std::vector<int32_t> album;
        std::vector<int32_t> index;
        std::vector<int32_t> repaired;
    };
    const Case cases[] = {
        {"2 twice", {1, 2, 2}, {}, {1, 2, 3}},
        {"3 three times", {1, 2, 3, 3, 3}, {}, {1, 2, 3, 5, 4}},
        {"the shared number also free", {1, 2, 2}, {2}, {1, 2, 3}},
        {"a gap above", {5, 5}, {}, {5, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path program = folder / c.name;
        vozaro::catalogue::setProgramFolder(program);
        ASSERT_TRUE(AbrirAlbum());
        for (size_t i = 0; i < c.album.size(); ++i) {
            RegistroAtual = TRegistroAlbum{"I", "T", "m" + std::to_string(i) + ".kar", c.album[i]};
            GravarRegistro(ContarMusicas());
            writeBytes(vozaro::catalogue::songsFolder() / RegistroAtual.Arquivo, "MThd");
        }
        for (int32_t n : c.index)
            vozaro::catalogue::returnNumber(n);
        FecharAlbum();

        messages.clear();
        ASSERT_TRUE(vozaro::catalogue::removeMissingSongs());
        ASSERT_TRUE(AbrirAlbum());
        EXPECT_EQ(albumNumbers(), c.repaired);
        FecharAlbum();
        expectNumberingRule();
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages()[0].icon, vozaro::platform::MessageIcon::Warning);

        // Nothing is left to repair the next time.
        messages.clear();
        ASSERT_TRUE(vozaro::catalogue::removeMissingSongs());
        EXPECT_TRUE(messages.messages().empty());
    }
}

// An append cut short by a full disk leaves part of an entry at the album's
// end; the check cuts it off and says so, once.
TEST_F(RewriteFailureTest, TheStartupCheckCutsATornLastEntry) {
    makeCatalogue(3);
    const std::string whole = readBytes(file("vozaro.alb"));
    writeBytes(file("vozaro.alb"), whole + whole.substr(0, 72));
    messages.clear();
    ASSERT_TRUE(vozaro::catalogue::removeMissingSongs());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].icon, vozaro::platform::MessageIcon::Warning);
    EXPECT_THAT(messages.messages()[0].text, ::testing::HasSubstr("72"));
    EXPECT_EQ(readBytes(file("vozaro.alb")), whole);
    expectNumberingRule();
    messages.clear();
    ASSERT_TRUE(vozaro::catalogue::removeMissingSongs());
    EXPECT_TRUE(messages.messages().empty());
}

// A program folder that cannot be written: the message names the folder.
TEST_F(RewriteFailureTest, AReadOnlyProgramFolderIsNamed) {
    const fs::path program = folder / "somente-leitura";
    SmallDisk disk(program, "size=1m");
    if (!disk.mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here to make a read-only folder";
    vozaro::catalogue::setProgramFolder(program);
    makeCatalogue(2);
    ASSERT_TRUE(disk.remountReadOnly());
    messages.clear();
    EXPECT_FALSE(AbrirAlbum());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Não foi possível abrir o álbum de músicas. A pasta \"" +
                                               program.string() + "\" não pode ser gravada.");
}

// One program per program folder: a second Vozaro leaves.  Writers take
// turns: a check while another writer writes waits, then leaves without
// touching the catalogue; while Vozaro is merely open it runs.
TEST_F(RewriteFailureTest, OneProgramPerProgramFolderAndOneWriterAtATime) {
    makeCatalogue(3);
    fs::remove(vozaro::catalogue::songsFolder() / "musica2.kar");
    const std::string album = readBytes(file("vozaro.alb"));
    {
        const auto first = vozaro::catalogue::lockProgramFolder();
        ASSERT_TRUE(first && first->held());
        messages.clear();
        EXPECT_FALSE(vozaro::catalogue::lockProgramFolder());
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages()[0].text, vozaro::catalogue::kAlreadyOpen);
        {
            const auto writer = vozaro::catalogue::lockForWriting();
            ASSERT_TRUE(writer && writer->held());
            CatalogueLock second(folder);
            EXPECT_FALSE(second.held());
            EXPECT_TRUE(second.busy());
            messages.clear();
            EXPECT_FALSE(vozaro::catalogue::lockForWriting(std::chrono::milliseconds(50)));
            ASSERT_EQ(messages.messages().size(), 1u);
            EXPECT_EQ(messages.messages()[0].text, vozaro::catalogue::kCatalogueBusy);
#ifdef VOZARO_CHECKALBUM
            const int status = runCheck(folder);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
#endif
            EXPECT_EQ(readBytes(file("vozaro.alb")), album);
        }
#ifdef VOZARO_CHECKALBUM
        EXPECT_EQ(runCheck(folder), 0);  // beside the open program
        EXPECT_NE(readBytes(file("vozaro.alb")), album);
#endif
    }
    EXPECT_TRUE(CatalogueLock(folder).held());  // let go with its holder
    EXPECT_TRUE(vozaro::catalogue::lockProgramFolder());
}

// A lock that cannot be taken never lets a write through: a lock file that
// cannot be written still locks (it is only read), and with no descriptor
// left the write is refused with the system's reason.
TEST_F(RewriteFailureTest, LocksHoldOrRefuseWhenTheirFilesCannotBeOpenedForWriting) {
    makeCatalogue(1);
    const std::string refusedForLackOfDescriptors =
        vozaro::catalogue::lockRefusedMessage(std::make_error_code(std::errc::too_many_files_open));
    {
        SCOPED_TRACE("no descriptor left");
        messages.clear();
        std::vector<std::string> shown;
        {
            vozaro::test::DescriptorsUsedUp used;
            EXPECT_FALSE(vozaro::catalogue::lockForWriting(std::chrono::milliseconds(50)));
            EXPECT_FALSE(vozaro::catalogue::lockProgramFolder());
            for (const auto& m : messages.messages())
                shown.push_back(m.text);
        }
        EXPECT_EQ(shown, std::vector<std::string>(2, refusedForLackOfDescriptors));
    }
    {
        SCOPED_TRACE("lock files that cannot be written");
        const fs::path program = folder / "somente-leitura";
        SmallDisk disk(program, "size=1m");
        fs::create_directories(program);
        for (const char* name : {"vozaro.lck", "vozaro.run"})
            writeBytes(program / name, "");
        if (::geteuid() != 0) {
            for (const char* name : {"vozaro.lck", "vozaro.run"})
                fs::permissions(program / name, fs::perms::owner_read);
        } else if (!disk.mounted() || !disk.remountReadOnly()) {
            GTEST_SKIP() << "root writes any file, and no read-only tmpfs can be mounted here";
        }
        vozaro::catalogue::setProgramFolder(program);
        messages.clear();
        const auto running = vozaro::catalogue::lockProgramFolder();
        ASSERT_TRUE(running && running->held());
        EXPECT_FALSE(vozaro::catalogue::lockProgramFolder());
        const auto writer = vozaro::catalogue::lockForWriting();
        ASSERT_TRUE(writer && writer->held());
        EXPECT_TRUE(CatalogueLock(program).busy());
        EXPECT_FALSE(vozaro::catalogue::lockForWriting(std::chrono::milliseconds(50)));
        ASSERT_EQ(messages.messages().size(), 2u);
        EXPECT_EQ(messages.messages()[0].text, vozaro::catalogue::kAlreadyOpen);
        EXPECT_EQ(messages.messages()[1].text, vozaro::catalogue::kCatalogueBusy);
    }
}

#ifdef VOZARO_CHECKALBUM
// Two checks started together used to write the same rewrite files and lose
// free numbers.  Now one waits its turn or leaves: the outcome is always that
// of one check.
TEST_F(RewriteFailureTest, TwoChecksAtOnceLeaveTheOutcomeOfOne) {
    makeCatalogue(300);
    for (int i = 3; i <= 300; i += 3)
        fs::remove(vozaro::catalogue::songsFolder() / ("musica" + std::to_string(i) + ".kar"));
    const std::string album = readBytes(file("vozaro.alb"));
    const std::string index = readBytes(file("vozaro.idx"));
    ASSERT_EQ(runCheck(folder), 0);
    const std::string expectedAlbum = readBytes(file("vozaro.alb"));
    const std::vector<int32_t> expectedFree = indexNumbers();
    for (int trial = 0; trial < 10; ++trial) {
        SCOPED_TRACE(trial);
        writeBytes(file("vozaro.alb"), album);
        writeBytes(file("vozaro.idx"), index);
        pid_t pids[2];
        for (pid_t& pid : pids) {
            pid = vozaro::test::startCheck(folder, true);
            ASSERT_GT(pid, 0);
        }
        int finishedWell = 0;
        for (pid_t pid : pids) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3) << WEXITSTATUS(status);
            finishedWell += WEXITSTATUS(status) == 0;
        }
        EXPECT_GE(finishedWell, 1);
        EXPECT_EQ(readBytes(file("vozaro.alb")), expectedAlbum);
        std::vector<int32_t> free = indexNumbers();
        EXPECT_EQ(std::multiset<int32_t>(free.begin(), free.end()),
                  std::multiset<int32_t>(expectedFree.begin(), expectedFree.end()));
    }
}
#endif
