#include "stores/vozaro_uteis.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>

#include "platform/SettingsStore.h"

using vozaro::platform::settingsStore;

int ReadSettingInt(const std::string& name, int defaultValue) {
    return settingsStore().readInt(kSettingsKey, name).value_or(defaultValue);
}

bool ReadSettingBool(const std::string& name, bool defaultValue) {
    const auto value = settingsStore().readInt(kSettingsKey, name);
    return value ? *value != 0 : defaultValue;
}

void WriteSettingInt(const std::string& name, int value) {
    settingsStore().writeInt(kSettingsKey, name, value);
}

void WriteSettingBool(const std::string& name, bool value) {
    settingsStore().writeInt(kSettingsKey, name, value ? 1 : 0);
}

std::uint8_t darkLevelOf(int darkImg) {
    if (darkImg < 0 || darkImg >= kDarkImgSteps)
        darkImg = TKaraokeSettings{}.DarkImg;
    // 12.75 = 51 / 4: round darkImg × 51 / 4 to nearest, ties to even.
    const int quarters = darkImg * 51;
    int level = quarters / 4;
    const int rest = quarters % 4;
    if (rest > 2 || (rest == 2 && level % 2 != 0))
        ++level;
    return static_cast<std::uint8_t>(level);
}

int chooseMidiPort(int storedPort, int deviceCount) {
    if (storedPort >= 0 && storedPort < deviceCount)
        return storedPort;
    return deviceCount - 1;
}

void loadKaraokeSettings(TKaraokeSettings& settings) {
    const TKaraokeSettings defaults;
    settings.MIDIPort = ReadSettingInt("MIDIPort", defaults.MIDIPort);
    settings.AutoNext = ReadSettingBool("AutoNext", defaults.AutoNext);
    settings.Ajuda = ReadSettingBool("Ajuda", defaults.Ajuda);
    settings.DarkImg = ReadSettingInt("DarkImg", defaults.DarkImg);
    if (settings.DarkImg < 0 || settings.DarkImg >= kDarkImgSteps)
        settings.DarkImg = defaults.DarkImg;
    settings.NoiseLevel = std::clamp(ReadSettingInt("NoiseLevel", defaults.NoiseLevel), 0,
                                     kNoiseLevelMax);
    settings.MicMute = ReadSettingBool("MicMute", defaults.MicMute);
    settings.DarNota = ReadSettingBool("DarNota", defaults.DarNota);
    if (settings.MicMute)
        settings.DarNota = false;
    settings.AfinacaoNota = ReadSettingBool("AfinacaoNota", defaults.AfinacaoNota);
    settings.Celular = ReadSettingBool("Celular", defaults.Celular);
    settings.PortaCelular = ReadSettingInt("PortaCelular", defaults.PortaCelular);
    if (settings.PortaCelular < 1 || settings.PortaCelular > kLastPhonePort)
        settings.PortaCelular = defaults.PortaCelular;
    settings.TelaCantores = ReadSettingBool("TelaCantores", defaults.TelaCantores);
    loadMoreOptions(settings);
}

void loadMoreOptions(TKaraokeSettings& settings) {
    const TKaraokeSettings defaults;
    const auto percent = [](const char* name, int defaultValue) {
        return std::clamp(ReadSettingInt(name, defaultValue), 0, kOptionPercentMax);
    };
    settings.RetornoMic = ReadSettingBool("RetornoMic", defaults.RetornoMic);
    settings.VolumeRetorno = percent("VolumeRetorno", defaults.VolumeRetorno);
    settings.EcoRetorno = percent("EcoRetorno", defaults.EcoRetorno);
    settings.GuiaAfinacao = ReadSettingBool("GuiaAfinacao", defaults.GuiaAfinacao);
    settings.VolumeMelodia = percent("VolumeMelodia", defaults.VolumeMelodia);
    settings.Revezamento = ReadSettingBool("Revezamento", defaults.Revezamento);
    const int password = ReadSettingInt("SenhaAnfitriao", -1);
    if (password >= 0 && password < kHostPasswordLimit) {
        settings.SenhaAnfitriao = password;
    } else {
        settings.SenhaAnfitriao = drawHostPassword();
        WriteSettingInt("SenhaAnfitriao", settings.SenhaAnfitriao);
    }
}

void saveMoreOptions(const TKaraokeSettings& settings) {
    WriteSettingBool("RetornoMic", settings.RetornoMic);
    WriteSettingInt("VolumeRetorno", settings.VolumeRetorno);
    WriteSettingInt("EcoRetorno", settings.EcoRetorno);
    WriteSettingBool("GuiaAfinacao", settings.GuiaAfinacao);
    WriteSettingInt("VolumeMelodia", settings.VolumeMelodia);
    WriteSettingBool("Revezamento", settings.Revezamento);
    WriteSettingInt("SenhaAnfitriao", settings.SenhaAnfitriao);
}

int drawHostPassword() { return static_cast<int>(QRandomGenerator::system()->bounded(kHostPasswordLimit)); }

std::string hostPasswordText(int password) {
    char text[8];
    std::snprintf(text, sizeof text, "%06d", std::clamp(password, 0, kHostPasswordLimit - 1));
    return text;
}

void saveKaraokeSettings(TKaraokeSettings& settings) {
    WriteSettingInt("MIDIPort", settings.MIDIPort);
    WriteSettingBool("AutoNext", settings.AutoNext);
    WriteSettingBool("Ajuda", settings.Ajuda);
    WriteSettingBool("MicMute", settings.MicMute);
    WriteSettingBool("DarNota", settings.DarNota);
    WriteSettingInt("DarkImg", settings.DarkImg);
    WriteSettingInt("NoiseLevel", settings.NoiseLevel);
    WriteSettingBool("AfinacaoNota", settings.AfinacaoNota);
    WriteSettingBool("Celular", settings.Celular);
    WriteSettingInt("PortaCelular", settings.PortaCelular);
    WriteSettingBool("TelaCantores", settings.TelaCantores);
    saveMoreOptions(settings);
    settings.autoNextSwitch = settings.AutoNext;
    settings.DarkLevel = darkLevelOf(settings.DarkImg);
}
