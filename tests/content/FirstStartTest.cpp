// The first start: a new program folder gets the bundled songs catalogued as
// 1 to N, the pictures and the sounds, also when an import made its album
// first; later starts and the user's own files are left alone.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "catalogue/CatalogueFixture.h"
#include "stores/FirstStart.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "settings/WindowTestSupport.h"
#include "controls/PictureBox.h"
#include "stage/vozaro_main.h"

namespace fs = std::filesystem;
using vozaro::catalogue::installBundledContent;

namespace {

class FirstStart : public CatalogueTest {
protected:
    void SetUp() override {
        CatalogueTest::SetUp();
        content = folder / "content";
        fs::create_directories(content / "Musicas");
        fs::create_directories(content / "Imagens");
        writeBytes(content / "musicas.tsv",
                   "Um.kar\tCantiga de roda\tUm\n"
                   "Canção Dois.kar\tTradicional\tCanção Dois\n"
                   "malformed line\n");
        writeBytes(content / "Musicas" / "Um.kar", "MThd one");
        writeBytes(content / "Musicas" / "Canção Dois.kar", "MThd two");
        writeBytes(content / "Imagens" / "palco.jpg", "picture");
        writeBytes(content / "config.mid", "MThd loop");
        writeBytes(content / "nota.wav", "RIFF fanfare");
        program = folder / "program";
        fs::create_directories(program);
        vozaro::catalogue::setProgramFolder(program);
        vozaro::catalogue::setContentFolder(content);
    }
    void TearDown() override {
        vozaro::catalogue::setContentFolder(std::nullopt);
        CatalogueTest::TearDown();
    }

    std::vector<TRegistroAlbum> entries() {
        std::vector<TRegistroAlbum> all;
        EXPECT_TRUE(AbrirAlbum());
        for (int32_t p = 0; p < ContarMusicas(); ++p) {
            LerRegistro(p);
            all.push_back(RegistroAtual);
        }
        FecharAlbum();
        return all;
    }

    fs::path content, program;
};

}  // namespace

TEST_F(FirstStart, CataloguesTheBundledSongsAndCopiesPicturesAndSounds) {
    EXPECT_TRUE(vozaro::catalogue::bundledContentDue());
    EXPECT_EQ(installBundledContent(), 2);
    EXPECT_FALSE(vozaro::catalogue::bundledContentDue());

    const std::vector<TRegistroAlbum> all = entries();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].Numero, 1);
    EXPECT_EQ(all[0].Interprete, "Cantiga de roda");
    EXPECT_EQ(all[0].Musica, "Um");
    EXPECT_EQ(all[0].Arquivo, "Um.kar");
    EXPECT_EQ(all[1].Numero, 2);
    EXPECT_EQ(all[1].Musica, "Can\xe7\xe3o Dois");
    EXPECT_EQ(all[1].Arquivo, "Can\xe7\xe3o Dois.kar");
    EXPECT_EQ(readBytes(program / "Musicas" / "Canção Dois.kar"), "MThd two");
    EXPECT_EQ(readBytes(program / "Imagens" / "palco.jpg"), "picture");
    EXPECT_EQ(readBytes(program / "config.mid"), "MThd loop");
    EXPECT_EQ(readBytes(program / "nota.wav"), "RIFF fanfare");
}

TEST_F(FirstStart, RunningAgainChangesNothing) {
    ASSERT_EQ(installBundledContent(), 2);
    const std::string album = readBytes(program / "vozaro.alb"), index = readBytes(program / "vozaro.idx");
    fs::remove(program / "nota.wav");  // the host silences the fanfare
    EXPECT_EQ(installBundledContent(), 0);
    EXPECT_FALSE(fs::exists(program / "nota.wav"));
    EXPECT_EQ(readBytes(program / "vozaro.alb"), album);
    EXPECT_EQ(readBytes(program / "vozaro.idx"), index);
}

TEST_F(FirstStart, TheUsersOwnFilesAreNeverOverwritten) {
    fs::create_directories(program / "musicas");
    fs::create_directories(program / "Imagens");
    writeBytes(program / "musicas" / "UM.KAR", "my own song");
    writeBytes(program / "Imagens" / "PALCO.JPG", "my own picture");
    writeBytes(program / "config.mid", "my loop");
    // A song already there with the bundled bytes is catalogued in place.
    writeBytes(program / "musicas" / "Canção Dois.kar", "MThd two");

    EXPECT_EQ(installBundledContent(), 1);
    const std::vector<TRegistroAlbum> all = entries();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].Numero, 1);
    EXPECT_EQ(all[0].Arquivo, "Can\xe7\xe3o Dois.kar");
    EXPECT_EQ(readBytes(program / "musicas" / "UM.KAR"), "my own song");
    EXPECT_FALSE(fs::exists(program / "musicas" / "Um.kar"));
    EXPECT_EQ(readBytes(program / "Imagens" / "PALCO.JPG"), "my own picture");
    EXPECT_FALSE(fs::exists(program / "Imagens" / "palco.jpg"));
    EXPECT_EQ(readBytes(program / "config.mid"), "my loop");
    EXPECT_EQ(readBytes(program / "nota.wav"), "RIFF fanfare");
}

// An album from before the content was marked installed (an album and no
// marker) had its content installed by its own first start: it gets nothing.
TEST_F(FirstStart, AProgramFolderFromBeforeTheMarkerGetsNothing) {
    ASSERT_TRUE(AbrirAlbum());
    addSong("mine.kar");
    FecharAlbum();
    fs::remove(program / vozaro::catalogue::kContentMarker);
    EXPECT_FALSE(vozaro::catalogue::bundledContentDue());
    EXPECT_EQ(installBundledContent(), 0);
    EXPECT_EQ(entries().size(), 1u);
    EXPECT_FALSE(fs::exists(program / "nota.wav"));
    EXPECT_FALSE(vozaro::catalogue::bundledContentDue());
}

TEST_F(FirstStart, WithoutContentNothingHappens) {
    vozaro::catalogue::setContentFolder(std::nullopt);
    EXPECT_EQ(installBundledContent(), 0);
    EXPECT_FALSE(fs::exists(program / "vozaro.alb"));
}

namespace {

// The stage started on a new program folder in a home of its own, with the
// content the build made.
class FirstStartOfTheStage : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        previousData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        previousStore = vozaro::platform::installSettingsStore(std::make_unique<vozaro::platform::MemorySettingsStore>());
        vozaro::catalogue::setContentFolder(fs::path(VOZARO_CONTENT_DIR));
    }
    void TearDown() override {
        vozaro::catalogue::setContentFolder(std::nullopt);
        vozaro::platform::installSettingsStore(std::move(previousStore));
        qputenv("XDG_DATA_HOME", previousData);
    }

    QTemporaryDir home;
    const fs::path program = fs::path(home.path().toStdString()) / "vozaro";
    QByteArray previousData;
    std::unique_ptr<vozaro::platform::SettingsStore> previousStore;
};

}  // namespace

TEST_F(FirstStartOfTheStage, CataloguesEveryBundledSongOnceAndNeverAgain) {

    std::string album;
    {
        TformKaraoke stage;
        ASSERT_TRUE(stage.created());
        // The stage opens on one of the bundled pictures, not on black.
        stage.show();
        QCoreApplication::processEvents();
        const QImage shown = stage.grab().toImage();
        ASSERT_FALSE(shown.isNull());
        int lit = 0;
        for (int y = 0; y < shown.height() - 60; y += 40)  // above the button bar
            for (int x = 0; x < shown.width(); x += 40) {
                const QColor c = shown.pixelColor(x, y);
                lit += c.red() + c.green() + c.blue() > 60;
            }
        EXPECT_GT(lit, 10);
        stage.close();
        std::ifstream in(program / "vozaro.alb", std::ios::binary);
        album.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_EQ(album.size(), 10u * vozaro::catalogue::kEntrySize);
    EXPECT_TRUE(fs::exists(program / "config.mid"));
    EXPECT_TRUE(fs::exists(program / "nota.wav"));
    EXPECT_TRUE(fs::exists(program / "Imagens" / "palco.jpg"));
    EXPECT_TRUE(fs::exists(program / "Musicas" / "Ciranda Cirandinha.kar"));

    // The user removes a song; the next start does not bring it back.
    ASSERT_TRUE(AbrirAlbum());
    ASSERT_TRUE(ExcluirMusica(3));
    FecharAlbum();
    {
        TformKaraoke stage;
        ASSERT_TRUE(stage.created());
    }
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(ContarMusicas(), 9);
    EXPECT_EQ(LocalizarMusica(3), -1);
    FecharAlbum();
}

// vozaro-importar run on a new folder before Vozaro ever started: the first
// start still installs the bundled content beside the imported songs, and a
// fanfare the host then removes stays removed.
TEST_F(FirstStartOfTheStage, AfterAnImportTheFirstStartInstallsTheContentOnce) {
    fs::create_directories(program);
    vozaro::catalogue::setProgramFolder(program);
    ASSERT_TRUE(AbrirAlbum());  // the import: its album and one song
    RegistroAtual = TRegistroAlbum{"Minha", "Propria", "propria.kar", ProximoNumero()};
    GravarRegistro(ContarMusicas());
    FecharAlbum();
    std::ofstream(program / "Musicas" / "propria.kar") << "MThd";

    for (int start = 1; start <= 2; ++start) {
        SCOPED_TRACE(start);
        {
            TformKaraoke stage;
            ASSERT_TRUE(stage.created());
        }
        ASSERT_TRUE(AbrirAlbum());
        EXPECT_EQ(ContarMusicas(), 11);
        LerRegistro(0);
        EXPECT_EQ(RegistroAtual.Arquivo, "propria.kar");
        FecharAlbum();
        if (start == 1) {
            EXPECT_TRUE(fs::exists(program / "Musicas" / "Ciranda Cirandinha.kar"));
            EXPECT_TRUE(fs::exists(program / "Imagens" / "palco.jpg"));
            ASSERT_TRUE(fs::exists(program / "nota.wav"));
            fs::remove(program / "nota.wav");
        }
        EXPECT_FALSE(fs::exists(program / "nota.wav"));
    }
}
