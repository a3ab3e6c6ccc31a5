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
class QLineEdit;
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
    QLabel* lProcurar;
    QLineEdit* eProcurar;   // filters the list as the host types; Escape clears it
    QListView* lbMusicas;
    SongListModel Musicas;  // every line of the catalogue
    SongFilterModel Filtro{Musicas};  // the lines lbMusicas shows
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

    // The row of Musicas selected in the list, or -1.
    int selectedRow() const;
    // Selects the line of Musicas' row `row`, clearing the search when it
    // hides that line.
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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    // Adds the chosen files in order, each with the song-data dialog until
    // the host checks its box for the remaining ones.
    void addSongFiles(const QStringList& paths);
    enum class AddResult { Added, Refused, CatalogueClosed };
    // Adds one file through the song-data dialog, which shows its check box
    // when `othersWait`; *useFileNames tells whether it was checked with OK.
    AddResult addSongFile(const QString& path, bool othersWait, bool* useFileNames);
    // Adds files under the names taken from them, without the dialog, and
    // says in one message how many were added (`added` so far) and why each
    // refused file was refused.
    void addRemainingFiles(const QStringList& paths, int added);
    // Reads the catalogue into the print list and prints it on Printer;
    // throws on any failure.
    void printList(PrintOrder order, class TformStatus& status);
};

// The window of the running program (null while there is none).
extern TformAlbum* formAlbum;
