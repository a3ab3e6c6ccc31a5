#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "support/RecordingMidiDevices.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "settings/vozaro_config.h"
#include "settings/vozaro_creditos.h"
#include "settings/vozaro_inicio.h"
#include "settings/WindowTestSupport.h"
#include "controls/PictureBox.h"
#include "stage/canvas/BackgroundPicture.h"

using vozaro::platform::MemorySettingsStore;

namespace {

class SettingsWindows : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        auto owned = std::make_unique<MemorySettingsStore>();
        store = owned.get();
        previous = vozaro::platform::installSettingsStore(std::move(owned));
    }
    void TearDown() override { vozaro::platform::installSettingsStore(std::move(previous)); }

    QStringList labelTexts(const QWidget& window) {
        QStringList texts;
        for (const QLabel* label : window.findChildren<QLabel*>())
            texts << label->text();
        return texts;
    }

    MemorySettingsStore* store = nullptr;
    std::unique_ptr<vozaro::platform::SettingsStore> previous;
};

TEST_F(SettingsWindows, StartScreenCentresItsPanel) {
    TformInicio inicio;
    inicio.show();
    inicio.resize(1024, 768);
    EXPECT_EQ(inicio.panelFundo->geometry(), QRect(192, 144, 640, 480));
    // Odd differences round toward zero on both sides of the panel's size.
    inicio.resize(641, 481);
    EXPECT_EQ(inicio.panelFundo->pos(), QPoint(0, 0));
    inicio.resize(639, 479);
    EXPECT_EQ(inicio.panelFundo->pos(), QPoint(0, 0));
    // Smaller than the panel: cut off evenly.
    inicio.resize(600, 400);
    EXPECT_EQ(inicio.panelFundo->pos(), QPoint(-20, -40));
}

TEST_F(SettingsWindows, StartScreenShowsTheTextsAndTheBar) {
    TformInicio inicio;
    EXPECT_EQ(inicio.windowTitle(), "Vozaro");
    const QStringList texts = labelTexts(inicio);
    EXPECT_TRUE(texts.contains("Bem-vindo ao Vozaro 2, o Karaokê da Editora Lumbra."));
    EXPECT_TRUE(texts.contains("Veja a seguir como usar todas as ferramentas do Vozaro 2."));
    for (const char* caption : {"Toca a Música", "Próxima Música", "Sai do Vozaro", "Créditos",
                                "Pára a Música"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(caption))) << caption;
    EXPECT_EQ(inicio.cbExibe->text(), "Não exibir mais esta tela.");
    EXPECT_FALSE(inicio.cbExibe->isChecked());
    EXPECT_EQ(inicio.Logo->size(), QSize(197, 102));
    EXPECT_EQ(inicio.Logo->picture().size(), QSize(197, 102));
    EXPECT_EQ(inicio.Botoes->size(), QSize(624, 48));
    // No caption box overlaps another of its row, and each lies on the panel.
    QList<QRect> above, below;
    for (const QLabel* label : inicio.panelFundo->findChildren<QLabel*>()) {
        const QRect box = label->geometry();
        EXPECT_TRUE(QRect(0, 0, 640, 480).contains(box)) << label->text().toStdString();
        if (box.bottom() < inicio.Botoes->y() && (label->alignment() & Qt::AlignBottom))
            above << box;
        else if (box.top() > inicio.Botoes->geometry().bottom())
            below << box;
    }
    EXPECT_EQ(above.size(), 5);
    EXPECT_EQ(below.size(), 4);
    for (const auto* row : {&above, &below})
        for (int i = 0; i < row->size(); ++i)
            for (int j = i + 1; j < row->size(); ++j)
                EXPECT_FALSE(row->at(i).intersects(row->at(j)));
}

TEST_F(SettingsWindows, OkWithTheBoxCheckedSwitchesTheStartScreenOffInTheStoreOnly) {
    TformConfig config;
    ASSERT_TRUE(config.Settings.Ajuda);
    TformInicio inicio;
    inicio.show();
    QTest::mouseClick(inicio.cbExibe, Qt::LeftButton, {}, QPoint(5, inicio.cbExibe->height() / 2));
    ASSERT_TRUE(inicio.cbExibe->isChecked());
    QTest::mouseClick(inicio.bOk, Qt::LeftButton);
    EXPECT_FALSE(inicio.isVisible());
    EXPECT_EQ(inicio.result(), QDialog::Accepted);
    EXPECT_FALSE(ReadSettingBool("Ajuda", true));
    EXPECT_TRUE(config.Settings.Ajuda);
    // A later save writes the live value again.
    config.ApplySettings();
    EXPECT_TRUE(ReadSettingBool("Ajuda", false));
}

TEST_F(SettingsWindows, OkWithoutTheBoxOrClosingWritesNothing) {
    TformInicio inicio;
    inicio.show();
    QTest::mouseClick(inicio.bOk, Qt::LeftButton);
    EXPECT_FALSE(inicio.isVisible());
    inicio.show();
    inicio.cbExibe->setChecked(true);
    QTest::keyClick(&inicio, Qt::Key_Escape);
    EXPECT_FALSE(inicio.isVisible());
    inicio.show();
    inicio.close();
    EXPECT_TRUE(store->writeLog().empty());
}

TEST_F(SettingsWindows, CreditsShowTheTransparentLogoAndTheTeam) {
    TformCreditos creditos;
    EXPECT_EQ(creditos.windowTitle(), "Vozaro");
    EXPECT_EQ(creditos.size(), QSize(236, 183));
    EXPECT_TRUE(creditos.windowFlags() & Qt::Tool);
    const QImage logo = creditos.Logo->picture();
    ASSERT_EQ(logo.size(), QSize(197, 102));
    EXPECT_EQ(qAlpha(logo.pixel(0, 101)), 0);
    // The name itself stays opaque.
    int opaque = 0;
    for (int x = 0; x < logo.width(); ++x)
        opaque += qAlpha(logo.pixel(x, 50)) == 255;
    EXPECT_GT(opaque, 40);
    const QStringList texts = labelTexts(creditos);
    EXPECT_TRUE(texts.contains("Programação"));
    EXPECT_TRUE(texts.contains("Ilustrações"));
    EXPECT_EQ(texts.count("Equipe Vozaro"), 2);
    creditos.show();
    QTest::mouseClick(creditos.bOk, Qt::LeftButton);
    EXPECT_FALSE(creditos.isVisible());
}

TEST(TransparentBackground, OnlyTheKeyColourBecomesTransparent) {
    QImage picture(3, 2, QImage::Format_RGB32);
    picture.fill(qRgb(10, 20, 30));
    picture.setPixel(1, 0, qRgb(10, 20, 31));
    picture.setPixel(2, 1, qRgb(200, 0, 0));
    const QImage copy = withTransparentBackground(picture);
    EXPECT_EQ(qAlpha(copy.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(copy.pixel(0, 1)), 0);
    EXPECT_EQ(copy.pixel(1, 0), qRgb(10, 20, 31));
    EXPECT_EQ(copy.pixel(2, 1), qRgb(200, 0, 0));
}

TEST_F(SettingsWindows, ConfigurationWindowLoadsAndStoresTheSettingsWhenCreated) {
    WriteSettingBool("AutoNext", false);
    WriteSettingInt("DarkImg", 20);
    store->putNonInteger(kSettingsKey, "NoiseLevel");
    TformConfig config;
    EXPECT_EQ(formConfig, &config);
    EXPECT_FALSE(config.Settings.AutoNext);
    EXPECT_FALSE(config.Settings.autoNextSwitch);
    EXPECT_EQ(config.Settings.DarkLevel, 255);
    EXPECT_EQ(config.Settings.NoiseLevel, 2000);
    for (const char* name :
         {"MIDIPort", "AutoNext", "Ajuda", "DarkImg", "NoiseLevel", "MicMute", "DarNota"})
        EXPECT_TRUE(store->contains(kSettingsKey, name)) << name;
    EXPECT_EQ(ReadSettingInt("NoiseLevel", 0), 2000);
}

TEST_F(SettingsWindows, ConfigurationWindowFitsTheStoredMidiPortToTheDevices) {
    vozaro::platform::ScopedMidiDevices devices(
        std::make_shared<vozaro::platform::RecordingMidiDevices>(3));
    for (const auto& [stored, chosen] : {std::pair{7, 2}, {1, 1}, {-1, 2}}) {
        WriteSettingInt("MIDIPort", stored);
        TformConfig config;
        EXPECT_EQ(config.Settings.MIDIPort, chosen) << stored;
        EXPECT_EQ(ReadSettingInt("MIDIPort", -9), chosen);
    }
    vozaro::platform::ScopedMidiDevices none(
        std::make_shared<vozaro::platform::RecordingMidiDevices>(0));
    WriteSettingInt("MIDIPort", 0);
    TformConfig config;
    EXPECT_EQ(config.Settings.MIDIPort, -1);
}

}  // namespace
