#include <gtest/gtest.h>

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include "audio/AudioIO.h"
#include "support/FakeCaptureDevice.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "platform/ui/UiDisplay.h"
#include "settings/WindowTestSupport.h"
#include "settings/vozaro_config.h"
#include "settings/vozaro_creditos.h"
#include "settings/vozaro_inicio.h"
#include "controls/PictureBox.h"
#include "controls/PictureButton.h"
#include "stage/canvas/StageButtons.h"
#include "stage/vozaro_main.h"

using vozaro::platform::MessageIcon;
using vozaro::platform::ScopedDisplayDepth;
using vozaro::platform::ScopedMessageRecorder;

namespace {

class Stage : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        previous = vozaro::platform::installSettingsStore(
            std::make_unique<vozaro::platform::MemorySettingsStore>());
    }
    void TearDown() override { vozaro::platform::installSettingsStore(std::move(previous)); }

    std::unique_ptr<vozaro::platform::SettingsStore> previous;
};

TEST_F(Stage, RefusesADisplayOfAtMost256Colours) {
    for (int depth : {1, 4, 8}) {
        ScopedDisplayDepth display(depth);
        ScopedMessageRecorder messages;
        TformKaraoke stage;
        EXPECT_FALSE(stage.created()) << depth;
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages()[0].icon, MessageIcon::Error);
        EXPECT_EQ(messages.messages()[0].text,
                  "Para rodar o Vozaro, o Windows deve estar configurado para exibir mais de 256 "
                  "cores. Abra a janela de propriedades de vídeo e altere o número de cores para "
                  "16 bits ou mais.");
    }
    for (int depth : {15, 16, 24, 32}) {
        ScopedDisplayDepth display(depth);
        ScopedMessageRecorder messages;
        TformKaraoke stage;
        EXPECT_TRUE(stage.created()) << depth;
        EXPECT_TRUE(messages.messages().empty());
    }
}

TEST_F(Stage, ButtonsSitOnTheBarWithTheHandCursor) {
    TformKaraoke stage;
    EXPECT_EQ(stage.windowTitle(), "Vozaro");
    EXPECT_TRUE(stage.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(stage.palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(stage.panelBotoes->size(), QSize(624, 46));
    EXPECT_EQ(stage.Botoes->geometry(), QRect(0, 0, 624, 46));
    EXPECT_EQ(stage.Botoes->picture().size(), QSize(624, 46));
    const std::pair<PictureButton*, QRect> expected[] = {
        {stage.bCreditos, {9, 7, 25, 33}},   {stage.bPlay, {56, 11, 20, 23}},
        {stage.bStop, {83, 11, 20, 23}},     {stage.bProxima, {113, 11, 20, 23}},
        {stage.bConfig, {152, 16, 57, 16}},  {stage.bMusicas, {237, 16, 63, 16}},
        {stage.bPedidos, {331, 16, 65, 16}}, {stage.bMelodia, {423, 16, 65, 16}},
        {stage.bSair, {572, 16, 37, 16}},
    };
    for (const auto& [button, place] : expected) {
        EXPECT_EQ(button->parentWidget(), stage.panelBotoes);
        EXPECT_EQ(button->geometry(), place) << button->objectName().toStdString();
        EXPECT_EQ(button->cursor().shape(), Qt::BitmapCursor);
        // The artwork under each button is drawn, not bar background alone.
        const QImage under = stage.Botoes->picture().copy(place);
        int bright = 0;
        for (int y = 0; y < under.height(); ++y)
            for (int x = 0; x < under.width(); ++x)
                bright += qGray(under.pixel(x, y)) > 160;
        EXPECT_GT(bright, 8) << button->objectName().toStdString();
    }
    EXPECT_FALSE(stage.MicProgress->isVisible());
    EXPECT_EQ(stage.MicProgress->maximum(), 32768);
    EXPECT_FALSE(stage.panelLista->isVisible());
    EXPECT_FALSE(stage.panelMelodia->isVisible());
    // The panels' captions: the exact texts, set off from the edge by a margin.
    const std::pair<QFrame*, QString> captions[] = {
        {stage.panelLista, "Pedidos de Músicas"},
        {stage.panelMelodia, "Ajustes de Tom, Ritmo e Acompanhamento"},
    };
    for (const auto& [panel, caption] : captions) {
        const QLabel* header = panel->findChild<QLabel*>();
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->text(), caption);
        EXPECT_GT(header->contentsMargins().left(), 0);
    }
    EXPECT_EQ(stage.pTitulo, stage.panelLista->findChild<QLabel*>());
    EXPECT_EQ(stage.TimerKaraoke->interval(), 50);
    EXPECT_EQ(stage.timerNota->interval(), 500);
    EXPECT_FALSE(stage.TimerKaraoke->isActive() || stage.timerDelay->isActive() ||
                 stage.timerNota->isActive());
}

TEST(StageButtons, BarButtonsAreFoundByName) {
    using vozaro::stage::barButton;
    static_assert(barButton("bPlay").x == 56);
    EXPECT_STREQ(barButton("bSair").name, "bSair");
    EXPECT_EQ(&barButton("bConfig"), &vozaro::stage::kBarButtons[4]);
    EXPECT_THROW(barButton("bNada"), std::out_of_range);
}

TEST_F(Stage, ResizingKeepsTheBarCentredAtTheBottom) {
    TformKaraoke stage;
    stage.show();
    stage.resize(800, 600);
    EXPECT_EQ(stage.Fundo->geometry(), QRect(0, 0, 800, 600));
    EXPECT_EQ(stage.panelBotoes->pos(), QPoint(88, 554));
    EXPECT_EQ(stage.MicProgress->geometry(), QRect(92, 541, 617, 13));
    stage.resize(1280, 1024);
    EXPECT_EQ(stage.panelBotoes->pos(), QPoint(328, 978));
    // An odd difference rounds toward zero, also when it is negative.
    stage.resize(623, 400);
    EXPECT_EQ(stage.panelBotoes->x(), 0);
    stage.resize(500, 400);
    EXPECT_EQ(stage.panelBotoes->x(), -62);
    EXPECT_EQ(stage.MicProgress->x(), -58);
}

TEST_F(Stage, ShowingCoversTheScreenAndShowsTheStartScreenWhenAsked) {
    TformKaraoke stage;
    TformInicio inicio;
    TformConfig config;
    ASSERT_TRUE(config.Settings.Ajuda);
    ModalCloser modals;
    stage.show();
    EXPECT_EQ(modals.first(), &inicio);
    EXPECT_EQ(stage.geometry(), stage.screen()->geometry());
    EXPECT_EQ(stage.panelBotoes->y(), stage.height() - 46);
    stage.close();
}

TEST_F(Stage, StartScreenStaysAwayWhenSwitchedOff) {
    TformKaraoke stage;
    TformInicio inicio;
    TformConfig config;
    config.Settings.Ajuda = false;
    ModalCloser modals;
    stage.show();
    EXPECT_EQ(modals.first(), nullptr);
    EXPECT_FALSE(inicio.isVisible());
    stage.close();
}

TEST_F(Stage, CreditsButtonOpensTheCreditsModally) {
    TformKaraoke stage;
    TformCreditos creditos;
    stage.show();
    ModalCloser modals;
    QTest::mouseClick(stage.bCreditos, Qt::LeftButton);
    EXPECT_EQ(modals.first(), &creditos);
    EXPECT_FALSE(creditos.isVisible());
    stage.close();
}

TEST_F(Stage, ExitButtonClosesTheStageAndStopsTheMicrophone) {
    vozaro::platform::ScopedFakeCapture capture;
    TformKaraoke stage;
    EXPECT_EQ(stage.AudioIn->BufferSize(), 1024);
    EXPECT_EQ(stage.AudioIn->FrameRate(), 22050);
    stage.show();
    stage.FilaPosicoes << "0" << "3";
    stage.AudioIn->StartCapture();
    ASSERT_TRUE(capture.control().isOpen());
    ASSERT_TRUE(stage.isVisible());
    QTest::mouseClick(stage.bSair, Qt::LeftButton);
    EXPECT_FALSE(stage.isVisible());
    EXPECT_FALSE(capture.control().isStarted());
    EXPECT_TRUE(stage.FilaPosicoes.isEmpty());
}

}  // namespace

// "Mostrar as notas da melodia" in the window of more options reaches the
// melody band as soon as it changes.
TEST_F(Stage, TheMelodyBandFollowsItsSettingAtOnce) {
    TformKaraoke stage;
    TKaraokeSettings settings;
    stage.config.settings = [&] { return &settings; };
    for (const bool on : {false, true, false}) {
        settings.GuiaAfinacao = on;
        stage.optionsChanged();
        EXPECT_EQ(stage.melodyBand.enabled(), on);
    }
}
