#include "catalogue/vozaro_album.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPrintDialog>
#include <QPushButton>
#include <memory>
#include <optional>

#include "stores/SongImport.h"
#include "stores/vozaro_colecao.h"
#include "catalogue/vozaro_editsong.h"
#include "catalogue/vozaro_order.h"
#include "controls/vozaro_status.h"
#include "controls/PictureButton.h"
#include "controls/ScreenGeometry.h"
#include "controls/WindowLook.h"
#include "platform/MessageBox.h"
#include "platform/ui/UiModal.h"

using vozaro::platform::execModal;
using vozaro::platform::MessageButtons;
using vozaro::platform::MessageIcon;
using vozaro::platform::MessageResult;
using vozaro::platform::showMessage;

TformAlbum* formAlbum = nullptr;

namespace {

constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 25;
// Adding more files than this under their own names shows the status window.
constexpr int kFilesWithoutStatus = 20;

// A catalogue that cannot be opened ends the program (its message has been
// shown), unless the failure passes: the host has been asked to try again.
bool openAlbum() {
    switch (vozaro::catalogue::openAlbumDuringEvening()) {
    case vozaro::catalogue::AlbumOpening::Opened: return true;
    case vozaro::catalogue::AlbumOpening::NotNow: return false;
    case vozaro::catalogue::AlbumOpening::Failed: break;
    }
    QCoreApplication::exit(1);
    return false;
}

// Closes the catalogue when a handler leaves, however it leaves.
struct AlbumClosed {
    ~AlbumClosed() { FecharAlbum(); }
};

}  // namespace

TformAlbum::TformAlbum(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      Printer(QPrinter::HighResolution) {
    formAlbum = this;
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(348, 344);
    paintBlack(*this);
    setFont(arialPixels(11));  // "MS Sans Serif" is a Windows bitmap font

    lTitulo = whiteLabel(this, QStringLiteral("Coleção de Músicas"), arialPixels(11, true),
                         Qt::AlignLeft | Qt::AlignTop);
    lTitulo->setWordWrap(false);
    lTitulo->move(8, 6);
    lTitulo->adjustSize();

    // The search field takes the top of the list's place.
    lProcurar = whiteLabel(this, QStringLiteral("Procurar:"), arialPixels(11), Qt::AlignLeft | Qt::AlignVCenter);
    lProcurar->setWordWrap(false);
    lProcurar->setGeometry(8, 22, 52, 21);
    eProcurar = new QLineEdit(this);
    eProcurar->setGeometry(62, 22, 275, 21);
    eProcurar->installEventFilter(this);
    connect(eProcurar, &QLineEdit::textChanged, this, [this](const QString& text) { Filtro.setFilter(text); });

    lbMusicas = new QListView(this);
    lbMusicas->setGeometry(8, 47, 329, 232);
    lbMusicas->setModel(&Filtro);
    lbMusicas->setUniformItemSizes(true);  // 99,999 lines without measuring each
    lbMusicas->setSelectionMode(QAbstractItemView::SingleSelection);
    lbMusicas->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto button = [this](const QString& text, int left, int top, void (TformAlbum::*handler)()) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(left, top, kButtonWidth, kButtonHeight);
        b->setCursor(handCursor());
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    bIncluir = button(QStringLiteral("Adicionar Música"), 8, 284, &TformAlbum::bIncluirClick);
    bDados = button(QStringLiteral("Dados da Música"), 119, 284, &TformAlbum::bDadosClick);
    bPlay = button(QStringLiteral("Tocar Agora"), 230, 284, &TformAlbum::bPlayClick);
    bExcluir = button(QStringLiteral("Excluir Música"), 8, 312, &TformAlbum::bExcluirClick);
    bImprimir = button(QStringLiteral("Imprimir Lista"), 119, 312, &TformAlbum::bImprimirClick);
    bFechar = button(QStringLiteral("Fechar Coleção"), 230, 312, &TformAlbum::bFecharClick);
    setTabOrder(lbMusicas, bIncluir);
    setTabOrder(bIncluir, bExcluir);
    setTabOrder(bExcluir, bDados);
    setTabOrder(bDados, bImprimir);
    setTabOrder(bImprimir, bPlay);
    setTabOrder(bPlay, bFechar);
    setTabOrder(bFechar, eProcurar);

    FormCreate();
}

TformAlbum::~TformAlbum() {
    if (formAlbum == this)
        formAlbum = nullptr;
}

void TformAlbum::FormCreate() {
    setWindowTitle(QCoreApplication::applicationName());
    if (!openAlbum())
        return;
    AlbumClosed closed;
    std::vector<QString> lines;
    try {
        lines.reserve(static_cast<size_t>(ContarMusicas()));
        vozaro::catalogue::forEachEntry([&lines](const vozaro::catalogue::EntryView& entry) {
            lines.push_back(songLine(entry.Numero, entry.Interprete, entry.Musica));
            return true;
        });
    } catch (const vozaro::catalogue::CatalogueError&) {
        // The list shows what could be read.
    }
    Musicas.reset(std::move(lines));
}

void TformAlbum::showEvent(QShowEvent* event) {
    centreOnScreen(*this);
    QDialog::showEvent(event);
    FormShow();
}

bool TformAlbum::eventFilter(QObject* watched, QEvent* event) {
    // Escape in a search field with text clears it; in an empty one it
    // closes the window as anywhere else.
    if (watched == eProcurar && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !eProcurar->text().isEmpty()) {
        eProcurar->clear();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TformAlbum::FormShow() {
    lbMusicas->setFocus();
    if (stage.stopPlayer)
        stage.stopPlayer();
}

int TformAlbum::selectedRow() const {
    const QModelIndexList rows = lbMusicas->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : Filtro.sourceRow(rows.first().row());
}

void TformAlbum::selectRow(int row) {
    if (row >= 0 && Filtro.rowOf(row) < 0)
        eProcurar->clear();
    const QModelIndex index = Filtro.index(Filtro.rowOf(row));
    lbMusicas->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    lbMusicas->scrollTo(index);
}

void TformAlbum::bIncluirClick() {
    if (!OpenDialog) {
        OpenDialog = new QFileDialog(this, QStringLiteral("Incluir Músicas no Álbum"));
        OpenDialog->setNameFilter(QStringLiteral("MIDI Karaoke (*.kar *.mid)"));
        OpenDialog->setDefaultSuffix(QStringLiteral("kar"));
        OpenDialog->setFileMode(QFileDialog::ExistingFiles);
        OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
        OpenDialog->setSizeGripEnabled(true);
    }
    if (execModal(*OpenDialog) != QDialog::Accepted)
        return;
    addSongFiles(OpenDialog->selectedFiles());
}

void TformAlbum::addSongFiles(const QStringList& paths) {
    bool useFileNames = false;
    int added = 0;
    qsizetype next = 0;
    while (next < paths.size() && !useFileNames) {
        const bool othersWait = next + 1 < paths.size();
        bool confirmedWithBox = false;
        const AddResult result = addSongFile(paths[next++], othersWait, &confirmedWithBox);
        if (result == AddResult::CatalogueClosed)
            return;
        added += result == AddResult::Added;
        useFileNames = confirmedWithBox;
    }
    if (useFileNames)
        addRemainingFiles(paths.mid(next), added);
}

TformAlbum::AddResult TformAlbum::addSongFile(const QString& path, bool othersWait, bool* useFileNames) {
    const auto writing = vozaro::catalogue::lockForWriting();
    if (!writing)
        return AddResult::CatalogueClosed;
    if (!openAlbum())
        return AddResult::CatalogueClosed;
    AlbumClosed closed;
    vozaro::catalogue::AddSongHooks hooks;
    hooks.isKaraoke = stage.isKaraoke;
    hooks.releaseStage = stage.releaseCheckedSong;
    hooks.confirmSongData = [othersWait, useFileNames] {
        if (!formMusica)
            return false;
        formMusica->fillFrom(RegistroAtual);
        formMusica->showOthersBox(othersWait);
        const bool confirmed = execModal(*formMusica) == QDialog::Accepted;
        *useFileNames = confirmed && othersWait && formMusica->cbDemais->isChecked();
        formMusica->showOthersBox(false);
        return confirmed;
    };
    if (!IncluirMusica(std::filesystem::path(path.toStdString()), hooks))
        return AddResult::Refused;
    selectRow(Musicas.add(RegistroAtual));
    return AddResult::Added;
}

void TformAlbum::addRemainingFiles(const QStringList& paths, int added) {
    // One writing operation for all of them: the album's names are read once.
    std::vector<std::pair<QString, std::string>> refused;  // file name, reason
    {
        const auto writing = vozaro::catalogue::lockForWriting();
        if (!writing || !openAlbum())
            return;
        AlbumClosed closed;
        std::unique_ptr<TformStatus> status;
        std::optional<StatusProgress> repaint;
        if (paths.size() > kFilesWithoutStatus) {
            status = std::make_unique<TformStatus>();
            status->lStatus->setText(QStringLiteral("Aguarde. Adicionando músicas..."));
            status->Progress->setMaximum(static_cast<int>(paths.size()));
            status->Progress->setValue(0);
            status->show();
            QCoreApplication::processEvents();
            repaint.emplace(*status);
        }
        vozaro::catalogue::AddSongHooks hooks;
        hooks.isKaraoke = stage.isKaraoke;
        hooks.releaseStage = stage.releaseCheckedSong;
        std::optional<vozaro::catalogue::SongBatch> batch;
        try {
            batch.emplace();
        } catch (const vozaro::catalogue::CatalogueError&) {
            showMessage("Não foi possível ler o álbum de músicas.", MessageIcon::Error);
            return;
        }
        int lastAdded = -1;
        for (qsizetype k = 0; k < paths.size(); ++k) {
            const std::filesystem::path file(paths[k].toStdString());
            const vozaro::catalogue::AddOutcome outcome = batch->add(file, hooks);
            if (outcome.added) {
                ++added;
                lastAdded = static_cast<int>(RegistroAtual.Numero);
                Musicas.add(RegistroAtual);
            } else {
                refused.emplace_back(QString::fromStdString(file.filename().string()), outcome.message);
            }
            if (repaint)
                repaint->step(static_cast<int>(k + 1));
        }
        if (lastAdded > 0)
            for (int row = 0; row < Musicas.rowCount(); ++row)
                if (Musicas.numberAt(row) == lastAdded) {
                    selectRow(row);
                    break;
                }
    }
    if (refused.empty())
        return;
    std::string message = std::to_string(added) + (added == 1 ? " música adicionada." : " músicas adicionadas.") +
                          "\n\nNão adicionadas:";
    for (const auto& [name, reason] : refused)
        message += "\n" + name.toStdString() + ": " + reason;
    showMessage(message, MessageIcon::Error);
}

void TformAlbum::bExcluirClick() {
    const int row = selectedRow();
    if (row < 0)
        return;
    if (showMessage("Deseja realmente excluir esta música?", MessageIcon::Question,
                    MessageButtons::YesNo) != MessageResult::Yes)
        return;
    const auto writing = vozaro::catalogue::lockForWriting();
    if (!writing)
        return;
    if (!openAlbum())
        return;
    AlbumClosed closed;
    if (ExcluirMusica(Musicas.numberAt(row)))
        Musicas.remove(row);
    else if (const auto failure = vozaro::catalogue::lastRewriteFailure())
        showMessage(vozaro::catalogue::rewriteFailureMessage("A música não foi excluída.", *failure),
                    MessageIcon::Error);
}

void TformAlbum::bDadosClick() {
    const int row = selectedRow();
    if (row < 0 || !formMusica)
        return;
    int32_t position = -1;
    {
        if (!openAlbum())
            return;
        AlbumClosed closed;
        try {
            position = LocalizarMusica(Musicas.numberAt(row));
        } catch (const vozaro::catalogue::CatalogueError&) {
            position = -1;
        }
    }
    if (position < 0) {
        showMessage("Música não localizada. Reinstale o programa e tente novamente.", MessageIcon::Error);
        return;
    }
    // The files stay closed while the dialog is open.
    formMusica->fillFrom(RegistroAtual);
    if (execModal(*formMusica) != QDialog::Accepted)
        return;
    const auto writing = vozaro::catalogue::lockForWriting();
    if (!writing)
        return;
    if (!openAlbum())
        return;
    AlbumClosed closed;
    try {
        // Another program may have rewritten the album while the dialog was
        // open: the entry is looked up again under the writer lock.
        const TRegistroAlbum edited = RegistroAtual;
        position = LocalizarMusica(edited.Numero);
        RegistroAtual = edited;
        if (position < 0) {
            showMessage("Música não localizada. Reinstale o programa e tente novamente.", MessageIcon::Error);
            return;
        }
        GravarRegistro(position);
    } catch (const vozaro::catalogue::CatalogueError&) {
        showMessage("Não foi possível gravar os dados da música.", MessageIcon::Error);
        return;
    }
    Musicas.replace(row, RegistroAtual);
    selectRow(row);
}

void TformAlbum::bPlayClick() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const int32_t numero = Musicas.numberAt(row);
    close();  // ends the stage's modal call once this handler returns
    if (stage.playNow)
        stage.playNow(numero);
}

void TformAlbum::bFecharClick() { close(); }

void TformAlbum::bImprimirClick() {
    if (Musicas.rowCount() == 0)
        return;
    std::unique_ptr<TformStatus> status;
    try {
        QPrintDialog dialog(&Printer, this);
        if (execModal(dialog) != QDialog::Accepted)
            return;
        PrintOrder order = PrintOrder::ByTitle;
        if (formOrder) {
            // No cancel: closing the chooser prints as well.
            formOrder->setItemIndex(0);
            execModal(*formOrder);
            order = formOrder->itemIndex() == 0 ? PrintOrder::ByTitle : PrintOrder::ByPerformer;
        }
        // The catalogue cannot change while it is read and printed.
        setEnabled(false);
        status = std::make_unique<TformStatus>();
        printList(order, *status);
    } catch (...) {
        FecharAlbum();
        if (Printer.printerState() == QPrinter::Active)
            Printer.abort();
        showMessage("Não há impressora instalada. Não é possível imprimir.", MessageIcon::Error);
    }
    setEnabled(true);
    if (status)
        status->close();
}

void TformAlbum::printList(PrintOrder order, TformStatus& status) {
    status.lStatus->setText(QStringLiteral("Aguarde. Preparando impressão..."));
    status.Progress->setValue(0);
    // A range of 0..0 would turn the bar into a busy indicator.
    status.Progress->setMaximum(std::max(Musicas.rowCount() - 1, 1));
    PrintList list(order);
    {
        if (!openAlbum())
            throw vozaro::catalogue::CatalogueError(std::make_error_code(std::errc::io_error));
        AlbumClosed closed;
        status.show();
        int read = 0;
        StatusProgress repaint(status);
        vozaro::catalogue::forEachEntry([&](const vozaro::catalogue::EntryView& entry) {
            repaint.step(++read);
            list.add(entry.Numero, entry.Interprete, entry.Musica);
            return true;
        });
        status.Progress->setValue(std::min(read, status.Progress->maximum()));
        QCoreApplication::processEvents();
    }
    list.finish();
    status.hide();
    QCoreApplication::processEvents();
    status.lStatus->setText(QStringLiteral("Aguarde. Imprimindo..."));
    status.Progress->setValue(0);

    // Worked out before the document begins: a page with no room for a row
    // prints nothing at all.
    const PageGeometry geometry = pageGeometry(Printer, list.dataLines());
    Printer.setDocName(QCoreApplication::applicationName());
    QPainter painter;
    if (!painter.begin(&Printer))
        throw std::runtime_error("cannot begin the print document");
    status.Progress->setMaximum(geometry.pages);
    status.show();
    printSongList(
        painter, geometry, list,
        [&status](int page) {
            status.Progress->setValue(page);
            QCoreApplication::processEvents();
        },
        [this] { return Printer.newPage(); });
    if (!painter.end())
        throw std::runtime_error("cannot end the print document");
}
