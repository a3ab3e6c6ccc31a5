#!/usr/bin/env bash
# The layer check passes on the project's sources, refuses each kind of
# include a folder without windows or the stage's drawing must not make and
# each header a window folder takes from another, and lets through what each
# may include: the platform its devices, the drawing Qt GUI, windows their own
# folder's windows, the shared controls and the stage's drawing, and anything
# in a link file.
set -uo pipefail
check=$1
src=$2
failures=0

"$check" "$src" >/dev/null || { echo "FAIL: the project's own sources are refused"; failures=1; }

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
cases=(
  "midi/cmpMidiData.h|#include <QWidget>"
  "midi/cmpMidiData.cpp|#include <QtGui/QImage>"
  "audio/AudioIO.cpp|#include <RtAudio.h>"
  "audio/AMixer.cpp|  #  include <alsa/asoundlib.h>"
  "stores/vozaro_colecao.cpp|#include \"stage/vozaro_main.h\""
  "stores/vozaro_uteis.cpp|#include \"settings/vozaro_config.h\""
  "midi/cmpMidiOutput.cpp|#include <fluidsynth.h>"
  "midi/cmpRiffStream.cpp|#include <sndfile.h>"
  "platform/Paths.cpp|#include <alsa/asoundlib.h>"
  "platform/network/HttpHead.cpp|#include <pulse/simple.h>"
  "phone/PhoneApi.cpp|#include <QTcpSocket>"
  "platform/devices/MidiDevices.cpp|#include <QtNetwork/QHostAddress>"
  "audio/AudioIO.h|#include \"controls/Slider.h\""
  "karaoke/Melody.cpp|#include <QPainter>"
  "karaoke/RequestQueue.h|#include \"stage/canvas/UpNext.h\""
  "phone/PhoneApi.cpp|#include <QApplication>"
  "phone/SongIndex.cpp|#include \"platform/ui/UiModal.h\""
  "platform/Paths.cpp|#include <QFont>"
  "stage/canvas/KaraokeStage.cpp|#include \"controls/PictureBox.h\""
  "stage/canvas/UpNext.cpp|#include <QLabel>"
  "stage/canvas/PhoneInvite.cpp|#include \"stage/vozaro_main.h\""
  "settings/vozaro_config.cpp|#include \"catalogue/vozaro_album.h\""
  "stage/EveningFlow.cpp|#include \"settings/vozaro_config.h\""
  "stage/vozaro_main.h|  # include <settings/vozaro_inicio.h>"
  "stage/singers/SingersScreen.cpp|#include \"catalogue/SongList.h\""
  "catalogue/vozaro_album.cpp|#include \"stage/vozaro_main.h\""
  "catalogue/SongList.cpp|#include \"settings/vozaro_creditos.h\""
  "settings/vozaro_inicio.cpp|#include \"stage/singers/SingersView.h\""
)
allowed=(
  "catalogue/CatalogueLinks.cpp|#include \"stage/vozaro_main.h\""
  "stage/StageLinks.cpp|#include \"settings/vozaro_config.h\""
  "catalogue/vozaro_album.cpp|#include \"catalogue/vozaro_editsong.h\""
  "settings/vozaro_config.cpp|#include \"controls/vozaro_status.h\""
  "settings/vozaro_inicio.cpp|#include \"stage/canvas/StageButtons.h\""
  "stage/vozaro_main.cpp|#include \"stage/singers/SingersScreen.h\""
  "stage/canvas/KaraokeStage.cpp|#include <QPainter>"
  "platform/ui/UiModal.cpp|#include <QDialog>"
  "platform/devices/AudioDevice.cpp|#include <alsa/asoundlib.h>"
  "platform/JpegPicture.cpp|#include <jpeglib.h>"
  "platform/network/HttpServiceTcp.cpp|#include <QTcpServer>"
)
# A small tree with the one include of a case.
tree_with() {
  rm -rf "${tree:?}"/*
  mkdir -p "$tree/midi" "$tree/audio" "$tree/$(dirname "$1")"
  printf '#include <cstdint>\n#include "platform/Paths.h"\n' > "$tree/midi/unitMidiGlobals.h"
  printf '#include <QObject>\n' > "$tree/audio/AMixer.h"
  printf '%s\n' "$2" >> "$tree/$1"
}
for case in "${cases[@]}"; do
  tree_with "${case%%|*}" "${case#*|}"
  if "$check" "$tree" >/dev/null 2>&1; then
    echo "FAIL: not refused: $case"; failures=1
  fi
done
for case in "${allowed[@]}"; do
  tree_with "${case%%|*}" "${case#*|}"
  "$check" "$tree" >/dev/null 2>&1 || { echo "FAIL: refused: $case"; failures=1; }
done
# The same tree without the bad include passes.
rm -rf "${tree:?}"/*
mkdir -p "$tree/midi"
printf '#include <QObject>\n#include "platform/PeriodicTimer.h"\n' > "$tree/midi/cmpMidiPlayer.h"
"$check" "$tree" >/dev/null || { echo "FAIL: a clean tree is refused"; failures=1; }

[ $failures -eq 0 ] && echo "layer check: all cases behave"
exit $failures
