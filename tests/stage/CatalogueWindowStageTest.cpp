// The catalogue window on the real stage: files checked by the stage's song
// loading, and "Tocar Agora" putting a song before the waiting requests.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>

#include "catalogue/vozaro_album.h"
#include "stores/vozaro_colecao.h"
#include "catalogue/vozaro_editsong.h"
#include "midi/PlayerTestDevices.h"
#include "support/FakeCaptureDevice.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "platform/ui/UiModal.h"
#include "platform/WindowTimer.h"
#include "settings/WindowTestSupport.h"
#include "stage/KaraokeSongs.h"
#include "stage/RequestTyping.h"
#include "stage/vozaro_main.h"

namespace fx = vozaro::midi::fixtures;
namespace platform = vozaro::platform;
using fx::operator+;

namespace {

fx::Bytes karaoke() {
    return vozaro::test::song({vozaro::test::lyricTrack({{100, "Can"}, {300, "ta"}}),
                               fx::vlq(0) + fx::Bytes{0x90, 60, 100} + fx::vlq(400) + fx::Bytes{0x80, 60, 0}});
}

class CatalogueOnStage : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        previousStore = platform::installSettingsStore(std::make_unique<platform::MemorySettingsStore>());
        stage = std::make_unique<TformKaraoke>();
        ASSERT_TRUE(stage->created());
        vozaro::catalogue::setProgramFolder(folder.path().toStdString());
        stage->resize(800, 600);
        stage->show();
        stage->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(stage.get()));
    }
    void TearDown() override {
        album.reset();
        stage->close();
        stage.reset();
        platform::installSettingsStore(std::move(previousStore));
    }

    std::int32_t addSong(const std::string& file, const std::string& title) {
        const std::int32_t numero = vozaro::test::catalogueEntry("Banda", title, file);
        fx::writeFile((vozaro::catalogue::songsFolder() / file).string(), karaoke());
        return numero;
    }
    void request(const QString& number, const QString& singer) { vozaro::test::typeRequest(*stage, number, singer); }
    QStringList lines() const {
        QStringList shown;
        for (const QString& line : vozaro::test::requestLines(*stage))
            shown << line.left(11);  // number and singer
        return shown;
    }

    std::unique_ptr<platform::SettingsStore> previousStore;
    vozaro::test::RecordingDevices devices;
    platform::ManualTimerService timers;
    platform::ScopedManualWindowClock clock{timers};
    platform::ScopedFakeCapture capture;
    platform::ScopedMessageRecorder messages;
    QTemporaryDir folder;
    std::unique_ptr<TformKaraoke> stage;
    std::unique_ptr<TformAlbum> album;
};

}  // namespace

TEST_F(CatalogueOnStage, TocarAgoraPutsTheSongBeforeTheWaitingRequests) {
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    addSong("tres.kar", "Terceira");
    request("1", "Ana");
    request("2", "Bia");
    ASSERT_EQ(lines(), (QStringList{"00001 - Ana", "00002 - Bia"}));
    album = std::make_unique<TformAlbum>();
    album->show();
    album->selectRow(2);
    album->bPlayClick();
    EXPECT_FALSE(album->isVisible());
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(stage->Titulo, "Terceira");
    EXPECT_EQ(lines(), (QStringList{"00001 - Ana", "00002 - Bia"}));  // they follow in their order

    stage->bProximaClick();
    EXPECT_EQ(stage->Titulo, "Ana - Primeira");
    EXPECT_EQ(lines(), QStringList{"00002 - Bia"});
}

TEST_F(CatalogueOnStage, AddedFilesAreCheckedByTheStageWhichThenForgetsThem) {
    const QString outside = folder.path() + "/fora";
    QDir().mkpath(outside);
    fx::writeFile((outside + "/Banda - Nova.kar").toStdString(), karaoke());
    fx::writeFile((outside + "/plain.mid").toStdString(),
                  vozaro::test::song({fx::vlq(0) + fx::Bytes{0x90, 60, 100} + fx::vlq(10) + fx::Bytes{0x80, 60, 0}}));
    TformMusica songDialog;
    album = std::make_unique<TformAlbum>();
    QString chosen;
    platform::ScopedModalResponder answers([&](QDialog& dialog) {
        if (auto* open = qobject_cast<QFileDialog*>(&dialog)) {
            open->setDirectory(outside);
            open->selectFile(chosen);
        }
        return int{QDialog::Accepted};  // the song-data dialog as it was filled
    });
    chosen = "plain.mid";
    album->bIncluirClick();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "plain.mid não é um arquivo de MIDI Karaokê");
    EXPECT_TRUE(stage->MidiData.FileName().empty());  // not the stage's song
    EXPECT_FALSE(stage->MidiPlayer.Play());

    chosen = "Banda - Nova.kar";
    album->bIncluirClick();
    EXPECT_EQ(messages.messages().size(), 1u);
    EXPECT_TRUE(stage->MidiData.FileName().empty());
    ASSERT_EQ(album->Musicas.rowCount(), 1);
    EXPECT_EQ(album->Musicas.line(0), QStringLiteral("00001 - Banda - Nova"));
}
