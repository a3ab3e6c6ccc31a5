#include <QCheckBox>
#include <QFileDialog>
#include <QTest>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPrintDialog>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>

#include "CatalogueFixture.h"
#include "catalogue/vozaro_album.h"
#include "catalogue/vozaro_editsong.h"
#include "catalogue/vozaro_order.h"
#include "controls/vozaro_status.h"
#include "platform/ui/UiModal.h"
#include "settings/WindowTestSupport.h"

namespace fs = std::filesystem;
using vozaro::platform::MessageResult;
using vozaro::platform::ScopedModalResponder;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// Answers the windows' modal dialogs as a user would.
struct User {
    QStringList files;                    // chosen in the file-open dialog
    std::vector<QString> titles;          // typed as the title, one per song-data dialog
    bool confirmSongData = true;
    int order = 0;                        // chosen in the order chooser
    int orderShown = -1;                  // selected in the chooser as it was shown
    bool closeOrderChooser = false;       // by its close box
    QString pdf;                          // printed to this file; empty: print dialog cancelled
    std::vector<QString> dialogs;         // class names of the dialogs, in order
    int songDialogs = 0;
    int checkOthersAt = -1;               // song-data dialog whose box is checked
    std::vector<bool> othersBoxShown;     // per song-data dialog

    int answer(QDialog& dialog) {
        dialogs.push_back(dialog.metaObject()->className());
        if (auto* open = qobject_cast<QFileDialog*>(&dialog)) {
            if (files.isEmpty())
                return QDialog::Rejected;
            open->setDirectory(QFileInfo(files.first()).absolutePath());
            QStringList quoted;
            for (const QString& f : files)
                quoted << '"' + QFileInfo(f).fileName() + '"';
            open->selectFile(quoted.join(' '));
            return QDialog::Accepted;
        }
        if (auto* song = qobject_cast<TformMusica*>(&dialog)) {
            size_t n = static_cast<size_t>(songDialogs++);
            othersBoxShown.push_back(!song->cbDemais->isHidden());
            if (static_cast<int>(n) == checkOthersAt)
                song->cbDemais->setChecked(true);
            if (!confirmSongData)
                return QDialog::Rejected;
            if (n < titles.size())
                song->eMusica->setText(titles[n]);
            song->bOkClick();
            return song->result();
        }
        if (auto* chooser = qobject_cast<TformOrder*>(&dialog)) {
            orderShown = chooser->itemIndex();
            chooser->setItemIndex(order);
            return closeOrderChooser ? QDialog::Rejected : QDialog::Accepted;
        }
        if (auto* print = qobject_cast<QPrintDialog*>(&dialog)) {
            if (pdf.isEmpty())
                return QDialog::Rejected;
            print->printer()->setOutputFormat(QPrinter::PdfFormat);
            print->printer()->setOutputFileName(pdf);
            return QDialog::Accepted;
        }
        return QDialog::Rejected;
    }
};

class AlbumWindowTest : public CatalogueTest {
protected:
    void SetUp() override {
        testApplication();
        // Qt's file dialog remembers its folder in the user's settings, which
        // are written at exit: into the test application's folder, not into
        // a test's, which is gone by then.
        static const bool settingsPlaced = [] {
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                               QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")));
            return true;
        }();
        (void)settingsPlaced;
        CatalogueTest::SetUp();
        outside = folder / "escolhidas";
        fs::create_directory(outside);
    }
    void TearDown() override {
        album.reset();
        songDialog.reset();
        chooser.reset();
        CatalogueTest::TearDown();
    }

    // Catalogues songs under the given numbers (in this file order).
    void catalogue(const std::vector<TRegistroAlbum>& entries) {
        ASSERT_TRUE(AbrirAlbum());
        for (const TRegistroAlbum& entry : entries) {
            RegistroAtual = entry;
            GravarRegistro(ContarMusicas());
            writeBytes(vozaro::catalogue::songsFolder() / entry.Arquivo, "MThd");
        }
        FecharAlbum();
    }

    void open() {
        songDialog = std::make_unique<TformMusica>();
        chooser = std::make_unique<TformOrder>();
        album = std::make_unique<TformAlbum>();
        album->stage.isKaraoke = [this](const fs::path& path) {
            checked.push_back(path.filename().string());
            return path.extension() != ".mid";
        };
        album->stage.releaseCheckedSong = [this] { ++releases; };
        album->stage.playNow = [this](int32_t numero) { played.push_back(numero); };
        album->stage.stopPlayer = [this] { ++stops; };
    }

    std::vector<QString> lines() const {
        std::vector<QString> result;
        for (int row = 0; row < album->Musicas.rowCount(); ++row)
            result.push_back(album->Musicas.line(row));
        return result;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& m : messages.messages())
            result.push_back(m.text);
        return result;
    }
    fs::path song(const std::string& name) {
        writeBytes(outside / name, "MThd");
        return outside / name;
    }

    fs::path outside;
    std::unique_ptr<TformMusica> songDialog;
    std::unique_ptr<TformOrder> chooser;
    std::unique_ptr<TformAlbum> album;
    User user;
    std::vector<std::string> checked;
    std::vector<int32_t> played;
    int releases = 0, stops = 0;
};

int pdfPages(const QString& pdf) {
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    if (!info.waitForFinished(30000))
        return -1;
    for (const QString& line : QString::fromUtf8(info.readAllStandardOutput()).split('\n'))
        if (line.startsWith(QStringLiteral("Pages:")))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// The texts of the status windows as they are shown, in order.
class StatusTexts : public QObject {
public:
    StatusTexts() { QCoreApplication::instance()->installEventFilter(this); }
    ~StatusTexts() override { QCoreApplication::instance()->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (auto* status = qobject_cast<TformStatus*>(watched); status && event->type() == QEvent::Show)
            shown.push_back(status->lStatus->text());
        return false;
    }
    std::vector<QString> shown;
};

}  // namespace

TEST_F(AlbumWindowTest, LaysOutItsControlsAndListsTheCatalogueInNumberOrder) {
    catalogue({{"Zeca", "Mar", "m.kar", 12}, {"ana", "Sol", "s.kar", 3}, {"Jo\xe3o", "Lua", "l.kar", 100}});
    open();
    EXPECT_EQ(album->windowTitle(), "Vozaro");
    EXPECT_EQ(album->size(), QSize(348, 344));
    // The search field takes the top of the list's place; the list keeps its
    // left, width and bottom.
    EXPECT_EQ(album->lbMusicas->geometry(), QRect(8, 47, 329, 232));
    EXPECT_EQ(album->lProcurar->text(), QStringLiteral("Procurar:"));
    EXPECT_EQ(album->lProcurar->geometry().top(), 22);
    EXPECT_EQ(album->eProcurar->geometry(), QRect(62, 22, 275, 21));
    EXPECT_EQ(album->bFechar->geometry(), QRect(230, 312, 110, 25));
    EXPECT_EQ(album->bPlay->text(), QStringLiteral("Tocar Agora"));
    const std::vector<QWidget*> order = {album->lbMusicas, album->bIncluir, album->bExcluir, album->bDados,
                                         album->bImprimir, album->bPlay, album->bFechar};
    std::vector<QWidget*> tabs = {album->lbMusicas};  // the focus chain, skipping the list's parts
    for (QWidget* w = album->lbMusicas->nextInFocusChain(); w != album->lbMusicas; w = w->nextInFocusChain())
        if (std::find(order.begin(), order.end(), w) != order.end())
            tabs.push_back(w);
    EXPECT_EQ(tabs, order);
    EXPECT_EQ(lines(), (std::vector<QString>{QStringLiteral("00003 - ana - Sol"), QStringLiteral("00012 - Zeca - Mar"),
                                             QStringLiteral("00100 - João - Lua")}));
    album->show();
    EXPECT_EQ(stops, 1);  // showing the window stops the stage's player
    album->close();
}

TEST_F(AlbumWindowTest, WithNothingSelectedTheButtonsForOneSongDoNothing) {
    catalogue({{"A", "B", "a.kar", 1}});
    open();
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    album->bExcluirClick();
    album->bDadosClick();
    album->bPlayClick();
    EXPECT_THAT(texts(), IsEmpty());
    EXPECT_TRUE(user.dialogs.empty());
    EXPECT_TRUE(played.empty());
    EXPECT_EQ(lines().size(), 1u);
}

TEST_F(AlbumWindowTest, AddsChosenFilesEachWithItsDialogAndRefusesTheDuplicate) {
    catalogue({{"Velha", "Conhecida", "Dup.kar", 1}});
    open();
    user.files = {QString::fromStdString(song("Banda_Azul - Minha_Cancao.kar").string()),
                  QString::fromStdString(song("Dup.kar").string()),
                  QString::fromStdString(song("Solo.kar").string())};
    user.titles = {QStringLiteral("  Minha Canção  "), QStringLiteral("Sozinho")};
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    album->bIncluirClick();
    EXPECT_THAT(texts(), ElementsAre("Esta música já está cadastrada."));
    EXPECT_EQ(user.songDialogs, 2);
    EXPECT_THAT(checked, ElementsAre("Banda_Azul - Minha_Cancao.kar", "Dup.kar", "Solo.kar"));
    EXPECT_EQ(releases, 3);
    EXPECT_EQ(lines(), (std::vector<QString>{QStringLiteral("00001 - Velha - Conhecida"),
                                             QStringLiteral("00002 - Banda Azul - Minha Canção"),
                                             QStringLiteral("00003 -  - Sozinho")}));
    EXPECT_EQ(album->selectedRow(), 2);  // the last song added
    ASSERT_TRUE(AbrirAlbum());
    LerRegistro(1);
    EXPECT_EQ(RegistroAtual.Musica, "Minha Can\xe7\xe3o");
    EXPECT_TRUE(fs::exists(vozaro::catalogue::songsFolder() / "Solo.kar"));
}

TEST_F(AlbumWindowTest, APlainMidiFileIsRefusedWithItsNameAndNothingIsCopied) {
    open();
    user.files = {QString::fromStdString(song("abc.mid").string())};
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    album->bIncluirClick();
    EXPECT_THAT(texts(), ElementsAre("abc.mid não é um arquivo de MIDI Karaokê"));
    EXPECT_EQ(releases, 1);
    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(fs::is_empty(vozaro::catalogue::songsFolder()));
}

TEST_F(AlbumWindowTest, RemovingAsksFirst) {
    catalogue({{"A", "Um", "1.kar", 1}, {"B", "Dois", "2.kar", 2}});
    open();
    album->selectRow(0);
    messages.setAnswer(MessageResult::No);
    album->bExcluirClick();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Deseja realmente excluir esta música?");
    EXPECT_EQ(messages.messages()[0].icon, vozaro::platform::MessageIcon::Question);
    EXPECT_EQ(messages.messages()[0].buttons, vozaro::platform::MessageButtons::YesNo);
    EXPECT_EQ(lines().size(), 2u);
    EXPECT_TRUE(fs::exists(vozaro::catalogue::songsFolder() / "1.kar"));

    messages.setAnswer(MessageResult::Yes);
    album->bExcluirClick();
    EXPECT_EQ(lines(), std::vector<QString>{QStringLiteral("00002 - B - Dois")});
    EXPECT_FALSE(fs::exists(vozaro::catalogue::songsFolder() / "1.kar"));
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(ProximoNumero(), 1);
}

TEST_F(AlbumWindowTest, EditingRewritesPerformerAndTitleOnlyAndCancelChangesNothing) {
    catalogue({{"A", "Um", "1.kar", 1}, {"B", "Dois", "2.kar", 7}});
    open();
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    album->selectRow(1);
    const std::string before = readBytes(file("vozaro.alb"));
    user.confirmSongData = false;
    album->bDadosClick();
    EXPECT_EQ(user.songDialogs, 1);
    EXPECT_EQ(songDialog->eMusica->text(), QStringLiteral("Dois"));
    EXPECT_EQ(songDialog->lMusica->text(), QStringLiteral("2.kar"));
    EXPECT_EQ(readBytes(file("vozaro.alb")), before);
    EXPECT_EQ(lines()[1], QStringLiteral("00007 - B - Dois"));

    user.confirmSongData = true;
    user.titles = {QString(), QStringLiteral("\tDuas Vezes ")};
    album->bDadosClick();
    EXPECT_EQ(lines()[1], QStringLiteral("00007 - B - Duas Vezes"));
    ASSERT_TRUE(AbrirAlbum());
    LerRegistro(1);
    EXPECT_EQ(RegistroAtual.Musica, "Duas Vezes");
    EXPECT_EQ(RegistroAtual.Arquivo, "2.kar");
    EXPECT_EQ(RegistroAtual.Numero, 7);
    FecharAlbum();

    // A song gone from the album behind the window's back.
    writeBytes(file("vozaro.alb"), "");
    album->bDadosClick();
    EXPECT_THAT(texts(), ElementsAre("Música não localizada. Reinstale o programa e tente novamente."));
}

TEST_F(AlbumWindowTest, PlayNowHandsTheSelectedNumberToTheStageAndCloses) {
    catalogue({{"A", "Um", "1.kar", 1}, {"B", "Dois", "2.kar", 42}});
    open();
    album->show();
    album->selectRow(1);
    album->bPlayClick();
    EXPECT_THAT(played, ElementsAre(42));
    EXPECT_FALSE(album->isVisible());
}

TEST_F(AlbumWindowTest, PrintsTheListToAPdfFile) {
    std::vector<TRegistroAlbum> entries;
    for (int i = 1; i <= 150; ++i)
        entries.push_back({"Cantor " + std::to_string(i % 7), "M\xfasica " + std::to_string(i),
                           std::to_string(i) + ".kar", i});
    catalogue(entries);
    open();
    user.pdf = QString::fromStdString((folder / "lista.pdf").string());
    user.order = 1;
    user.closeOrderChooser = true;  // still prints
    chooser->setItemIndex(1);        // the chooser opens on "Música" all the same
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    StatusTexts status;
    album->bImprimirClick();
    EXPECT_THAT(texts(), IsEmpty());
    EXPECT_EQ(user.dialogs, (std::vector<QString>{"QPrintDialog", "TformOrder"}));
    EXPECT_EQ(user.orderShown, 0);
    EXPECT_EQ(status.shown, (std::vector<QString>{QStringLiteral("Aguarde. Preparando impressão..."),
                                                  QStringLiteral("Aguarde. Imprimindo...")}));
    for (QWidget* window : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TformStatus*>(window), nullptr) << "the status window is destroyed";
    EXPECT_TRUE(album->isEnabled());
    const PageGeometry g = pageGeometry(album->Printer, 150);
    ASSERT_GT(g.rows, 10);
    EXPECT_EQ(pdfPages(user.pdf), g.pages);
    EXPECT_EQ(g.pages, (150 + g.rows - 1) / g.rows);
    EXPECT_EQ(album->Printer.docName(), QStringLiteral("Vozaro"));
}

TEST_F(AlbumWindowTest, PrintingFailuresShowOneMessageAndLeaveTheWindowUsable) {
    catalogue({{"A", "Um", "1.kar", 1}});
    open();
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    album->bImprimirClick();  // print dialog cancelled
    EXPECT_THAT(texts(), IsEmpty());
    EXPECT_EQ(user.dialogs.size(), 1u);

    user.pdf = QString::fromStdString((folder / "no-such-folder" / "lista.pdf").string());
    album->bImprimirClick();
    EXPECT_THAT(texts(), ElementsAre("Não há impressora instalada. Não é possível imprimir."));
    EXPECT_TRUE(album->isEnabled());

    // A page with no room for a row prints nothing.
    messages.clear();
    user.pdf = QString::fromStdString((folder / "tiny.pdf").string());
    album->Printer.setPageSize(QPageSize(QSizeF(40, 6), QPageSize::Millimeter));
    album->Printer.setPageMargins(QMarginsF(0, 0, 0, 0));
    album->bImprimirClick();
    EXPECT_THAT(texts(), ElementsAre("Não há impressora instalada. Não é possível imprimir."));
    EXPECT_FALSE(fs::exists(folder / "tiny.pdf"));
    EXPECT_TRUE(album->isEnabled());
}

TEST_F(AlbumWindowTest, TheSongDataDialogKeepsTextsTheAlbumCannotHold) {
    TformMusica dialog;
    RegistroAtual = TRegistroAlbum{"Antes", "Antes", "a.kar", 3};
    dialog.fillFrom(RegistroAtual);
    dialog.eMusica->setText(QStringLiteral("カラオケ"));
    dialog.bOkClick();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);  // still open for a change
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(RegistroAtual.Musica, "Antes");

    dialog.eMusica->setText(QStringLiteral("  Coração €  "));
    dialog.bOkClick();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(RegistroAtual.Musica, "Cora\xe7\xe3o \x80");
    EXPECT_EQ(RegistroAtual.Numero, 3);
}

TEST_F(AlbumWindowTest, ManyFilesGoInUnderTheirNamesOnceTheBoxIsChecked) {
    catalogue({{"Velha", "Conhecida", "Dup.kar", 1}});
    open();
    user.files = {QString::fromStdString(song("Primeira.kar").string()),
                  QString::fromStdString(song("Segunda.kar").string())};
    for (int i = 0; i < 22; ++i)
        user.files << QString::fromStdString(song("Banda_" + std::to_string(i) + " - Tema.kar").string());
    user.files << QString::fromStdString(song("Dup.kar").string())
               << QString::fromStdString(song("abc.mid").string());
    user.checkOthersAt = 1;
    user.titles = {QStringLiteral("Um"), QStringLiteral("Dois")};
    StatusTexts status;
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    album->bIncluirClick();
    // Two dialogs, each offering the box; the rest without one.
    EXPECT_EQ(user.songDialogs, 2);
    EXPECT_THAT(user.othersBoxShown, ElementsAre(true, true));
    EXPECT_TRUE(songDialog->cbDemais->isHidden());  // not left for the next use
    EXPECT_THAT(status.shown, ElementsAre(QStringLiteral("Aguarde. Adicionando músicas...")));
    // The refusals in one message at the end, with the count added.
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text,
              "24 músicas adicionadas.\n\nNão adicionadas:\n"
              "Dup.kar: Esta música já está cadastrada.\n"
              "abc.mid: abc.mid não é um arquivo de MIDI Karaokê");
    const std::vector<QString> shown = lines();
    ASSERT_EQ(shown.size(), 25u);
    EXPECT_EQ(shown[1], QStringLiteral("00002 -  - Um"));
    EXPECT_EQ(shown[2], QStringLiteral("00003 -  - Dois"));
    EXPECT_EQ(shown[3], QStringLiteral("00004 - Banda 0 - Tema"));
    EXPECT_EQ(releases, 25);  // a name already catalogued is refused before it is loaded
    EXPECT_EQ(album->Musicas.numberAt(album->selectedRow()), 25);  // the last song added
    ASSERT_TRUE(AbrirAlbum());
    EXPECT_EQ(ContarMusicas(), 25);
    FecharAlbum();
}

TEST_F(AlbumWindowTest, OneFileOrTheBoxLeftUncheckedKeepsOneDialogEach) {
    open();
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    user.files = {QString::fromStdString(song("So.kar").string())};
    album->bIncluirClick();
    EXPECT_THAT(user.othersBoxShown, ElementsAre(false));

    user = User{};
    user.files = {QString::fromStdString(song("A.kar").string()), QString::fromStdString(song("B.kar").string()),
                  QString::fromStdString(song("C.kar").string())};
    StatusTexts status;
    album->bIncluirClick();
    EXPECT_THAT(user.othersBoxShown, ElementsAre(true, true, false));
    EXPECT_THAT(status.shown, IsEmpty());
    EXPECT_THAT(texts(), IsEmpty());
    EXPECT_EQ(lines().size(), 4u);

    // Checked, then cancelled: nothing goes in without its dialog.
    user = User{};
    user.files = {QString::fromStdString(song("D.kar").string()), QString::fromStdString(song("E.kar").string())};
    user.checkOthersAt = 0;
    user.confirmSongData = false;
    album->bIncluirClick();
    EXPECT_EQ(user.songDialogs, 2);
    EXPECT_EQ(lines().size(), 4u);
}

TEST(SongFilter, EveryWordMatchesNumberPerformerOrTitleWithoutCaseOrAccents) {
    SongListModel songs;
    songs.reset({songLine(42, "Jo\xe3o Gilberto", "Chega de Saudade"), songLine(7, "Elis Regina", "\xc1guas de Mar\xe7o"),
                 songLine(1042, "Tom Jobim", "Garota de Ipanema"), songLine(99999, "Banda - Azul", "Mar"),
                 songLine(8, "Orquestra", "Su\xedte n\xba 2\xaa")});
    SongFilterModel filter(songs);
    const struct {
        const char* text;
        std::vector<int32_t> numbers;
    } cases[] = {
        {"", {7, 8, 42, 1042, 99999}},
        {"joao", {42}},
        {"JOÃO gil", {42}},
        {"aguas marco", {7}},
        {"de", {7, 42, 1042}},
        {"42", {42, 1042}},
        {"00042", {42}},
        {"mar", {7, 99999}},
        {"tom saudade", {}},
        {"-", {}},
        {"azul - mar", {}},  // "-" is no part of any field
        {"  ipanema   ", {1042}},
        {"2a", {8}},  // "ª" and "º" are letters written small: the same as on a phone
        {"suite no 2ª", {8}},
    };
    for (const auto& c : cases) {
        filter.setFilter(QString::fromUtf8(c.text));
        std::vector<int32_t> found;
        for (int row = 0; row < filter.rowCount(); ++row) {
            const int source = filter.sourceRow(row);
            EXPECT_EQ(filter.rowOf(source), row) << c.text;
            EXPECT_EQ(filter.data(filter.index(row)).toString(), songs.line(source)) << c.text;
            found.push_back(songs.numberAt(source));
        }
        EXPECT_EQ(found, c.numbers) << c.text;
    }
    // The filter follows the list: a song added, edited or removed.
    filter.setFilter(QStringLiteral("saudade"));
    const int row = songs.add(TRegistroAlbum{"Outro", "Saudade", "s.kar", 5});
    EXPECT_EQ(filter.rowCount(), 2);
    songs.replace(row, TRegistroAlbum{"Outro", "Alegria", "s.kar", 5});
    EXPECT_EQ(filter.rowCount(), 1);
    songs.remove(row);
    filter.setFilter(QString());
    EXPECT_EQ(filter.rowCount(), 5);
    EXPECT_EQ(filter.rowOf(-1), -1);
    EXPECT_EQ(filter.sourceRow(5), -1);
}

TEST_F(AlbumWindowTest, TheSearchFieldFiltersTheListAndTheButtonsActOnTheFoundSong) {
    catalogue({{"Jo\xe3o", "Samba", "1.kar", 1}, {"Maria", "Valsa", "2.kar", 2}, {"Joana", "Fado", "3.kar", 3}});
    open();
    QTest::keyClicks(album->eProcurar, QStringLiteral("joa"));
    EXPECT_EQ(album->lbMusicas->model()->rowCount(), 2);
    QTest::keyClicks(album->eProcurar, QStringLiteral("na"));
    ASSERT_EQ(album->lbMusicas->model()->rowCount(), 1);
    EXPECT_EQ(album->lbMusicas->model()->index(0, 0).data().toString(), QStringLiteral("00003 - Joana - Fado"));
    album->lbMusicas->setCurrentIndex(album->lbMusicas->model()->index(0, 0));
    EXPECT_EQ(album->Musicas.numberAt(album->selectedRow()), 3);
    album->bPlayClick();
    EXPECT_THAT(played, ElementsAre(3));

    // Removing the found song removes that one.
    album->lbMusicas->setCurrentIndex(album->lbMusicas->model()->index(0, 0));
    messages.setAnswer(MessageResult::Yes);
    album->bExcluirClick();
    EXPECT_EQ(lines(), (std::vector<QString>{QStringLiteral("00001 - João - Samba"),
                                             QStringLiteral("00002 - Maria - Valsa")}));
    EXPECT_EQ(album->lbMusicas->model()->rowCount(), 0);

    // Escape clears the search.
    QTest::keyClick(album->eProcurar, Qt::Key_Escape);
    EXPECT_TRUE(album->eProcurar->text().isEmpty());
    EXPECT_EQ(album->lbMusicas->model()->rowCount(), 2);

    // Editing the found song edits that one.
    QTest::keyClicks(album->eProcurar, QStringLiteral("valsa"));
    album->lbMusicas->setCurrentIndex(album->lbMusicas->model()->index(0, 0));
    user.titles = {QStringLiteral("Valsa Nova")};
    ScopedModalResponder answers([this](QDialog& d) { return user.answer(d); });
    album->bDadosClick();
    EXPECT_EQ(lines()[1], QStringLiteral("00002 - Maria - Valsa Nova"));
    EXPECT_EQ(lines()[0], QStringLiteral("00001 - João - Samba"));
}
