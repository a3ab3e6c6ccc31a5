#include "catalogue/SongList.h"

#include <algorithm>

#include "stores/vozaro_colecao.h"
#include "platform/TextEncoding.h"

namespace {

bool lineBefore(const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; }

// The number the line starts with when it is a plain five-digit number, else -1.
int leadingNumber(const QString& line) {
    int value = 0;
    for (int i = 0; i < 5; ++i) {
        if (i >= line.size() || line[i] < u'0' || line[i] > u'9')
            return -1;
        value = value * 10 + (line[i].unicode() - u'0');
    }
    return value;
}

void appendAlbumText(QString& out, std::string_view text) {
    const qsizetype start = out.size();
    out.resize(start + static_cast<qsizetype>(text.size()));
    QChar* chars = out.data() + start;
    for (char c : text)
        *chars++ = QChar(vozaro::platform::windows1252Char(static_cast<unsigned char>(c)));
}

// The key of a line "NNNNN - performer - title": folded, its " - "
// separators made single spaces, as songKey makes it from the fields.
std::string lineKey(const QString& line) {
    std::string key = vozaro::catalogue::searchKey(line);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key.compare(i, 3, " - ") == 0)
            i += 2;
        key[kept++] = key[i];
    }
    key.resize(kept);
    return key;
}

}  // namespace

QString albumText(std::string_view text) {
    QString result;
    result.reserve(static_cast<qsizetype>(text.size()));
    appendAlbumText(result, text);
    return result;
}

QString songLine(int32_t numero, std::string_view interprete, std::string_view musica) {
    QString line;
    if (numero >= 0 && numero <= 99999) {
        char digits[] = "00000 - ";
        for (int i = 4, n = numero; i >= 0; --i, n /= 10)
            digits[i] = static_cast<char>('0' + n % 10);
        line = QLatin1StringView(digits);
    } else {
        line = QString::asprintf("%5.5d - ", numero);
    }
    line.reserve(line.size() + static_cast<qsizetype>(interprete.size() + musica.size()) + 3);
    appendAlbumText(line, interprete);
    line.append(QLatin1StringView(" - "));
    appendAlbumText(line, musica);
    return line;
}

QString songLine(const TRegistroAlbum& entry) { return songLine(entry.Numero, entry.Interprete, entry.Musica); }

int SongListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant SongListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    return line(index.row());
}

void SongListModel::reset(std::vector<QString> lines) {
    beginResetModel();
    lines_ = std::move(lines);
    // Lines that start with different five-digit numbers are in number order;
    // only lines with the same number (or none) need their text compared.
    std::vector<std::pair<int, size_t>> keys(lines_.size());
    for (size_t i = 0; i < lines_.size(); ++i)
        keys[i] = {leadingNumber(lines_[i]), i};
    std::stable_sort(keys.begin(), keys.end(), [this](const auto& a, const auto& b) {
        if (a.first != b.first && a.first >= 0 && b.first >= 0)
            return a.first < b.first;
        return lineBefore(lines_[a.second], lines_[b.second]);
    });
    std::vector<QString> sorted;
    sorted.reserve(lines_.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(lines_[key.second]));
    lines_ = std::move(sorted);
    keys_.clear();
    keys_.reserve(lines_.size());
    for (const QString& line : lines_)
        keys_.push_back(lineKey(line));
    endResetModel();
}

int SongListModel::add(const TRegistroAlbum& entry) {
    QString text = songLine(entry);
    auto place = std::upper_bound(lines_.begin(), lines_.end(), text, lineBefore);
    const int row = static_cast<int>(place - lines_.begin());
    beginInsertRows({}, row, row);
    keys_.insert(keys_.begin() + row, lineKey(text));
    lines_.insert(place, std::move(text));
    endInsertRows();
    return row;
}

void SongListModel::remove(int row) {
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows({}, row, row);
    lines_.erase(lines_.begin() + row);
    keys_.erase(keys_.begin() + row);
    endRemoveRows();
}

void SongListModel::replace(int row, const TRegistroAlbum& entry) {
    if (row < 0 || row >= rowCount())
        return;
    QString& text = lines_[static_cast<size_t>(row)];
    text = text.left(5) + songLine(0, entry.Interprete, entry.Musica).mid(5);
    keys_[static_cast<size_t>(row)] = lineKey(text);
    emit dataChanged(index(row), index(row));
}

int32_t SongListModel::numberAt(int row) const { return line(row).left(5).trimmed().toInt(); }

SongFilterModel::SongFilterModel(SongListModel& source, QObject* parent)
    : QAbstractListModel(parent), source_(source) {
    // Without a search every line is shown as it is, and a change is passed
    // on as such, so that the view keeps its selection and place; with one,
    // the lines found are worked out again.
    connect(&source_, &QAbstractItemModel::modelReset, this, &SongFilterModel::refresh);
    connect(&source_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex&, int first, int last) {
        if (search_.findsEverySong())
            beginInsertRows({}, first, last);
    });
    connect(&source_, &QAbstractItemModel::rowsInserted, this, [this] {
        search_.findsEverySong() ? endInsertRows() : refresh();
    });
    connect(&source_, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex&, int first, int last) {
        if (search_.findsEverySong())
            beginRemoveRows({}, first, last);
    });
    connect(&source_, &QAbstractItemModel::rowsRemoved, this, [this] {
        search_.findsEverySong() ? endRemoveRows() : refresh();
    });
    connect(&source_, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& first, const QModelIndex& last) {
        if (search_.findsEverySong())
            emit dataChanged(index(first.row()), index(last.row()));
        else
            refresh();
    });
}

int SongFilterModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return search_.findsEverySong() ? source_.rowCount() : static_cast<int>(rows_.size());
}

QVariant SongFilterModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const int row = sourceRow(index.row());
    return row < 0 ? QVariant() : QVariant(source_.line(row));
}

void SongFilterModel::setFilter(const QString& text) {
    vozaro::catalogue::SongSearch search(text);
    if (search == search_)
        return;
    search_ = std::move(search);
    refresh();
}

int SongFilterModel::sourceRow(int row) const {
    if (row < 0 || row >= rowCount())
        return -1;
    return search_.findsEverySong() ? row : rows_[static_cast<size_t>(row)];
}

int SongFilterModel::rowOf(int sourceRow) const {
    if (sourceRow < 0 || sourceRow >= source_.rowCount())
        return -1;
    if (search_.findsEverySong())
        return sourceRow;
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), sourceRow);
    return it != rows_.end() && *it == sourceRow ? static_cast<int>(it - rows_.begin()) : -1;
}

void SongFilterModel::refresh() {
    beginResetModel();
    rows_.clear();
    if (!search_.findsEverySong()) {
        const int count = source_.rowCount();
        for (int row = 0; row < count; ++row)
            if (search_.finds(source_.key(row)))
                rows_.push_back(row);
    }
    endResetModel();
}
