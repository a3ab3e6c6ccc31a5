#include "catalogue/SongList.h"

#include <algorithm>

#include "catalogue/vozaro_colecao.h"
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
    endResetModel();
}

int SongListModel::add(const TRegistroAlbum& entry) {
    QString text = songLine(entry);
    auto place = std::upper_bound(lines_.begin(), lines_.end(), text, lineBefore);
    const int row = static_cast<int>(place - lines_.begin());
    beginInsertRows({}, row, row);
    lines_.insert(place, std::move(text));
    endInsertRows();
    return row;
}

void SongListModel::remove(int row) {
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows({}, row, row);
    lines_.erase(lines_.begin() + row);
    endRemoveRows();
}

void SongListModel::replace(int row, const TRegistroAlbum& entry) {
    if (row < 0 || row >= rowCount())
        return;
    QString& text = lines_[static_cast<size_t>(row)];
    text = text.left(5) + songLine(0, entry.Interprete, entry.Musica).mid(5);
    emit dataChanged(index(row), index(row));
}

int32_t SongListModel::numberAt(int row) const { return line(row).left(5).trimmed().toInt(); }
