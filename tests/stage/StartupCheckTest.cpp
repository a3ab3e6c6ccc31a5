#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "stores/vozaro_colecao.h"
#include "controls/vozaro_status.h"
#include "controls/PictureBox.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "settings/WindowTestSupport.h"
#include "stage/vozaro_main.h"

namespace fs = std::filesystem;
using vozaro::platform::ScopedMessageRecorder;

namespace {

// Counts status windows being shown and remembers their texts.
class StatusWatcher : public QObject {
public:
    StatusWatcher() { qApp->installEventFilter(this); }
    ~StatusWatcher() override { qApp->removeEventFilter(this); }
    int shown = 0;
    QString text;
    int maximum = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* status = qobject_cast<TformStatus*>(watched)) {
                ++shown;
                text = status->lStatus->text();
                maximum = status->Progress->maximum();
            }
        }
        return false;
    }
};

class StartupCheck : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        previousData = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        folder = fs::path(home.path().toStdString()) / "vozaro";
        previousStore = vozaro::platform::installSettingsStore(
            std::make_unique<vozaro::platform::MemorySettingsStore>());
    }
    void TearDown() override {
        qputenv("XDG_DATA_HOME", previousData);
        vozaro::platform::installSettingsStore(std::move(previousStore));
    }

    // Catalogues songs 1..n; only the files of those in `present` exist.
    void makeCatalogue(int count, std::initializer_list<int> present) {
        vozaro::catalogue::setProgramFolder(folder);
        fs::create_directories(folder);
        ASSERT_TRUE(AbrirAlbum());
        for (int n = 1; n <= count; ++n) {
            RegistroAtual = TRegistroAlbum{"Intérprete", "Música", "song" + std::to_string(n) + ".kar",
                                           ProximoNumero()};
            GravarRegistro(ContarMusicas());
        }
        FecharAlbum();
        for (int n : present)
            std::ofstream(vozaro::catalogue::songsFolder() / ("song" + std::to_string(n) + ".kar"))
                << "MThd";
    }

    std::vector<int> numbersInCatalogue() {
        std::vector<int> numbers;
        EXPECT_TRUE(AbrirAlbum());
        for (int p = 0; p < ContarMusicas(); ++p) {
            LerRegistro(p);
            numbers.push_back(RegistroAtual.Numero);
        }
        FecharAlbum();
        return numbers;
    }

    QTemporaryDir home;
    fs::path folder;
    QByteArray previousData;
    std::unique_ptr<vozaro::platform::SettingsStore> previousStore;
};

TEST_F(StartupCheck, RemovesTheEntriesWhoseSongsAreGoneAndFreesTheirNumbers) {
    makeCatalogue(3, {1, 3});
    StatusWatcher watcher;
    TformKaraoke stage;
    ASSERT_TRUE(stage.created());
    EXPECT_EQ(vozaro::catalogue::programFolder(), folder);
    EXPECT_EQ(watcher.shown, 1);
    EXPECT_EQ(watcher.text, "Verificando pasta de músicas...");
    EXPECT_EQ(watcher.maximum, 2);
    EXPECT_EQ(numbersInCatalogue(), (std::vector<int>{1, 3}));
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(ProximoNumero(), 2);
    FecharAlbum();
}

TEST_F(StartupCheck, AllSongsGoneEmptiesTheCatalogue) {
    makeCatalogue(4, {});
    TformKaraoke stage;
    ASSERT_TRUE(stage.created());
    EXPECT_TRUE(numbersInCatalogue().empty());
}

TEST_F(StartupCheck, AnEmptyCatalogueIsCreatedWithoutAStatusWindow) {
    StatusWatcher watcher;
    TformKaraoke stage;
    ASSERT_TRUE(stage.created());
    EXPECT_EQ(watcher.shown, 0);
    EXPECT_TRUE(fs::exists(folder / "vozaro.alb"));
    EXPECT_TRUE(fs::exists(folder / "vozaro.idx"));
    EXPECT_TRUE(fs::is_directory(folder / "Musicas"));
    EXPECT_TRUE(fs::is_directory(folder / "Imagens"));
}

TEST_F(StartupCheck, ACatalogueThatCannotBeOpenedEndsTheStart) {
    fs::create_directories(folder / "vozaro.alb");  // a folder where the album file belongs
    ScopedMessageRecorder messages;
    TformKaraoke stage;
    EXPECT_FALSE(stage.created());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Não foi possível abrir o álbum de músicas.");
}

TEST_F(StartupCheck, ThePicturesFolderIsListedWhenTheStageShows) {
    fs::create_directories(folder / "imagens");
    for (const char* name : {"a.jpg", "B.BMP", "c.png", "d.bmp"})
        std::ofstream(folder / "imagens" / name) << "x";
    TformKaraoke stage;
    ASSERT_TRUE(stage.created());
    stage.show();
    EXPECT_EQ(stage.FImg.items(), (QStringList{"B.BMP", "a.jpg", "d.bmp"}));
    stage.close();
}

TEST_F(StartupCheck, TheStageShowsAPictureOfTheFolderWhenFirstShown) {
    fs::create_directories(folder / "imagens");
    QImage picture(32, 24, QImage::Format_RGB32);
    picture.fill(qRgb(250, 200, 100));
    ASSERT_TRUE(picture.save(QString::fromStdString((folder / "imagens" / "only.bmp").string())));
    TformKaraoke stage;
    ASSERT_TRUE(stage.created());
    stage.show();
    EXPECT_EQ(stage.FundoLimpo.size(), stage.Fundo->size());
    // Darkened by the default level, 51.
    EXPECT_EQ(stage.FundoLimpo.pixel(stage.width() / 2, stage.height() - 5) & 0xFFFFFF,
              qRgb(199, 149, 49) & 0xFFFFFFu);
    EXPECT_EQ(stage.Fundo->picture(), stage.FundoLimpo);
    stage.close();
}

}  // namespace
