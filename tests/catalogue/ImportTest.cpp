// Adding a whole collection at once: finding the song files, the summary,
// the exit status, the catalogue's contents and what lands in the songs
// folder, with real hand-made song files checked as the stage checks them.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <thread>

#include "CatalogueFixture.h"
#include "stores/SongImport.h"
#include "stage/KaraokeSongs.h"
#include "karaoke/LyricTrack.h"

namespace fs = std::filesystem;
namespace fx = vozaro::midi::fixtures;
using namespace vozaro::catalogue;
using fx::operator+;

namespace {

std::string bytesOf(const fx::Bytes& b) { return std::string(b.begin(), b.end()); }

// A karaoke song whose lyrics say `word`, so that files differ.
std::string karaoke(const std::string& word = "la") {
    return bytesOf(vozaro::test::song({vozaro::test::lyricTrack({{100, word}, {200, "/" + word}})}));
}
// A Standard MIDI File without lyrics.
std::string plainMidi() {
    return bytesOf(vozaro::test::song({fx::vlq(0) + fx::Bytes{0x90, 60, 100} + fx::vlq(10) +
                                       fx::Bytes{0x80, 60, 0}}));
}

class ImportTest : public CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        source = folder / "colecao";
        fs::create_directories(source);
        ASSERT_TRUE(AbrirAlbum());  // makes the songs folder and the album
        FecharAlbum();
    }

    fs::path put(const std::string& relative, const std::string& bytes) {
        const fs::path path = source / relative;
        fs::create_directories(path.parent_path());
        writeBytes(path, bytes);
        return path;
    }

    ImportSummary run(const std::vector<fs::path>& roots, bool simulate = false,
                      std::vector<ImportRefusal>* unreadable = nullptr) {
        std::vector<ImportRefusal> found;
        ImportOptions options;
        options.simulate = simulate;
        options.isKaraoke = [](const fs::path& f) { return vozaro::stage::songFileHasLyrics(f.string()); };
        options.wait = std::chrono::milliseconds(100);
        ImportSummary summary = importSongs(findSongFiles(roots, found), options);
        summary.refused.insert(summary.refused.begin(), found.begin(), found.end());
        if (unreadable)
            *unreadable = found;
        return summary;
    }

    // File name -> number of each entry.
    std::multimap<std::string, int32_t> entries() {
        std::multimap<std::string, int32_t> result;
        EXPECT_TRUE(AbrirAlbum());
        forEachEntry([&](const EntryView& e) {
            result.emplace(std::string(e.Arquivo), e.Numero);
            return true;
        });
        FecharAlbum();
        return result;
    }
    std::set<std::string> songFiles() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(songsFolder()))
            names.insert(e.path().filename().string());
        return names;
    }
    static std::map<AddRefusal, int> reasons(const ImportSummary& s) {
        std::map<AddRefusal, int> counts;
        for (const ImportRefusal& r : s.refused)
            ++counts[r.reason];
        return counts;
    }

    fs::path source;
};

TEST(SongFileNames, KarMidAndRmiInAnyCase) {
    const struct {
        const char* name;
        bool song;
    } cases[] = {{"a.kar", true}, {"a.KAR", true}, {"b.Mid", true}, {"c.rmi", true}, {"c.RMI", true},
                 {"d.midi", false}, {"e.txt", false}, {"kar", false}, {".kar.bak", false}, {"f.kar.zip", false}};
    for (const auto& c : cases)
        EXPECT_EQ(isSongFileName(c.name), c.song) << c.name;
}

TEST_F(ImportTest, AFolderTreeOfGoodPlainDuplicateAndBrokenFiles) {
    put("Banda_Azul - Minha_Cancao.kar", karaoke("a"));
    put("sub/deeper/Solo.MID", karaoke("b"));
    const std::string riffSong = karaoke("c");
    put("sub/tema.Rmi", bytesOf(fx::rmid(fx::Bytes(riffSong.begin(), riffSong.end()))));
    put("sub/outra/Solo.MID", karaoke("b2"));              // same name: already catalogued
    put("plain.mid", plainMidi());                          // not karaoke
    put("pagina.kar", "<html><body>not a song</body></html>");  // not MIDI
    put("cortada.kar", karaoke("d").substr(0, 30));         // truncated
    put("vazia.kar", "");                                   // empty
    put("leiame.txt", "not looked at");
    fs::create_directories(source / "pasta.kar");            // a folder named like a song
    put("pasta.kar/dentro.kar", karaoke("e"));
    fs::create_directory_symlink(source, source / "sub" / "volta");  // a link loop
    fs::create_symlink(source / "ciclo.kar", source / "ciclo.kar");  // a link to itself
    put("barra\\invertida.kar", karaoke("f"));               // "\" cannot be catalogued
    put("nihongo-\xE6\x97\xA5\xE6\x9C\xAC.kar", karaoke("g"));  // not in Windows-1252
    put("sem_leitura.kar", karaoke("h"));
    fs::permissions(source / "sem_leitura.kar", fs::perms::none);
    const bool rootReadsAnyway = ::geteuid() == 0;  // root reads any file
    ASSERT_EQ(::mkfifo((source / "fila.kar").c_str(), 0644), 0);        // not a regular file
    fs::create_symlink("/dev/null", source / "dispositivo.kar");       // a link to a device
    put("linha\nquebrada.kar", karaoke("i"));                           // a line break in the name

    const ImportSummary summary = run({source});
    const auto counts = reasons(summary);
    // html, cut, empty, the link loop, the FIFO, the device (+ no read)
    const int unreadable = 6 + (rootReadsAnyway ? 0 : 1);
    EXPECT_EQ(summary.added, rootReadsAnyway ? 5 : 4);
    EXPECT_EQ(counts.at(AddRefusal::AlreadyCatalogued), 1);
    EXPECT_EQ(counts.at(AddRefusal::NotKaraoke), 1);
    EXPECT_EQ(counts.at(AddRefusal::BadName), 3);
    EXPECT_EQ(counts.at(AddRefusal::Unreadable), unreadable);
    EXPECT_EQ(summary.exitStatus(), 1);
    EXPECT_FALSE(summary.catalogueFailed);
    for (const ImportRefusal& r : summary.refused)
        EXPECT_FALSE(r.message.empty()) << r.file;

    std::set<std::string> expected = {"Banda_Azul - Minha_Cancao.kar", "Solo.MID", "tema.Rmi", "dentro.kar"};
    if (rootReadsAnyway)
        expected.insert("sem_leitura.kar");
    // Every entry once, with its file, numbered 1..n; nothing copied for a refused file.
    const auto catalogued = entries();
    std::set<std::string> names;
    std::set<int32_t> numbers;
    for (const auto& [name, numero] : catalogued) {
        names.insert(name);
        numbers.insert(numero);
    }
    EXPECT_EQ(names, expected);
    EXPECT_EQ(catalogued.size(), expected.size());
    EXPECT_EQ(*numbers.rbegin(), static_cast<int32_t>(expected.size()));
    EXPECT_EQ(numbers.size(), expected.size());
    EXPECT_EQ(songFiles(), expected);
    // The copy of the duplicate's first occurrence, not the later one.
    EXPECT_EQ(readBytes(songsFolder() / "Solo.MID"), karaoke("b"));
    // The entry's names as adding derives them.
    ASSERT_TRUE(AbrirAlbum());
    ASSERT_GE(LocalizarMusica(catalogued.find("Banda_Azul - Minha_Cancao.kar")->second), 0);
    EXPECT_EQ(RegistroAtual.Interprete, "Banda Azul");
    EXPECT_EQ(RegistroAtual.Musica, "Minha Cancao");
    FecharAlbum();

    // Everything again: all already there, status 0 once the refused are gone.
    for (const char* gone : {"plain.mid", "pagina.kar", "cortada.kar", "vazia.kar", "barra\\invertida.kar",
                             "nihongo-\xE6\x97\xA5\xE6\x9C\xAC.kar", "sem_leitura.kar", "ciclo.kar",
                             "fila.kar", "dispositivo.kar", "linha\nquebrada.kar"})
        fs::remove(source / gone);
    const ImportSummary again = run({source});
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(reasons(again).at(AddRefusal::AlreadyCatalogued), rootReadsAnyway ? 5 : 4);
    EXPECT_EQ(again.exitStatus(), 0);
    EXPECT_EQ(entries(), catalogued);
}

TEST_F(ImportTest, FilesNamedAsArgumentsAreTakenWhateverTheirNames) {
    const fs::path a = put("um.KAR", karaoke("a"));
    const fs::path b = put("dois.song", karaoke("b"));  // named, so taken
    std::vector<ImportRefusal> unreadable;
    const ImportSummary summary = run({a, b, source / "nao-existe.kar"}, false, &unreadable);
    EXPECT_EQ(summary.added, 2);
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0].file, source / "nao-existe.kar");
    EXPECT_EQ(summary.exitStatus(), 1);
}

TEST_F(ImportTest, TenThousandFilesOfOneNameAddOne) {
    constexpr int kFiles = 10000;
    const std::string song = karaoke("x");
    for (int i = 0; i < kFiles; ++i)
        put("p" + std::to_string(i / 100) + "/q" + std::to_string(i % 100) + "/Mesma.kar", song);
    const ImportSummary summary = run({source});
    EXPECT_EQ(summary.added, 1);
    EXPECT_EQ(reasons(summary).at(AddRefusal::AlreadyCatalogued), kFiles - 1);
    EXPECT_EQ(summary.exitStatus(), 0);
    EXPECT_EQ(entries().size(), 1u);
    EXPECT_EQ(songFiles(), std::set<std::string>{"Mesma.kar"});
}

TEST_F(ImportTest, ACatalogueFillingUpRefusesTheRestWithTheLimit) {
    // 99,997 entries written straight into the album: numbers 1..99,997.
    {
        std::string album(static_cast<size_t>(kMaxSongs - 2) * kEntrySize, '\0');
        for (int32_t n = 1; n <= kMaxSongs - 2; ++n) {
            char* e = album.data() + static_cast<size_t>(n - 1) * kEntrySize;
            const std::string name = "s" + std::to_string(n) + ".kar";
            e[102] = static_cast<char>(name.size());
            std::copy(name.begin(), name.end(), e + 103);
            for (int b = 0; b < 4; ++b)
                e[360 + b] = static_cast<char>((n >> (8 * b)) & 0xFF);
        }
        writeBytes(file("vozaro.alb"), album);
    }
    for (int i = 1; i <= 5; ++i)
        put("nova" + std::to_string(i) + ".kar", karaoke(std::to_string(i)));
    const ImportSummary summary = run({source});
    EXPECT_EQ(summary.added, 2);
    const auto counts = reasons(summary);
    EXPECT_EQ(counts.at(AddRefusal::CatalogueFull), 3);
    for (const ImportRefusal& r : summary.refused)
        EXPECT_EQ(r.message, "Não é possível adicionar mais de 99.999 músicas.");
    EXPECT_EQ(summary.exitStatus(), 1);
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(ContarMusicas(), kMaxSongs);
    FecharAlbum();
    EXPECT_EQ(songFiles(), (std::set<std::string>{"nova1.kar", "nova2.kar"}));
}

TEST_F(ImportTest, SimulatingChangesNothingAndSaysWhatARealRunWould) {
    put("a.kar", karaoke("a"));
    put("b/a.kar", karaoke("a2"));
    put("c.mid", plainMidi());
    put("d.kar", karaoke("d"));
    const std::string album = readBytes(file("vozaro.alb"));
    const std::string index = readBytes(file("vozaro.idx"));

    const ImportSummary simulated = run({source}, true);
    EXPECT_EQ(readBytes(file("vozaro.alb")), album);
    EXPECT_EQ(readBytes(file("vozaro.idx")), index);
    EXPECT_TRUE(songFiles().empty());

    const ImportSummary real = run({source});
    EXPECT_EQ(simulated.added, real.added);
    EXPECT_EQ(reasons(simulated), reasons(real));
    EXPECT_EQ(simulated.exitStatus(), real.exitStatus());
    EXPECT_EQ(real.added, 2);
}

TEST_F(ImportTest, ACopyLeftWithoutEntryIsTakenUpWhenItIsTheSameFileOrItsStart) {
    put("orfa.kar", karaoke("o"));
    put("outra.kar", karaoke("n"));
    put("cortada.kar", karaoke("c"));
    put("vazia.kar", karaoke("v"));
    writeBytes(songsFolder() / "orfa.kar", karaoke("o"));     // left by a stopped import
    writeBytes(songsFolder() / "OUTRA.kar", karaoke("diff"));  // another song of that name
    writeBytes(songsFolder() / "cortada.kar", karaoke("c").substr(0, 20));  // a copy cut short
    writeBytes(songsFolder() / "vazia.kar", "");                            // cut before its first byte
    EXPECT_EQ(compareContents(source / "cortada.kar", songsFolder() / "cortada.kar"), Contents::TornCopy);
    EXPECT_EQ(compareContents(source / "orfa.kar", songsFolder() / "orfa.kar"), Contents::Same);
    EXPECT_EQ(compareContents(source / "outra.kar", songsFolder() / "OUTRA.kar"), Contents::Different);

    const ImportSummary simulated = run({source}, true);
    EXPECT_EQ(simulated.added, 3);
    EXPECT_EQ(readBytes(songsFolder() / "cortada.kar"), karaoke("c").substr(0, 20));

    const ImportSummary summary = run({source});
    EXPECT_EQ(summary.added, 3);
    ASSERT_EQ(summary.refused.size(), 1u);
    EXPECT_EQ(summary.refused[0].reason, AddRefusal::CopyFailed);
    EXPECT_EQ(summary.refused[0].file, source / "outra.kar");
    EXPECT_EQ(entries().count("orfa.kar"), 1u);
    EXPECT_EQ(songFiles(), (std::set<std::string>{"orfa.kar", "OUTRA.kar", "cortada.kar", "vazia.kar"}));
    EXPECT_EQ(readBytes(songsFolder() / "cortada.kar"), karaoke("c"));
    EXPECT_EQ(readBytes(songsFolder() / "vazia.kar"), karaoke("v"));
    EXPECT_EQ(readBytes(songsFolder() / "OUTRA.kar"), karaoke("diff"));

    // A catalogued file is never adopted twice under a case variant.
    put("x/ORFA.kar", karaoke("o"));
    const ImportSummary again = run({source / "x"});
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(reasons(again).at(AddRefusal::CopyFailed), 1);

    // Nor when the two names differ in the case of accented letters: the
    // catalogue says "CANÇÃO.kar" and the songs folder holds "canção.kar".
    put("y/CANÇÃO.kar", karaoke("ç"));
    EXPECT_EQ(run({source / "y"}).added, 1);
    fs::rename(songsFolder() / "CANÇÃO.kar", songsFolder() / "canção.kar");
    put("z/canção.kar", karaoke("ç"));
    const std::size_t catalogued = entries().size();
    const ImportSummary accented = run({source / "z"});
    EXPECT_EQ(accented.added, 0);
    EXPECT_EQ(reasons(accented).at(AddRefusal::CopyFailed), 1);
    EXPECT_EQ(entries().size(), catalogued);
}

TEST_F(ImportTest, ABusyOrBrokenCatalogueIsStatusTwoAndNothingIsTried) {
    put("a.kar", karaoke("a"));
    {
        CatalogueLock other(folder);  // another writer at work
        ASSERT_TRUE(other.held());
        const ImportSummary summary = run({source});
        EXPECT_TRUE(summary.catalogueFailed);
        EXPECT_EQ(summary.failure, kCatalogueBusy);
        EXPECT_EQ(summary.exitStatus(), 2);
        EXPECT_EQ(summary.added, 0);
    }
    fs::remove(file("vozaro.alb"));
    fs::create_directory(file("vozaro.alb"));  // an album that cannot be opened
    const ImportSummary summary = run({source});
    EXPECT_TRUE(summary.catalogueFailed);
    EXPECT_EQ(summary.exitStatus(), 2);
    EXPECT_FALSE(summary.failure.empty());
    EXPECT_TRUE(songFiles().empty());
}

}  // namespace

// An import lets the writer lock go between batches: an edit made while it
// runs (here the catalogue window adding a song the import was to add last)
// waits no longer than a batch, and the import's next batch knows of it:
// that song is already catalogued, and numbers are never shared.
TEST_F(ImportTest, AnEditGoesThroughWhileAnImportRuns) {
    constexpr int kSongs = 60;
    for (int i = 0; i < kSongs; ++i)
        put("s" + std::to_string(i) + ".kar", karaoke("w" + std::to_string(i)));
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    const pid_t importer = ::fork();
    ASSERT_GE(importer, 0);
    if (importer == 0) {
        ImportOptions options;
        options.batch = std::chrono::milliseconds(200);
        options.isKaraoke = [&](const fs::path& f) {
            (void)!::write(started[1], "", 1);  // under way
            std::this_thread::sleep_for(std::chrono::milliseconds(40));  // the whole import: 2.4 s
            return vozaro::stage::songFileHasLyrics(f.string());
        };
        std::vector<ImportRefusal> found;
        const ImportSummary summary = importSongs(findSongFiles({source}, found), options);
        ::_exit(summary.added == kSongs - 1 && summary.count(AddRefusal::AlreadyCatalogued) == 1 ? 0 : 1);
    }
    char c = 0;
    EXPECT_EQ(::read(started[0], &c, 1), 1);
    if (const auto writing = lockForWriting(std::chrono::milliseconds(1500)); writing && AbrirAlbum()) {
        addSong("s9.kar");  // the last in the import's order
        FecharAlbum();
    } else {
        ADD_FAILURE() << "the import kept the catalogue";
    }
    int status = -1;
    ::waitpid(importer, &status, 0);
    ::close(started[0]);
    ::close(started[1]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::set<int32_t> numbers;
    for (const auto& [name, numero] : entries())
        numbers.insert(numero);
    EXPECT_EQ(numbers.size(), static_cast<size_t>(kSongs));
    EXPECT_EQ(*numbers.rbegin(), kSongs);
}
