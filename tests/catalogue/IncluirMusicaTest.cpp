#include <stdexcept>

#include "CatalogueFixture.h"
#include "settings/WindowTestSupport.h"
#include "stage/canvas/KaraokeStage.h"

namespace fs = std::filesystem;
using namespace vozaro::catalogue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// The stage and the song-data dialog as adding sees them.
struct FakeStage {
    bool karaoke = true;
    bool throws = false;
    bool confirm = true;
    std::string editedTitle;  // typed into the dialog when not empty
    int checks = 0, releases = 0, dialogs = 0;
    TRegistroAlbum shown;  // RegistroAtual as the dialog was filled

    AddSongHooks hooks() {
        return {[this](const fs::path&) {
                    ++checks;
                    if (throws)
                        throw std::runtime_error("Invalid MIDI file");
                    return karaoke;
                },
                [this] { ++releases; },
                [this] {
                    ++dialogs;
                    shown = RegistroAtual;
                    if (confirm && !editedTitle.empty())
                        RegistroAtual.Musica = editedTitle;
                    return confirm;
                }};
    }
};

class IncluirMusicaTest : public CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        outside = folder / "escolhidas";
        fs::create_directory(outside);
        ASSERT_TRUE(AbrirAlbum());
    }

    fs::path song(const std::string& name, const std::string& bytes = "MThd song") {
        writeBytes(outside / name, bytes);
        return outside / name;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& m : messages.messages())
            result.push_back(m.text);
        return result;
    }
    std::vector<std::string> songFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(songsFolder()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path outside;
    FakeStage stage;
};

}  // namespace

TEST(SongNamesTest, PerformerAndTitleComeFromTheFileName) {
    struct Case {
        std::string file, interprete, musica;
    } cases[] = {
        {"Banda_Azul - Minha_Cancao.kar", "Banda Azul", "Minha Cancao"},
        {"Solo.kar", "", "Solo"},
        {"-Solo.kar", "", "Solo"},
        {"Solo-.kar", "Solo", ""},
        {"A-B-C.mid", "A", "B-C"},
        {"semextensao", "", "semextensao"},
        {"Jo\xe3o - Can\xe7\xe3o.kar", "Jo\xe3o", "Can\xe7\xe3o"},
        // cut to 50 before the trim: the leading spaces count
        {std::string(45, '_') + "Abcdefghij-x.kar", "Abcde", "x"},
        {"x-" + std::string(60, 'T') + ".kar", "x", std::string(50, 'T')},
        {std::string(60, 'P') + "-t.kar", std::string(50, 'P'), "t"},
    };
    for (const Case& c : cases) {
        SongNames names = namesFromFileName(c.file);
        EXPECT_EQ(names.interprete, c.interprete) << c.file;
        EXPECT_EQ(names.musica, c.musica) << c.file;
    }
    EXPECT_EQ(trimmedField("\t  a b \x01\n", 50), "a b");
    EXPECT_EQ(trimmedField("  " + std::string(60, 'z'), 50), std::string(50, 'z'));
}

TEST_F(IncluirMusicaTest, AddsACopyNumberedAfterTheLastSong) {
    addSong("antiga.kar");
    ASSERT_TRUE(IncluirMusica(song("Banda_Azul - Minha_Cancao.kar"), stage.hooks()));
    EXPECT_THAT(texts(), IsEmpty());
    EXPECT_EQ(stage.checks, 1);
    EXPECT_EQ(stage.releases, 1);
    EXPECT_EQ(stage.shown.Interprete, "Banda Azul");
    EXPECT_EQ(stage.shown.Musica, "Minha Cancao");
    EXPECT_EQ(stage.shown.Arquivo, "Banda_Azul - Minha_Cancao.kar");
    EXPECT_EQ(RegistroAtual.Numero, 2);
    EXPECT_EQ(readBytes(songsFolder() / "Banda_Azul - Minha_Cancao.kar"), "MThd song");
    EXPECT_TRUE(fs::exists(outside / "Banda_Azul - Minha_Cancao.kar"));
    LerRegistro(1);
    EXPECT_EQ(RegistroAtual.Musica, "Minha Cancao");
    EXPECT_EQ(RegistroAtual.Numero, 2);
}

TEST_F(IncluirMusicaTest, TakesTheMostRecentlyFreedNumberAndTheEditedTexts) {
    for (int i = 1; i <= 9; ++i)
        addSong(std::to_string(i) + ".kar");
    ASSERT_TRUE(ExcluirMusica(3));
    ASSERT_TRUE(ExcluirMusica(7));
    stage.editedTitle = "Outro T\xedtulo";
    ASSERT_TRUE(IncluirMusica(song("Solo.kar"), stage.hooks()));
    EXPECT_EQ(RegistroAtual.Numero, 7);
    EXPECT_EQ(RegistroAtual.Musica, "Outro T\xedtulo");
    EXPECT_THAT(indexNumbers(), ElementsAre(3));
}

TEST_F(IncluirMusicaTest, RefusalsShowTheirMessageAndLeaveTheSongsFolderAsItWas) {
    addSong("song.kar");
    addSong("Dup.kar");
    const std::vector<std::string> before = songFiles();
    const std::string album = readBytes(file("vozaro.alb"));
    struct Case {
        std::string name;
        std::function<void(FakeStage&)> setUp;
        std::string message;
        int checks;
    } cases[] = {
        {"nada.kar", nullptr, "O arquivo não existe ou não pôde ser aberto.", 0},
        {"plain.mid", [](FakeStage& s) { s.karaoke = false; },
         "plain.mid não é um arquivo de MIDI Karaokê", 1},
        {"broken.kar", [](FakeStage& s) { s.throws = true; },
         "Erro ao abrir o arquivo. A música não foi adicionada.", 1},
        {"Dup.kar", nullptr, "Esta música já está cadastrada.", 1},
        // passes the exact-name duplicate check, but the songs folder
        // already holds song.kar
        {"Song.kar", nullptr, "Não foi possível copiar a música para a pasta de músicas.", 1},
        {"cancelada.kar", [](FakeStage& s) { s.confirm = false; }, "Inclusão cancelada.", 1},
    };
    for (const Case& c : cases) {
        stage = FakeStage{};
        if (c.setUp)
            c.setUp(stage);
        messages.clear();
        fs::path path = c.name == "nada.kar" ? outside / c.name : song(c.name);
        EXPECT_FALSE(IncluirMusica(path, stage.hooks())) << c.name;
        EXPECT_THAT(texts(), ElementsAre(c.message)) << c.name;
        ASSERT_FALSE(messages.messages().empty());
        EXPECT_EQ(messages.messages()[0].icon, vozaro::platform::MessageIcon::Error);
        EXPECT_EQ(stage.checks, c.checks) << c.name;
        EXPECT_EQ(stage.releases, c.checks) << c.name << ": the stage is released after every check";
        EXPECT_EQ(songFiles(), before) << c.name;
        EXPECT_EQ(readBytes(file("vozaro.alb")), album) << c.name;
        EXPECT_THAT(indexNumbers(), IsEmpty()) << c.name;
    }
}

TEST_F(IncluirMusicaTest, AFullCatalogueIsRefusedBeforeTheFileIsLoaded) {
    std::string entries(static_cast<size_t>(kMaxSongs) * kEntrySize, '\0');
    FecharAlbum();
    writeBytes(file("vozaro.alb"), entries);
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_FALSE(IncluirMusica(song("a.kar"), stage.hooks()));
    EXPECT_THAT(texts(), ElementsAre("Não é possível adicionar mais de 99.999 músicas."));
    EXPECT_EQ(stage.checks, 0);
    EXPECT_FALSE(fs::exists(songsFolder() / "a.kar"));

    FecharAlbum();  // one entry fewer: the 99,999th song goes in
    entries.resize(entries.size() - kEntrySize);
    writeBytes(file("vozaro.alb"), entries);
    ASSERT_TRUE(AbrirAlbum());
    ASSERT_TRUE(IncluirMusica(song("a.kar"), stage.hooks()));
    EXPECT_EQ(RegistroAtual.Numero, kMaxSongs);
}

TEST_F(IncluirMusicaTest, AFileInsideTheSongsFolderIsCataloguedInPlace) {
    writeBytes(songsFolder() / "Ja_La - Dentro.kar", "MThd");
    stage.confirm = false;
    EXPECT_FALSE(IncluirMusica(songsFolder() / "Ja_La - Dentro.kar", stage.hooks()));
    EXPECT_THAT(texts(), ElementsAre("Inclusão cancelada."));
    EXPECT_EQ(readBytes(songsFolder() / "Ja_La - Dentro.kar"), "MThd");  // never deleted

    stage.confirm = true;
    fs::path viaLink = folder / "musicas-link";
    fs::create_directory_symlink(songsFolder(), viaLink);
    ASSERT_TRUE(IncluirMusica(viaLink / "Ja_La - Dentro.kar", stage.hooks()));
    EXPECT_EQ(RegistroAtual.Interprete, "Ja La");
    EXPECT_EQ(songFiles(), std::vector<std::string>{"Ja_La - Dentro.kar"});
}

TEST_F(IncluirMusicaTest, ANameWindows1252CannotWriteIsRefusedBeforeTheCheck) {
    // A backslash is written, but the album takes it for a folder separator.
    for (const std::string name : {"カラオケ.kar", "AC\\DC - Back.kar"}) {
        messages.clear();
        EXPECT_FALSE(IncluirMusica(song(name), stage.hooks())) << name;
        ASSERT_EQ(messages.messages().size(), 1u) << name;
        EXPECT_THAT(messages.messages()[0].text, ::testing::HasSubstr(name));
        EXPECT_EQ(stage.checks, 0) << name;
        EXPECT_THAT(songFiles(), IsEmpty()) << name;
        EXPECT_EQ(ContarMusicas(), 0) << name;
    }

    messages.clear();
    ASSERT_TRUE(IncluirMusica(song("Jo\u00e3o - Can\u00e7\u00e3o.kar"), stage.hooks()));
    EXPECT_EQ(RegistroAtual.Interprete, "Jo\xe3o");
    EXPECT_TRUE(fs::exists(songsFolder() / "Jo\u00e3o - Can\u00e7\u00e3o.kar"));
}

TEST_F(IncluirMusicaTest, AFailedAppendGivesTheNumberBackAndDeletesTheCopy) {
    for (int i = 1; i <= 3; ++i)
        addSong(std::to_string(i) + ".kar");
    ASSERT_TRUE(ExcluirMusica(2));
    const std::string album = readBytes(file("vozaro.alb"));
    {
        FileSizeLimit limit(album.size());  // the album cannot grow
        EXPECT_FALSE(IncluirMusica(song("novo.kar"), stage.hooks()));
    }
    EXPECT_THAT(texts(), ElementsAre("Erro ao incuir a música."));
    EXPECT_FALSE(fs::exists(songsFolder() / "novo.kar"));
    EXPECT_THAT(indexNumbers(), ElementsAre(2));
    EXPECT_EQ(readBytes(file("vozaro.alb")), album);

    messages.clear();
    fs::create_directory(file("vozaro.idt"));  // the index cannot be rewritten
    EXPECT_FALSE(IncluirMusica(song("novo.kar"), stage.hooks()));
    EXPECT_THAT(texts(), ElementsAre("Erro ao acessar o índice."));
    EXPECT_FALSE(fs::exists(songsFolder() / "novo.kar"));
    EXPECT_THAT(indexNumbers(), ElementsAre(2));
}

TEST_F(IncluirMusicaTest, RealFilesAreCheckedByTheStagesLoading) {
    const fs::path corpus = fs::path(VOZARO_CORPUS_DIR) / "files";
    const fs::path kar = corpus / "kar" / "msc__TROGGS_Wild_Thing.KAR";
    const fs::path plain = corpus / "mid" / "jazzsoft__test-2-tracks-type-1.mid";
    const fs::path text = corpus / "malformed" / "jazzsoft__test-not-a-midi-file.mid";
    for (const fs::path& p : {kar, plain, text})
        if (!fs::exists(p))
            GTEST_SKIP() << "corpus file not found: " << p;
    testApplication();
    KaraokeStage loader;
    AddSongHooks hooks = stage.hooks();
    hooks.isKaraoke = [&loader](const fs::path& path) {
        return loader.CarregarMusica(QString::fromStdString(path.string()));
    };
    hooks.releaseStage = [&loader] { loader.MidiData.setFileName(""); };

    ASSERT_TRUE(IncluirMusica(kar, hooks));
    EXPECT_THAT(texts(), IsEmpty());
    EXPECT_EQ(RegistroAtual.Arquivo, "msc__TROGGS_Wild_Thing.KAR");
    EXPECT_EQ(readBytes(songsFolder() / "msc__TROGGS_Wild_Thing.KAR"), readBytes(kar));
    EXPECT_TRUE(loader.MidiData.FileName().empty());

    EXPECT_FALSE(IncluirMusica(plain, hooks));
    EXPECT_FALSE(IncluirMusica(text, hooks));
    EXPECT_THAT(texts(), ElementsAre("jazzsoft__test-2-tracks-type-1.mid não é um arquivo de MIDI Karaokê",
                                     "Erro ao abrir o arquivo. A música não foi adicionada."));
    EXPECT_EQ(songFiles(), std::vector<std::string>{"msc__TROGGS_Wild_Thing.KAR"});
    EXPECT_TRUE(loader.MidiData.FileName().empty());
}
