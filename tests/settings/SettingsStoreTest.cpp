#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/SettingsStore.h"

using vozaro::platform::IniSettingsStore;

namespace {

const std::string kKey = "Software\\Lumbra Karaoke";

class IniStore : public ::testing::Test {
protected:
    QTemporaryDir folder;
    std::string path = QDir(folder.path()).filePath("sub/vozaro.ini").toStdString();
    IniSettingsStore store{path};

    void writeFile(const QByteArray& text) {
        QDir().mkpath(QDir(folder.path()).filePath("sub"));
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
};

TEST_F(IniStore, MissingFileOrValueReadsAsNothing) {
    EXPECT_FALSE(store.readInt(kKey, "MIDIPort"));
    ASSERT_TRUE(store.writeInt(kKey, "AutoNext", 1));
    EXPECT_FALSE(store.readInt(kKey, "MIDIPort"));
    EXPECT_FALSE(store.readInt("Software\\Other", "AutoNext"));
}

TEST_F(IniStore, WritesCreateTheFolderAndReadBack) {
    ASSERT_TRUE(store.writeInt(kKey, "MIDIPort", -1));
    ASSERT_TRUE(store.writeInt(kKey, "NoiseLevel", 2147483647));
    ASSERT_TRUE(store.writeInt(kKey, "DarkImg", -2147483647 - 1));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(path)));
    // A second store on the same file sees the values: nothing is kept in
    // memory between calls.
    IniSettingsStore other{path};
    EXPECT_EQ(other.readInt(kKey, "MIDIPort"), -1);
    EXPECT_EQ(other.readInt(kKey, "NoiseLevel"), 2147483647);
    EXPECT_EQ(other.readInt(kKey, "DarkImg"), -2147483647 - 1);
    // A leading backslash names the same key.
    EXPECT_EQ(other.readInt("\\Software\\Lumbra Karaoke", "MIDIPort"), -1);
}

TEST_F(IniStore, ValuesThatAreNotInt32ReadAsNothing) {
    writeFile("[Software]\n"
              "Lumbra%20Karaoke\\NoiseLevel=loud\n"
              "Lumbra%20Karaoke\\DarkImg=4.5\n"
              "Lumbra%20Karaoke\\MIDIPort=4294967295\n"
              "Lumbra%20Karaoke\\Ajuda=1, 2\n"
              "Lumbra%20Karaoke\\AutoNext=\n"
              "Lumbra%20Karaoke\\MicMute=7\n");
    EXPECT_FALSE(store.readInt(kKey, "NoiseLevel"));
    EXPECT_FALSE(store.readInt(kKey, "DarkImg"));
    EXPECT_FALSE(store.readInt(kKey, "MIDIPort"));
    EXPECT_FALSE(store.readInt(kKey, "Ajuda"));
    EXPECT_FALSE(store.readInt(kKey, "AutoNext"));
    EXPECT_EQ(store.readInt(kKey, "MicMute"), 7);
}

TEST_F(IniStore, UnwritableFileDropsTheWrite) {
    // A folder where the file should be: the write cannot succeed.
    QDir().mkpath(QString::fromStdString(path));
    EXPECT_FALSE(store.writeInt(kKey, "MIDIPort", 3));
    EXPECT_FALSE(store.readInt(kKey, "MIDIPort"));
}

TEST(IniStoreLocation, FollowsTheConfigurationFolder) {
    QTemporaryDir folder;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", folder.path().toUtf8());
    IniSettingsStore store;
    EXPECT_EQ(store.filePath(), QDir(folder.path()).filePath("vozaro/vozaro.ini").toStdString());
    ASSERT_TRUE(store.writeInt(kKey, "Ajuda", 0));
    EXPECT_TRUE(QFile::exists(QDir(folder.path()).filePath("vozaro/vozaro.ini")));
    qputenv("XDG_CONFIG_HOME", previous);
}

}  // namespace
