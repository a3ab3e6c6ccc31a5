#include "stores/SongImport.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>
#include <memory>
#include <thread>
#include <unordered_set>

#include "platform/BinaryFile.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/TextEncoding.h"

namespace fs = std::filesystem;

namespace vozaro::catalogue {

namespace {

std::string lowerAscii(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Messages shown while the catalogue is locked and opened are kept for the
// summary instead (the caller reports them its own way).
class KeptMessages {
public:
    KeptMessages()
        : previous_(platform::setMessageResponder([this](const platform::MessageRequest& request) {
              if (!text.empty())
                  text += ' ';
              text += request.text;
              return platform::MessageResult::Ok;
          })) {}
    ~KeptMessages() { platform::setMessageResponder(std::move(previous_)); }
    KeptMessages(const KeptMessages&) = delete;
    KeptMessages& operator=(const KeptMessages&) = delete;

    std::string text;

private:
    platform::MessageResponder previous_;
};

}  // namespace

bool isSongFileName(const fs::path& file) {
    const std::string extension = lowerAscii(file.extension().string());
    return extension == ".kar" || extension == ".mid" || extension == ".rmi";
}

std::vector<fs::path> findSongFiles(const std::vector<fs::path>& roots, std::vector<ImportRefusal>& unreadable) {
    std::vector<fs::path> files;
    const std::string cannotOpen = "O arquivo não existe ou não pôde ser aberto.";
    for (const fs::path& root : roots) {
        std::error_code error;
        const fs::file_status status = fs::status(root, error);
        if (fs::is_regular_file(status)) {
            files.push_back(root);
            continue;
        }
        if (!fs::is_directory(status)) {
            unreadable.push_back({root, AddRefusal::Unreadable, cannotOpen});
            continue;
        }
        std::vector<fs::path> found;
        fs::recursive_directory_iterator it(root, fs::directory_options::none, error);
        if (error) {
            unreadable.push_back({root, AddRefusal::Unreadable, cannotOpen});
            continue;
        }
        for (const fs::recursive_directory_iterator end; it != end;) {
            const fs::directory_entry& entry = *it;
            std::error_code entryError;
            // A folder named like a song is searched, never taken as one;
            // anything else named like one that is not a regular file (a
            // FIFO, a device, a broken link) is refused, never opened.
            if (entry.is_regular_file(entryError) && isSongFileName(entry.path()))
                found.push_back(entry.path());
            else if (isSongFileName(entry.path()) && !entry.is_directory(entryError))
                unreadable.push_back({entry.path(), AddRefusal::Unreadable, cannotOpen});
            it.increment(error);
            if (error) {
                // A subfolder that cannot be read: said once, then skipped.
                unreadable.push_back({entry.path(), AddRefusal::Unreadable, cannotOpen});
                error.clear();
                if (it != end)
                    it.pop(error);
                if (error)
                    break;
            }
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

int32_t ImportSummary::count(AddRefusal reason) const {
    return static_cast<int32_t>(std::count_if(refused.begin(), refused.end(),
                                              [reason](const ImportRefusal& r) { return r.reason == reason; }));
}

int ImportSummary::exitStatus() const {
    if (catalogueFailed)
        return 2;
    const bool onlyKnown = std::all_of(refused.begin(), refused.end(), [](const ImportRefusal& r) {
        return r.reason == AddRefusal::AlreadyCatalogued;
    });
    return onlyKnown ? 0 : 1;
}

Contents compareContents(const fs::path& file, const fs::path& copy) {
    std::error_code error;
    platform::BinaryFile original(file, platform::BinaryFile::Mode::ReadOnly, error);
    if (error)
        return Contents::Different;
    platform::BinaryFile copied(copy, platform::BinaryFile::Mode::ReadOnly, error);
    if (error || copied.size() > original.size())
        return Contents::Different;
    const bool whole = copied.size() == original.size();
    try {
        std::array<char, 1 << 16> x{}, y{};
        for (uint64_t offset = 0;;) {
            const size_t n = copied.readAt(y.data(), y.size(), offset);
            if (n == 0)
                return whole ? Contents::Same : Contents::TornCopy;
            if (original.readAt(x.data(), n, offset) != n || !std::equal(x.begin(), x.begin() + n, y.begin()))
                return Contents::Different;
            offset += n;
        }
    } catch (const std::system_error&) {
        return Contents::Different;
    }
}

SongBatch::SongBatch(bool simulate) {
    context_.names = &names_;
    context_.used = &used_;
    context_.dryRun = simulate;
    context_.findInSongs = [this](const std::string& name) { return songs_->find(name); };
    context_.leftover = [this](const fs::path& file, const fs::path& inSongs) {
        using Leftover = AddContext::Leftover;
        if (claimed_.count(platform::foldedFileName(inSongs.filename().string())))
            return Leftover::Keep;
        switch (compareContents(file, inSongs)) {
        case Contents::Same: return Leftover::Adopt;
        case Contents::TornCopy: return Leftover::Replace;
        case Contents::Different: break;
        }
        return Leftover::Keep;
    };
    reread();
}

void SongBatch::reread() {
    // The names the album holds.  A name in the songs folder that none of
    // them claims (compared without regard to case) may be a copy left by a
    // stopped import.
    names_.clear();
    claimed_.clear();
    used_.assign(static_cast<size_t>(kMaxSongs) + 1, false);
    forEachEntry([this](const EntryView& entry) {
        if (entry.Numero >= 1 && entry.Numero <= kMaxSongs)
            used_[static_cast<size_t>(entry.Numero)] = true;
        names_.emplace(entry.Arquivo);
        claimed_.insert(platform::foldedFileName(platform::windows1252ToUtf8(std::string(entry.Arquivo))));
        return true;
    });
    // A simulation's songs never reach the album: they are remembered here.
    for (const auto& [arquivo, name] : simulated_) {
        names_.insert(arquivo);
        claimed_.insert(platform::foldedFileName(name));
    }
    songs_ = std::make_unique<platform::FolderNames>(songsFolder());
}

SongBatch::~SongBatch() = default;

AddOutcome SongBatch::add(const fs::path& file, const AddSongHooks& hooks) {
    AddOutcome outcome = addSongFile(file, hooks, &context_);
    if (outcome.added) {
        const std::string name = file.filename().string();
        songs_->add(name);
        claimed_.insert(platform::foldedFileName(name));
        if (context_.dryRun)
            simulated_.emplace_back(RegistroAtual.Arquivo, name);
    }
    return outcome;
}

ImportSummary importSongs(const std::vector<fs::path>& files, const ImportOptions& options) {
    ImportSummary summary;
    AddSongHooks hooks;
    hooks.isKaraoke = options.isKaraoke;
    std::unique_ptr<SongBatch> batch;
    // The writer lock is held a batch at a time, so that the catalogue window
    // (or another writer) gets its turn in between; a batch reads the album's
    // names and numbers again when another writer has changed the album (the
    // count and the free numbers are read for every song anyway).
    // The album as this import left it: when no one else wrote it since,
    // what the batch knows of it still holds and is not read again.
    struct AlbumStamp {
        std::uintmax_t size = 0;
        fs::file_time_type written{};
        bool operator==(const AlbumStamp&) const = default;
    };
    auto stamp = [] {
        std::error_code error;
        const fs::path album = programFolder() / "vozaro.alb";
        return AlbumStamp{fs::file_size(album, error), fs::last_write_time(album, error)};
    };
    AlbumStamp leftAs;
    std::size_t k = 0;
    do {
        if (batch)
            std::this_thread::sleep_for(kImportPause);
        std::optional<CatalogueLock> writing;
        {
            KeptMessages messages;
            writing = lockForWriting(options.wait);
            if (!writing || !AbrirAlbum()) {
                summary.catalogueFailed = true;
                summary.failure = messages.text;
                return summary;
            }
        }
        struct Closed {
            ~Closed() { FecharAlbum(); }
        } closed;
        try {
            if (batch && stamp() != leftAs)
                batch->reread();
            else if (!batch)
                batch = std::make_unique<SongBatch>(options.simulate);
        } catch (const CatalogueError& error) {
            summary.catalogueFailed = true;
            summary.failure = std::string("Não foi possível ler o álbum de músicas: ") + error.what();
            return summary;
        }
        const auto until = std::chrono::steady_clock::now() + options.batch;
        for (; k < files.size() && std::chrono::steady_clock::now() < until; ++k) {
            const AddOutcome outcome = batch->add(files[k], hooks);
            if (outcome.added) {
                ++summary.added;
            } else {
                summary.refused.push_back({files[k], outcome.reason, outcome.message});
                if (outcome.reason == AddRefusal::WriteFailed) {
                    summary.catalogueFailed = true;
                    summary.failure = outcome.message;
                    return summary;
                }
            }
            if (options.progressed)
                options.progressed(k + 1, files.size());
        }
        leftAs = stamp();
    } while (k < files.size());
    return summary;
}

}  // namespace vozaro::catalogue
