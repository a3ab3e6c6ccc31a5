// A full catalogue of 99,999 songs in a temporary program folder, with
// performers and titles of Portuguese words (accents included), for the
// benchmarks of the guests' search.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "stores/vozaro_colecao.h"
#include "platform/TextEncoding.h"

struct BigCatalogue {
    static constexpr std::int32_t kEntries = 99999;
    std::filesystem::path folder;

    BigCatalogue() {
        static const char* const kWords[] = {"amor", "café", "coração", "saudade", "mar", "lua", "canção",
                                             "são", "joão", "noite", "estrela", "rio", "sertão", "flor",
                                             "vida", "paixão", "samba", "maré", "sol", "águas"};
        constexpr int kWordCount = static_cast<int>(std::size(kWords));
        std::string pattern = (std::filesystem::temp_directory_path() / "vozaro-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        vozaro::catalogue::setProgramFolder(folder);
        if (!AbrirAlbum())
            std::abort();
        for (std::int32_t i = 0; i < kEntries; ++i) {
            const std::int64_t a = std::int64_t{i} * 7919, b = std::int64_t{i} * 104729;
            std::string performer = std::string("Banda ") + kWords[a % kWordCount] + " " + std::to_string(a % 977);
            std::string title = std::string(kWords[b % kWordCount]) + " de " + kWords[(b / 7) % kWordCount] + " " +
                                kWords[(a / 3) % kWordCount] + " " + std::to_string(b % 99991);
            RegistroAtual = TRegistroAlbum{*vozaro::platform::utf8ToWindows1252(performer),
                                           *vozaro::platform::utf8ToWindows1252(title),
                                           "musica" + std::to_string(i + 1) + ".kar", i + 1};
            GravarRegistro(i);
        }
        FecharAlbum();
    }
    ~BigCatalogue() { std::filesystem::remove_all(folder); }
    std::filesystem::path album() const { return folder / "vozaro.alb"; }
};
