// The catalogue window: the numbered list of every song, adding songs from
// anywhere, removing them, editing their data, playing one at once and
// printing the list guests choose from.
//
// Its list is loaded once, when the window is created, and afterwards kept in
// step by the window's own handlers.  The catalogue files are opened and
// closed around every operation.
//
// thread: user-interface thread only.
#pragma once

#include <QDialog>
#include <QPrinter>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "catalogue/SongList.h"
#include "catalogue/SongListPrint.h"

class QFileDialog;
class QLabel;
class QListView;
class QPushButton;

// What the catalogue window needs of the stage.  The program uses the stage
// window (stageLinkOfProgram()); tests put fakes in.
struct StageLink {
    // Loads a file as the stage loads a song; true when it holds at least one
    // lyric syllable.  May throw the MIDI engine's errors.
    std::function<bool(const std::filesystem::path& file)> isKaraoke;
    // After a karaoke check: the stage stops as after a song, without going
    // on to the next request, and forgets the file it loaded.
    std::function<void()> releaseCheckedSong;
    // Queues the song as a request, moves it to the front and plays it.
    std::function<void(int32_t numero)> playNow;
    // Stops the stage's player.
    std::function<void()> stopPlayer;
};
StageLink stageLinkOfProgram();

class TformAlbum : public QDialog {
    Q_OBJECT
public:
    explicit TformAlbum(QWidget* parent = nullptr);
    ~TformAlbum() override;

    QLabel* lTitulo;
    QListView* lbMusicas;
    SongListModel Musicas;  // the lines of lbMusicas
    QPushButton* bIncluir;
    QPushButton* bDados;
    QPushButton* bPlay;
    QPushButton* bExcluir;
    QPushButton* bImprimir;
    QPushButton* bFechar;
    // Made when first needed: most evenings add no song.
    QFileDialog* OpenDialog = nullptr;
    QPrinter Printer;

    StageLink stage = stageLinkOfProgram();

    // The selected row, or -1.
    int selectedRow() const;
    void selectRow(int row);

public slots:
    void bIncluirClick();
    void bExcluirClick();
    void bDadosClick();
    void bPlayClick();
    void bImprimirClick();
    void bFecharClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    // Adds one file (between AbrirAlbum and FecharAlbum); false when the
    // catalogue could not be opened.
    bool addSongFile(const QString& path);
    // Reads the catalogue into the print list and prints it on Printer;
    // throws on any failure.
    void printList(PrintOrder order, class TformStatus& status);
};

// The window of the running program (null while there is none).
extern TformAlbum* formAlbum;
