// The lines of the catalogue window: one per catalogue entry,
// "%5.5d - %s - %s" from Numero, Interprete and Musica, kept in the order of
// their text compared without regard to case (the five-digit number in front
// makes that number order).  The song behind a line is found again by the
// number in its first five characters; the list holds nothing else.
//
// A model for a list view, so that a catalogue of 99,999 songs is listed
// without one widget item per song.
//
// thread: user-interface thread only.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "karaoke/SongSearch.h"

struct TRegistroAlbum;

// A text of the album (Windows-1252) as the windows show it.
QString albumText(std::string_view text);

// The line of an entry.
QString songLine(int32_t numero, std::string_view interprete, std::string_view musica);
QString songLine(const TRegistroAlbum& entry);

class SongListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Replaces every line with `lines` (made by songLine) and sorts them.
    void reset(std::vector<QString> lines);
    // Adds the line of an entry in its sorted place; returns its row.
    int add(const TRegistroAlbum& entry);
    void remove(int row);
    // Rewrites a line in place: its first five characters (the number) stay,
    // performer and title come from the entry.
    void replace(int row, const TRegistroAlbum& entry);

    const QString& line(int row) const { return lines_[static_cast<size_t>(row)]; }
    // The line's search key (as songKey makes it).
    const std::string& key(int row) const { return keys_[static_cast<size_t>(row)]; }
    // The integer value of the line's first five characters.
    int32_t numberAt(int row) const;

private:
    std::vector<QString> lines_;
    std::vector<std::string> keys_;  // one per line
};

// The lines of a SongListModel that a search text finds (SongSearch: every
// word, case and accents aside, in the number, the performer or the title).
// An empty text finds every line.  Follows the song list as it changes.
class SongFilterModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit SongFilterModel(SongListModel& source, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void setFilter(const QString& text);
    // The source row shown at `row`, or -1.
    int sourceRow(int row) const;
    // The row showing source row `sourceRow`, or -1 when it is filtered out.
    int rowOf(int sourceRow) const;

private:
    void refresh();

    SongListModel& source_;
    vozaro::catalogue::SongSearch search_;
    std::vector<int> rows_;  // the source rows found, when the search has words
};
