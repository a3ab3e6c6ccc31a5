// The invitation to request songs by phone, drawn on the stage while no song
// plays: a QR code of the page's address with its access code, the line
// "Peça sua música pelo celular" and the address and code in text.  Without
// a network address only a line saying so is drawn, and no code.
//
// It keeps to the left of the stage between the logo and the lyric area, so
// it covers neither the logo, the lyric lines, the centred title and score
// nor the panels (top right), and it is erased from the clean background.
//
// thread: user-interface thread only.
#pragma once

#include <QRect>
#include <QString>

class KaraokeStage;

namespace vozaro::stage {

// The area the invitation may take on a stage of that size (with its logo,
// bar and level bar).
QRect phoneInviteArea(KaraokeStage& stage);

// Draws the invitation; the rectangle drawn (empty when nothing fitted).
// An empty `address` means there is no network.
QRect drawPhoneInvite(KaraokeStage& stage, const QString& address, int port, const QString& code);

}  // namespace vozaro::stage
