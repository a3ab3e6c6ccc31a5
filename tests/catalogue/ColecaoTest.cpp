#include <algorithm>
#include <numeric>
#include <random>
#include <set>

#include "CatalogueFixture.h"

namespace fs = std::filesystem;
using namespace vozaro::catalogue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(CatalogueTest, FirstRunCreatesFoldersAndEmptyFiles) {
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_TRUE(fs::is_directory(folder / "Musicas"));
    EXPECT_TRUE(fs::is_directory(folder / "Imagens"));
    EXPECT_EQ(fs::file_size(file("vozaro.alb")), 0u);
    EXPECT_EQ(fs::file_size(file("vozaro.idx")), 0u);
    EXPECT_EQ(ContarMusicas(), 0);
    EXPECT_EQ(ProximoNumero(), 1);
    EXPECT_FALSE(fs::exists(file("vozaro.idt")));
    EXPECT_THAT(messages.messages(), IsEmpty());
}

TEST_F(CatalogueTest, ExistingLowerCaseFoldersAreUsed) {
    fs::create_directory(folder / "musicas");
    fs::create_directory(folder / "IMAGENS");
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_FALSE(fs::exists(folder / "Musicas"));
    EXPECT_FALSE(fs::exists(folder / "Imagens"));
    EXPECT_EQ(songsFolder(), folder / "musicas");
    EXPECT_EQ(picturesFolder(), folder / "IMAGENS");
    EXPECT_EQ(songFilePath("a.kar"), folder / "musicas" / "a.kar");
}

TEST_F(CatalogueTest, EntryIsWrittenInTheFileLayout) {
    ASSERT_TRUE(AbrirAlbum());
    RegistroAtual = TRegistroAlbum{"Jo\xe3o", std::string(60, 'T'), "can\xe7\xe3o.kar", 0x01020304};
    GravarRegistro(0);
    std::string bytes = readBytes(file("vozaro.alb"));
    ASSERT_EQ(bytes.size(), 364u);
    EXPECT_EQ(bytes[0], 4);
    EXPECT_EQ(bytes.substr(1, 4), "Jo\xe3o");
    EXPECT_EQ(bytes[51], 50);  // a 60-character title keeps its first 50
    EXPECT_EQ(bytes.substr(52, 50), std::string(50, 'T'));
    EXPECT_EQ(static_cast<unsigned char>(bytes[102]), 10u);
    EXPECT_EQ(bytes.substr(103, 10), "can\xe7\xe3o.kar");
    EXPECT_EQ(bytes.substr(360, 4), std::string("\x04\x03\x02\x01", 4));

    RegistroAtual = {};
    LerRegistro(0);
    EXPECT_EQ(RegistroAtual.Interprete, "Jo\xe3o");
    EXPECT_EQ(RegistroAtual.Musica, std::string(50, 'T'));
    EXPECT_EQ(RegistroAtual.Arquivo, "can\xe7\xe3o.kar");
    EXPECT_EQ(RegistroAtual.Numero, 0x01020304);

    RegistroAtual.Musica = "Outra";
    GravarRegistro(0);  // in place, not appended
    EXPECT_EQ(ContarMusicas(), 1);
    EXPECT_THROW(GravarRegistro(2), CatalogueError);
    EXPECT_THROW(LerRegistro(1), CatalogueError);
}

TEST_F(CatalogueTest, FreedNumbersAreReusedMostRecentFirst) {
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(addSong("1.kar"), 1);
    EXPECT_EQ(addSong("2.kar"), 2);
    EXPECT_EQ(addSong("3.kar"), 3);
    ASSERT_TRUE(ExcluirMusica(2));
    EXPECT_THAT(albumNumbers(), ElementsAre(1, 3));
    EXPECT_THAT(indexNumbers(), ElementsAre(2));
    EXPECT_FALSE(fs::exists(songsFolder() / "2.kar"));
    EXPECT_FALSE(fs::exists(file("vozaro.alt")));
    EXPECT_EQ(addSong("2b.kar"), 2);
    EXPECT_EQ(addSong("4.kar"), 4);

    ASSERT_TRUE(ExcluirMusica(2));
    ASSERT_TRUE(ExcluirMusica(3));
    EXPECT_THAT(indexNumbers(), ElementsAre(2, 3));
    EXPECT_EQ(ProximoNumero(), 3);
    EXPECT_EQ(ProximoNumero(), 2);
    EXPECT_EQ(ProximoNumero(), 3);  // two entries, nothing free: count + 1
}

TEST_F(CatalogueTest, RemovingAnUnknownNumberChangesNothing) {
    ASSERT_TRUE(AbrirAlbum());
    addSong("1.kar");
    addSong("2.kar");
    ASSERT_TRUE(ExcluirMusica(1));
    std::string album = readBytes(file("vozaro.alb"));
    EXPECT_FALSE(ExcluirMusica(7));
    EXPECT_EQ(readBytes(file("vozaro.alb")), album);
    EXPECT_THAT(indexNumbers(), ElementsAre(1));
}

TEST_F(CatalogueTest, RemovalDropsEveryEntryWithTheNumber) {
    ASSERT_TRUE(AbrirAlbum());
    for (auto [name, numero] : {std::pair{"a.kar", 5}, {"b.kar", 6}, {"c.kar", 5}}) {
        RegistroAtual = TRegistroAlbum{"", "", name, numero};
        GravarRegistro(ContarMusicas());
        writeBytes(songsFolder() / name, "x");
    }
    fs::rename(songsFolder() / "c.kar", songsFolder() / "C.KAR");  // found whatever its case
    ASSERT_TRUE(ExcluirMusica(5));
    EXPECT_THAT(albumNumbers(), ElementsAre(6));
    EXPECT_THAT(indexNumbers(), ElementsAre(5));
    EXPECT_FALSE(fs::exists(songsFolder() / "a.kar"));
    EXPECT_FALSE(fs::exists(songsFolder() / "C.KAR"));
    EXPECT_TRUE(fs::exists(songsFolder() / "b.kar"));
}

TEST_F(CatalogueTest, LookupFindsTheFirstEntryWithTheNumber) {
    ASSERT_TRUE(AbrirAlbum());
    for (int i = 0; i < 5000; ++i) {  // more than one read chunk
        RegistroAtual = TRegistroAlbum{"", "", std::to_string(i) + ".kar", i + 1};
        GravarRegistro(i);
    }
    EXPECT_EQ(LocalizarMusica(5000), 4999);
    EXPECT_EQ(RegistroAtual.Arquivo, "4999.kar");
    EXPECT_EQ(LocalizarMusica(3), 2);
    EXPECT_EQ(RegistroAtual.Numero, 3);
    TRegistroAlbum next;
    readNextEntry(next);  // reading goes on after the match
    EXPECT_EQ(next.Numero, 4);
    EXPECT_EQ(LocalizarMusica(5001), -1);
    EXPECT_EQ(RegistroAtual.Numero, 3);
    EXPECT_TRUE(atAlbumEnd());
}

TEST_F(CatalogueTest, NumbersStayUniqueThroughManyAddsAndRemovals) {
    ASSERT_TRUE(AbrirAlbum());
    std::mt19937 random(2026);
    int added = 0;
    for (int step = 0; step < 300; ++step) {
        std::vector<int32_t> present = albumNumbers();
        if (present.empty() || random() % 3 != 0) {
            addSong("s" + std::to_string(added++) + ".kar");
        } else {
            int32_t victim = present[random() % present.size()];
            ASSERT_TRUE(ExcluirMusica(victim));
        }
        if (step % 100 == 0 || step == 299) {
            std::vector<int32_t> all = albumNumbers();
            std::vector<int32_t> free = indexNumbers();
            all.insert(all.end(), free.begin(), free.end());
            std::sort(all.begin(), all.end());
            std::vector<int32_t> expected(all.size());
            std::iota(expected.begin(), expected.end(), 1);
            ASSERT_EQ(all, expected) << "after step " << step;
        }
    }
}

TEST_F(CatalogueTest, NumberGivenBackIsTakenAgain) {
    ASSERT_TRUE(AbrirAlbum());
    addSong("1.kar");
    addSong("2.kar");
    ASSERT_TRUE(ExcluirMusica(1));
    int32_t taken = ProximoNumero();
    EXPECT_EQ(taken, 1);
    EXPECT_THAT(indexNumbers(), IsEmpty());
    returnNumber(taken);  // its entry could not be written
    EXPECT_THAT(indexNumbers(), ElementsAre(1));
    returnNumber(0);
    returnNumber(100000);
    EXPECT_THAT(indexNumbers(), ElementsAre(1));
    EXPECT_EQ(addSong("1b.kar"), 1);
    EXPECT_EQ(addSong("3.kar"), 3);
}

TEST_F(CatalogueTest, StartupCheckRemovesEntriesWhoseSongsAreGone) {
    ASSERT_TRUE(AbrirAlbum());
    addSong("um.kar");
    addSong("dois.kar", false);
    addSong("tres.kar");
    fs::rename(songsFolder() / "tres.kar", songsFolder() / "TRES.KAR");  // found whatever its case
    FecharAlbum();

    int32_t started = -1;
    std::vector<int32_t> positions;
    ASSERT_TRUE(removeMissingSongs({[&](int32_t n) { started = n; },
                                    [&](int32_t p) { positions.push_back(p); }}));
    EXPECT_EQ(started, 3);
    EXPECT_THAT(positions, ElementsAre(1, 2, 3));

    ASSERT_TRUE(AbrirAlbum());
    EXPECT_THAT(albumNumbers(), ElementsAre(1, 3));
    EXPECT_EQ(addSong("novo.kar"), 2);
}

TEST_F(CatalogueTest, StartupCheckRemovesLikeOneRemovalPerMissingSong) {
    ASSERT_TRUE(AbrirAlbum());
    for (int i = 1; i <= 6; ++i)
        addSong(std::to_string(i) + ".kar");
    RegistroAtual = TRegistroAlbum{"", "", "dup.kar", 2};  // shares number 2, file present
    GravarRegistro(ContarMusicas());
    writeBytes(songsFolder() / "dup.kar", "x");
    for (const char* gone : {"5.kar", "2.kar", "3.kar"})
        fs::remove(songsFolder() / gone);
    FecharAlbum();

    ASSERT_TRUE(removeMissingSongs());
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_THAT(albumNumbers(), ElementsAre(1, 4, 6));
    EXPECT_THAT(indexNumbers(), ElementsAre(2, 3, 5));  // in the order they were met
    EXPECT_FALSE(fs::exists(songsFolder() / "dup.kar"));  // went with its number
    EXPECT_TRUE(fs::exists(songsFolder() / "4.kar"));
    EXPECT_FALSE(fs::exists(file("vozaro.alt")));
}

TEST_F(CatalogueTest, StartupCheckRestoresTheNumberingAfterACrash) {
    ASSERT_TRUE(AbrirAlbum());
    for (const char* name : {"1.kar", "2.kar", "3.kar", "4.kar"})
        addSong(name);
    ASSERT_TRUE(ExcluirMusica(4));
    ASSERT_TRUE(ExcluirMusica(2));
    ASSERT_THAT(indexNumbers(), ElementsAre(4, 2));
    FecharAlbum();
    ASSERT_TRUE(removeMissingSongs());  // a sound catalogue keeps its index as it is
    EXPECT_THAT(indexNumbers(), ElementsAre(4, 2));

    // Power lost after the album was replaced but before the number was
    // freed: 2 is neither used nor free.
    writeBytes(file("vozaro.idx"), std::string("\x04\0\0\0", 4));
    ASSERT_TRUE(removeMissingSongs());
    EXPECT_THAT(indexNumbers(), ElementsAre(4, 2));

    // Freed but still in the album (and a damaged number beside it): an
    // entry uses 3, so it must never be handed out.
    writeBytes(file("vozaro.idx"), std::string("\x04\0\0\0\x02\0\0\0\x03\0\0\0\xff\xff\xff\xff\x02\0", 18));
    ASSERT_TRUE(removeMissingSongs());
    EXPECT_THAT(indexNumbers(), ElementsAre(4, 2));
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(addSong("a.kar"), 2);
    EXPECT_EQ(addSong("b.kar"), 4);
    EXPECT_EQ(addSong("c.kar"), 5);
}

TEST_F(CatalogueTest, StartupCheckOfAnEmptyCatalogueReportsNothing) {
    bool called = false;
    ASSERT_TRUE(removeMissingSongs({[&](int32_t) { called = true; }, [&](int32_t) { called = true; }}));
    EXPECT_FALSE(called);
    EXPECT_TRUE(fs::exists(file("vozaro.alb")));
}

TEST_F(CatalogueTest, DamagedFileNamesNeverReachFilesOutsideTheSongsFolder) {
    ASSERT_TRUE(AbrirAlbum());
    writeBytes(folder / "precious.txt", "keep");
    fs::create_directory(songsFolder() / "sub");
    for (const char* name : {"../precious.txt", "..", "", "sub", "a\\b"}) {
        RegistroAtual = TRegistroAlbum{"", "", name, ProximoNumero()};
        GravarRegistro(ContarMusicas());
    }
    FecharAlbum();
    ASSERT_TRUE(removeMissingSongs());
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(ContarMusicas(), 0);
    EXPECT_EQ(readBytes(folder / "precious.txt"), "keep");
    EXPECT_TRUE(fs::is_directory(songsFolder() / "sub"));
    EXPECT_EQ(songFilePath("../precious.txt"), std::nullopt);
}

TEST_F(CatalogueTest, DamagedFilesAreReadWithinTheirFields) {
    std::string entry(364, 'x');
    entry[0] = static_cast<char>(200);  // longer than its field
    entry[51] = 3;
    entry[102] = static_cast<char>(255);
    entry.replace(360, 4, std::string("\x07\x00\x00\x00", 4));
    writeBytes(file("vozaro.alb"), entry + entry + std::string(100, 'z'));  // a torn last entry
    writeBytes(file("vozaro.idx"), std::string("\x09\x00\x00\x00\x0b\x00", 6));
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(ContarMusicas(), 2);
    LerRegistro(1);
    EXPECT_EQ(RegistroAtual.Interprete, std::string(50, 'x'));
    EXPECT_EQ(RegistroAtual.Musica, "xxx");
    EXPECT_EQ(RegistroAtual.Arquivo.size(), 255u);
    EXPECT_EQ(RegistroAtual.Numero, 7);
    EXPECT_THROW(LerRegistro(2), CatalogueError);
    EXPECT_EQ(ProximoNumero(), 9);  // the torn index entry is not a number

    RegistroAtual = TRegistroAlbum{"", "", "n.kar", 3};
    GravarRegistro(2);  // the new entry replaces the torn bytes
    EXPECT_EQ(fs::file_size(file("vozaro.alb")), 3u * 364);
}

TEST_F(CatalogueTest, FailedRewriteLeavesTheCatalogueWhole) {
    ASSERT_TRUE(AbrirAlbum());
    for (int i = 0; i < 6; ++i)
        addSong(std::to_string(i) + ".kar");
    ASSERT_TRUE(ExcluirMusica(6));
    std::string album = readBytes(file("vozaro.alb"));
    std::string index = readBytes(file("vozaro.idx"));
    {
        FileSizeLimit limit(364);  // the rewrite file cannot take two entries
        EXPECT_FALSE(ExcluirMusica(2));
    }
    EXPECT_EQ(readBytes(file("vozaro.alb")), album);
    EXPECT_EQ(readBytes(file("vozaro.idx")), index);
    EXPECT_FALSE(fs::exists(file("vozaro.alt")));
    EXPECT_TRUE(fs::exists(songsFolder() / "1.kar"));

    fs::create_directory(file("vozaro.idt"));  // the rewrite file cannot be created
    EXPECT_THROW(ProximoNumero(), CatalogueError);
    EXPECT_EQ(readBytes(file("vozaro.idx")), index);
    fs::remove(file("vozaro.idt"));
    EXPECT_EQ(ProximoNumero(), 6);
    EXPECT_THAT(albumNumbers(), ElementsAre(1, 2, 3, 4, 5));
}

TEST_F(CatalogueTest, OpeningFailuresShowTheirMessage) {
    fs::create_directory(file("vozaro.alb"));
    EXPECT_FALSE(AbrirAlbum());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Não foi possível abrir o álbum de músicas.");
    EXPECT_EQ(messages.messages()[0].icon, vozaro::platform::MessageIcon::Error);

    fs::remove(file("vozaro.alb"));
    fs::create_directory(file("vozaro.idx"));
    messages.clear();
    EXPECT_FALSE(AbrirAlbum());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Não foi possível abrir o índice do álbum de músicas.");

    fs::remove_all(folder / "Musicas");
    writeBytes(folder / "Musicas", "not a folder");
    messages.clear();
    EXPECT_FALSE(AbrirAlbum());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Não foi possível criar pasta de músicas.");
    EXPECT_FALSE(removeMissingSongs());
}

TEST_F(CatalogueTest, CopyNeverOverwritesAndLeavesNoPartialFile) {
    writeBytes(folder / "src.kar", std::string(200000, 's'));
    writeBytes(folder / "dst.kar", "old");
    EXPECT_FALSE(CopiarArquivo(folder / "src.kar", folder / "dst.kar"));
    EXPECT_EQ(readBytes(folder / "dst.kar"), "old");
    EXPECT_EQ(readBytes(folder / "src.kar").size(), 200000u);

    EXPECT_FALSE(CopiarArquivo(folder / "missing.kar", folder / "new.kar"));
    EXPECT_FALSE(fs::exists(folder / "new.kar"));

    EXPECT_TRUE(CopiarArquivo(folder / "src.kar", folder / "new.kar"));
    EXPECT_EQ(readBytes(folder / "new.kar"), readBytes(folder / "src.kar"));

    {
        FileSizeLimit limit(1000);
        EXPECT_FALSE(CopiarArquivo(folder / "src.kar", folder / "cut.kar"));
    }
    EXPECT_FALSE(fs::exists(folder / "cut.kar"));
}

TEST_F(CatalogueTest, FileNamesOutsideWindows1252CannotBeCatalogued) {
    EXPECT_EQ(catalogueFileName("/tmp/Canção Nº 1.kar"), "Can\xe7\xe3o N\xba 1.kar");
    EXPECT_THAT(messages.messages(), IsEmpty());
    EXPECT_EQ(catalogueFileName("/tmp/カラオケ.kar"), std::nullopt);
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text,
              "O nome do arquivo \"カラオケ.kar\" tem caracteres que o álbum de músicas não aceita. "
              "Renomeie o arquivo para incluí-lo.");
    EXPECT_EQ(messages.messages()[0].icon, vozaro::platform::MessageIcon::Error);

    ASSERT_TRUE(AbrirAlbum());  // a catalogued accented name finds its file on disk
    writeBytes(songsFolder() / "CANÇÃO Nº 1.KAR", "x");
    EXPECT_EQ(songFilePath("Can\xe7\xe3o N\xba 1.kar"), songsFolder() / "CANÇÃO Nº 1.KAR");
}
