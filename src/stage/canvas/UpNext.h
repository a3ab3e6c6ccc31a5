// Who sings next: the line "A seguir: <cantor> — <música>" ("A seguir:
// <música>" without a singer) for the first request waiting, drawn on the
// stage picture at the top centre, beside the logo and level with it, in the
// lyrics' outlined letters but smaller.  Being on the stage picture it shows
// on the singers' screen too.  It is erased by copying its area back from
// the clean background, and drawn again when the background is replaced.
//
// The evening's flow says when it is due; this only draws and erases.
//
// thread: user-interface thread only.
#pragma once

#include <QRect>
#include <QString>

#include "karaoke/RequestQueue.h"

class KaraokeStage;

namespace vozaro::stage {

// Who sings a request: its singer's whole name and its song's title
// ("Ana — Garota de Ipanema"; either alone when the other is empty).
QString upNextEntry(const Request& request);
// The line for a request: "A seguir: " and its entry.
QString upNextText(const Request& request);

// The area the line may take on a stage: from the logo's top, no taller
// than the logo, from the logo to the right edge; within it the line is
// centred on the stage, or as near the centre as the logo lets it be.
QRect upNextArea(const KaraokeStage& stage);

class UpNextLine {
public:
    explicit UpNextLine(KaraokeStage& stage) : stage_(stage) {}

    // Shows a line (empty: none); drawn again only when it differs.
    void show(const QString& text);
    void hide() { show(QString()); }
    // The background picture was replaced: the line drawn on the old one is
    // gone and is drawn on the new one.
    void backgroundReplaced();

    const QString& text() const { return text_; }
    // Where it is drawn; empty while nothing is.
    const QRect& rect() const { return drawn_; }

private:
    void draw();

    KaraokeStage& stage_;
    QString text_;
    QRect drawn_;
};

}  // namespace vozaro::stage
