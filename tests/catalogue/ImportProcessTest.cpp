// vozaro-importar run as the host runs it: its summary and exit status, two
// of it at once, beside the program removing songs, and killed at random
// moments.  The catalogue stays whole throughout: no entry lost or doubled,
// every entry with its song file, numbers never shared.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "CatalogueFixture.h"
#include "stage/KaraokeSongs.h"

extern char** environ;

namespace fs = std::filesystem;
namespace fx = vozaro::midi::fixtures;
using namespace vozaro::catalogue;

#ifdef VOZARO_IMPORTAR

namespace {

std::string karaoke(int n) {
    const fx::Bytes b = vozaro::test::song({vozaro::test::lyricTrack({{100, "la" + std::to_string(n)}})});
    return std::string(b.begin(), b.end());
}

class ImportProcessTest : public CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        // The importer finds the program folder as the program does: here
        // the data folder, as XDG_DATA_HOME names it.
        program = folder / "data" / "vozaro";
        fs::create_directories(program);
        setProgramFolder(program);
        source = folder / "colecao";
        fs::create_directories(source);
    }

    void makeSongs(int count, const std::string& prefix = "song") {
        for (int i = 0; i < count; ++i) {
            const fs::path dir = source / ("d" + std::to_string(i % 7));
            fs::create_directories(dir);
            writeBytes(dir / (prefix + std::to_string(i) + ".kar"), karaoke(i));
        }
    }

    // Starts the importer; its output goes to files in the test folder.
    pid_t start(const std::vector<std::string>& arguments, const std::string& tag = "run") {
        std::vector<std::string> args = {VOZARO_IMPORTAR};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string out = (folder / (tag + ".out")).string(), err = (folder / (tag + ".err")).string();
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    static int exitStatus(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int run(const std::vector<std::string>& arguments, const std::string& tag = "run") {
        return exitStatus(start(arguments, tag));
    }
    std::string output(const std::string& tag = "run") { return readBytes(folder / (tag + ".out")); }
    std::string errors(const std::string& tag = "run") { return readBytes(folder / (tag + ".err")); }

    // File name -> numbers, and the checks every state of the catalogue passes.
    std::multimap<std::string, int32_t> wholeCatalogue() {
        std::multimap<std::string, int32_t> entries;
        EXPECT_TRUE(AbrirAlbum());
        forEachEntry([&](const EntryView& e) {
            entries.emplace(std::string(e.Arquivo), e.Numero);
            return true;
        });
        FecharAlbum();
        std::set<int32_t> numbers;
        for (const auto& [name, numero] : entries) {
            EXPECT_EQ(entries.count(name), 1u) << name;
            EXPECT_TRUE(numbers.insert(numero).second) << numero;
            EXPECT_TRUE(fs::is_regular_file(songsFolder() / name)) << name << " has no song file";
        }
        std::vector<int32_t> freeNumbers = decodeIndex(readBytes(program / "vozaro.idx"));
        for (int32_t n : freeNumbers)
            EXPECT_TRUE(numbers.insert(n).second) << "free number in use: " << n;
        if (!numbers.empty()) {
            EXPECT_EQ(*numbers.begin(), 1);
            EXPECT_EQ(*numbers.rbegin(), static_cast<int32_t>(numbers.size()));
        }
        return entries;
    }
    std::set<std::string> songFiles() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(songsFolder()))
            names.insert(e.path().filename().string());
        return names;
    }

    fs::path program;
    fs::path source;
};

TEST_F(ImportProcessTest, SummaryAndExitStatus) {
    makeSongs(5);
    writeBytes(source / "plain.mid", "MThd not really");
    EXPECT_EQ(run({"--simular", source.string()}, "sim"), 1);
    EXPECT_THAT(output("sim"), ::testing::HasSubstr("Simulação: nada foi alterado."));
    EXPECT_THAT(output("sim"), ::testing::HasSubstr("adicionadas: 5\n"));
    EXPECT_FALSE(fs::exists(program / "vozaro.alb") && fs::file_size(program / "vozaro.alb") > 0);

    EXPECT_EQ(run({source.string()}), 1);
    const std::string out = output();
    EXPECT_THAT(out, ::testing::HasSubstr("6 arquivos encontrados\n"));
    EXPECT_THAT(out, ::testing::HasSubstr("adicionadas: 5\n"));
    EXPECT_THAT(out, ::testing::HasSubstr("recusadas: 1\n"));
    EXPECT_THAT(out, ::testing::HasSubstr("  ilegível: 1\n"));
    EXPECT_THAT(out, ::testing::HasSubstr("  não é karaokê: 0\n"));
    EXPECT_EQ(errors(), (source / "plain.mid").string() + ": Erro ao abrir o arquivo. A música não foi adicionada.\n");
    EXPECT_EQ(wholeCatalogue().size(), 5u);

    fs::remove(source / "plain.mid");
    EXPECT_EQ(run({source.string()}), 0);  // all already there
    EXPECT_THAT(output(), ::testing::HasSubstr("  já cadastrada: 5\n"));
    EXPECT_EQ(run({}), 3);

    fs::remove(program / "vozaro.alb");
    fs::create_directory(program / "vozaro.alb");
    EXPECT_EQ(run({source.string()}), 2);
}

TEST_F(ImportProcessTest, TwoImportersAtOnceAddEachSongOnce) {
    makeSongs(150);
    const pid_t a = start({source.string()}, "a");
    const pid_t b = start({source.string()}, "b");
    const int sa = exitStatus(a), sb = exitStatus(b);
    // Each either added its files or found them there, or gave up waiting.
    EXPECT_TRUE(sa == 0 || sa == 2) << sa;
    EXPECT_TRUE(sb == 0 || sb == 2) << sb;
    EXPECT_TRUE(sa == 0 || sb == 0);
    EXPECT_EQ(wholeCatalogue().size(), 150u);
    EXPECT_EQ(songFiles().size(), 150u);
}

TEST_F(ImportProcessTest, TheProgramRemovesSongsWhileAnImportRuns) {
    ASSERT_TRUE(AbrirAlbum());
    for (int i = 1; i <= 20; ++i) {
        RegistroAtual = TRegistroAlbum{"A", "B", "old" + std::to_string(i) + ".kar", ProximoNumero()};
        GravarRegistro(ContarMusicas());
        writeBytes(songsFolder() / RegistroAtual.Arquivo, "MThd");
    }
    FecharAlbum();
    makeSongs(300);
    const pid_t importer = start({source.string()});
    int removed = 0;
    for (int32_t numero = 1; numero <= 10; ++numero) {
        const auto writing = lockForWriting(std::chrono::seconds(60));
        ASSERT_TRUE(writing && writing->held());
        ASSERT_TRUE(AbrirAlbum());
        removed += ExcluirMusica(numero);
        FecharAlbum();
    }
    EXPECT_EQ(removed, 10);
    EXPECT_EQ(exitStatus(importer), 0);
    const auto entries = wholeCatalogue();
    EXPECT_EQ(entries.size(), 310u);
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(entries.count("old" + std::to_string(i) + ".kar"), 0u);
}

TEST_F(ImportProcessTest, AKilledImportLeavesAWholeCatalogueAndTheNextRunFinishesIt) {
    constexpr size_t kSongs = 1500;
    makeSongs(kSongs);
    // Kills land within the time a whole import takes.
    const auto before = std::chrono::steady_clock::now();
    ASSERT_EQ(run({"--simular", source.string()}), 0);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - before);
    std::mt19937 random(21);
    int midway = 0;
    for (int trial = 0; trial < 10; ++trial) {
        SCOPED_TRACE(trial);
        const pid_t pid = start({source.string()});
        std::this_thread::sleep_for(std::chrono::microseconds(random() % std::max<int64_t>(took.count(), 1)));
        ::kill(pid, SIGKILL);
        exitStatus(pid);
        const size_t entries = wholeCatalogue().size();  // whole after every kill
        midway += entries > 0 && entries < kSongs;
    }
    std::printf("%d of 10 kills in the middle of a %lld us import\n", midway,
                static_cast<long long>(took.count()));
    EXPECT_GT(midway, 0);
    EXPECT_EQ(run({source.string()}), 0) << errors();
    const auto entries = wholeCatalogue();
    EXPECT_EQ(entries.size(), kSongs);
    // A copy a kill left without its entry was adopted: nothing stray.
    std::set<std::string> names;
    for (const auto& [name, numero] : entries)
        names.insert(name);
    EXPECT_EQ(songFiles(), names);
}

}  // namespace

#endif
