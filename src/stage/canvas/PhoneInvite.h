// The invitation to request songs by phone, drawn large on the stage while it
// is idle (no song playing, no score being announced), so that a guest can
// scan it from across the room, on the stage and on the singers' screen
// alike (both show the stage picture): a QR code of the page's address with
// its access code, at least a third of the stage's height, the address and
// the code in text under it and, beside it, the line "Peça sua música pelo
// celular" and who sings next (up to the next three requests).  Without a
// network address only a line saying so is drawn, and no code.
//
// It sits below the logo and the up-next line's place and above the lyric
// lines' bars, centred; the centred title and the score make way for it by
// its being erased first (from the clean background) when a song starts.
//
// thread: user-interface thread only.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

class KaraokeStage;

namespace vozaro::stage {

// The area the invitation may take on a stage of that size (with its logo,
// bar and level bar).
QRect phoneInviteArea(KaraokeStage& stage);

// Where the parts of the invitation go.
struct PhoneInviteLayout {
    QRect code;      // the QR code with its light border; empty without a network
    QRect caption;   // the address and the code, under it
    QRect list;      // "Peça sua música..." and who sings next, beside it
    int points = 0;  // the text's size
    int scale = 0;   // pixels per module of the code
};
// For a code `modules` wide with its border (0: no code).
PhoneInviteLayout phoneInviteLayout(KaraokeStage& stage, int modules);
// The side, in modules with the light border, of the code of a page's
// address (phoneAddress).
int phoneInviteModules(const QString& url);

// Draws the invitation; the rectangle drawn (empty when nothing fitted).
// An empty `address` means there is no network.  `upNext`: the lines of
// the next requests (at most three are shown).
QRect drawPhoneInvite(KaraokeStage& stage, const QString& address, int port, const QString& code,
                      const QStringList& upNext = {});

}  // namespace vozaro::stage
