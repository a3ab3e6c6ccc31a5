// The printed song list guests choose from: a ruled three-column table of
// number, title and performer / category, sorted by title or by performer,
// with a page title on every page.
//
// Page geometry, in device units of the paint device (a printer, a PDF file,
// a recording device in tests), with "Times New Roman" text:
//   h   height of "ÁÇÕ" at 10 points        L = round(h × 1.2)   d = (L − h) / 2
//   R   rows per page = page height / L − 3  P = pages for the data lines
//   x0  round(page width × 0.07)             x1 = x0 + round(width of bold "Número" × 1.2)
//   x3  page width                           x2 = x1 + (x3 − x1) / 2
// Rounding is to the nearest whole number, halves to the even neighbour.
//
// thread: user-interface thread only.
#pragma once

#include <QString>
#include <functional>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

class QPaintDevice;
class QPainter;
struct TRegistroAlbum;

enum class PrintOrder { ByTitle, ByPerformer };

// One row of the table.  The parts stay separate fields, so that no text in
// a title or a performer can shift the columns.
struct PrintLine {
    QString first;   // title by title, performer by performer
    QString second;  // the other one
    QString number;  // "%5.5d", or "Número" in the header
};

// The print list of one job: the header line, then the data lines sorted
// field by field (first, second, number) with a Portuguese collator, without
// regard to case and with accents ordered as Portuguese orders them.
class PrintList {
public:
    explicit PrintList(PrintOrder order) : order_(order) {}
    void add(int32_t numero, std::string_view interprete, std::string_view musica);
    void add(const TRegistroAlbum& entry);
    // Sorts the data lines and puts the header line in front.
    void finish();

    PrintOrder order() const { return order_; }
    const std::vector<PrintLine>& lines() const { return lines_; }
    int dataLines() const { return static_cast<int>(lines_.size()) - (finished_ ? 1 : 0); }

private:
    PrintOrder order_;
    std::vector<PrintLine> lines_;
    bool finished_ = false;
};

// A page that has no room for a single data row.
class NoRoomOnPage : public std::runtime_error {
public:
    NoRoomOnPage() : std::runtime_error("no room for a data row on the page") {}
};

struct PageGeometry {
    int h = 0, L = 0, d = 0;
    int rows = 0;   // R
    int pages = 0;  // P
    int x0 = 0, x1 = 0, x2 = 0, x3 = 0;
};

// The geometry for `dataLines` lines on `device`; throws NoRoomOnPage when R
// would be 0 or less.
PageGeometry pageGeometry(const QPaintDevice& device, int dataLines);

// Prints a finished list with a painter already begun on its device.
// `beforePage` runs before each page (1-based page number: progress);
// `newPage` starts the next page and returns false when it failed.
void printSongList(QPainter& painter, const PageGeometry& geometry, const PrintList& list,
                   const std::function<void(int page)>& beforePage,
                   const std::function<bool()>& newPage);
