#include "karaoke/SongSearch.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/TextEncoding.h"

namespace vozaro::catalogue {

namespace {

// The folded form of a short text, worked out in full.
std::string foldSlowly(QStringView text) {
    const QString decomposed = text.toString().normalized(QString::NormalizationForm_KD);
    QString bare;
    bare.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            bare.append(c.isSpace() ? QChar(u' ') : c);
    return bare.toCaseFolded().toStdString();
}

// The folded form of every character of the Basic Multilingual Plane but
// the surrogates, one after the other, and where each ends; made once.  A
// character's folding does not depend on its neighbours (the marks it may
// leave are dropped), so a text folds character by character.
struct FoldTable {
    std::string folds;
    std::vector<std::uint32_t> ends;  // 0x10001: the fold of c is [ends[c], ends[c + 1])

    FoldTable() : ends(0x10001) {
        folds.reserve(0x30000);
        for (std::uint32_t c = 0; c < 0x10000; ++c) {
            ends[c] = static_cast<std::uint32_t>(folds.size());
            const QChar ch(static_cast<char16_t>(c));
            if (c < 0x80)
                folds += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : static_cast<char>(c);
            else if (!ch.isSurrogate())
                folds += foldSlowly(QStringView(&ch, 1));
        }
        ends[0x10000] = static_cast<std::uint32_t>(folds.size());
    }
    std::string_view of(char16_t c) const { return std::string_view(folds).substr(ends[c], ends[c + 1] - ends[c]); }
};

const FoldTable& foldTable() {
    static const FoldTable table;
    return table;
}

// The folded form of each Windows-1252 byte.
const std::array<std::string_view, 256>& byteFolds() {
    static const std::array<std::string_view, 256> folds = [] {
        std::array<std::string_view, 256> table;
        for (int b = 0; b < 256; ++b)
            table[static_cast<std::size_t>(b)] = foldTable().of(platform::windows1252Char(static_cast<unsigned char>(b)));
        return table;
    }();
    return folds;
}

void appendFolded(std::string& out, QStringView text) {
    const FoldTable& table = foldTable();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!c.isSurrogate()) {
            out += table.of(c.unicode());
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += foldSlowly(text.mid(i, 2));
            ++i;
        } else {
            out += foldSlowly(text.mid(i, 1));
        }
    }
}

void appendNumber(std::string& out, std::int32_t numero) {
    if (numero >= 0 && numero <= 99999) {
        char digits[5];
        for (int i = 4, n = numero; i >= 0; --i, n /= 10)
            digits[i] = static_cast<char>('0' + n % 10);
        out.append(digits, 5);
    } else {
        char digits[16];
        const int size = std::snprintf(digits, sizeof digits, "%5.5d", numero);
        out.append(digits, static_cast<std::size_t>(size));
    }
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::string searchKey(QStringView text) {
    std::string key;
    key.reserve(static_cast<std::size_t>(text.size()));
    appendFolded(key, text);
    return key;
}

void appendSongKey(std::string& out, std::int32_t numero, std::string_view interprete, std::string_view musica) {
    const auto& folds = byteFolds();
    appendNumber(out, numero);
    out += ' ';
    for (const char c : interprete)
        out += folds[static_cast<unsigned char>(c)];
    out += ' ';
    for (const char c : musica)
        out += folds[static_cast<unsigned char>(c)];
}

std::string songKey(std::int32_t numero, QStringView interprete, QStringView musica) {
    std::string key;
    key.reserve(static_cast<std::size_t>(interprete.size() + musica.size()) + 8);
    appendNumber(key, numero);
    key += ' ';
    appendFolded(key, interprete);
    key += ' ';
    appendFolded(key, musica);
    return key;
}

SongSearch::SongSearch(QStringView query) {
    const std::string folded = searchKey(query);
    for (std::size_t at = 0; at < folded.size();) {
        const auto start = std::find_if_not(folded.begin() + static_cast<std::ptrdiff_t>(at), folded.end(), isBlank);
        const auto end = std::find_if(start, folded.end(), isBlank);
        if (start != end)
            words_.emplace_back(start, end);
        at = static_cast<std::size_t>(end - folded.begin());
    }
}

bool SongSearch::finds(std::string_view key) const {
    return std::all_of(words_.begin(), words_.end(),
                       [key](const std::string& word) { return key.find(word) != std::string_view::npos; });
}

}  // namespace vozaro::catalogue
