// A catalogue in a temporary program folder, with helpers to add songs the
// way adding songs does (take a number, write the entry at the end).
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stores/vozaro_colecao.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"

// Makes every write past `bytes` fail (EFBIG) for the lifetime of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    sighandler_t previous_;
};

// The numbers of an album index's bytes.
inline std::vector<int32_t> decodeIndex(const std::string& bytes) {
    std::vector<int32_t> numbers;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        uint32_t v = 0;
        for (int b = 3; b >= 0; --b)
            v = v << 8 | static_cast<unsigned char>(bytes[i + b]);
        numbers.push_back(static_cast<int32_t>(v));
    }
    return numbers;
}

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vozaro-cat-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
        vozaro::catalogue::setProgramFolder(folder);
    }
    void TearDown() override {
        FecharAlbum();
        std::filesystem::remove_all(folder);
    }

    std::filesystem::path file(const char* name) const { return folder / name; }

    static std::string readBytes(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    // Adds a song with its file in the songs folder; returns its number.
    int32_t addSong(const std::string& arquivo, bool withFile = true) {
        int32_t numero = ProximoNumero();
        RegistroAtual = TRegistroAlbum{"Interprete", "Titulo", arquivo, numero};
        GravarRegistro(ContarMusicas());
        if (withFile)
            writeBytes(vozaro::catalogue::songsFolder() / arquivo, "MThd");
        return numero;
    }

    std::vector<int32_t> albumNumbers() {
        std::vector<int32_t> numbers;
        TRegistroAlbum entry;
        vozaro::catalogue::seekAlbum(0);
        while (!vozaro::catalogue::atAlbumEnd()) {
            vozaro::catalogue::readNextEntry(entry);
            numbers.push_back(entry.Numero);
        }
        return numbers;
    }

    std::vector<int32_t> indexNumbers() const { return decodeIndex(readBytes(file("vozaro.idx"))); }

    std::filesystem::path folder;
    vozaro::platform::ScopedMessageRecorder messages;
};
