#include "catalogue/SongList.h"

#include <algorithm>

#include "catalogue/vozaro_colecao.h"
#include "platform/TextEncoding.h"

namespace {

QString fromAlbum(const std::string& text) {
    return QString::fromStdString(vozaro::platform::windows1252ToUtf8(text));
}

bool lineBefore(const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; }

}  // namespace

QString songLine(const TRegistroAlbum& entry) {
    return QString::asprintf("%5.5d - ", entry.Numero) + fromAlbum(entry.Interprete) +
           QStringLiteral(" - ") + fromAlbum(entry.Musica);
}

int SongListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant SongListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    return line(index.row());
}

void SongListModel::reset(const std::vector<TRegistroAlbum>& entries) {
    beginResetModel();
    lines_.clear();
    lines_.reserve(entries.size());
    for (const TRegistroAlbum& entry : entries)
        lines_.push_back(songLine(entry));
    // Songs are mostly appended with rising numbers: nearly sorted already.
    std::stable_sort(lines_.begin(), lines_.end(), lineBefore);
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
    text = text.left(5) + QStringLiteral(" - ") + fromAlbum(entry.Interprete) + QStringLiteral(" - ") +
           fromAlbum(entry.Musica);
    emit dataChanged(index(row), index(row));
}

int32_t SongListModel::numberAt(int row) const { return line(row).left(5).trimmed().toInt(); }
