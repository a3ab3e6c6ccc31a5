#!/usr/bin/env bash
# The layer check passes on the project's sources, refuses each kind of
# include an engine or store file must not make and each window header a
# window file of another folder includes, and lets through what windows may
# include: their own folder's windows, the shared status window, and anything
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
  "catalogue/vozaro_colecao.cpp|#include \"stage/vozaro_main.h\""
  "settings/vozaro_uteis.cpp|#include \"settings/vozaro_config.h\""
  "midi/cmpMidiOutput.cpp|#include <fluidsynth.h>"
  "midi/cmpRiffStream.cpp|#include <sndfile.h>"
  "audio/AudioIO.h|#include \"controls/Slider.h\""
  "settings/vozaro_config.cpp|#include \"catalogue/vozaro_album.h\""
  "stage/KaraokeStage.cpp|#include \"settings/vozaro_config.h\""
  "stage/vozaro_main.h|  # include <settings/vozaro_inicio.h>"
  "catalogue/vozaro_album.cpp|#include \"stage/vozaro_main.h\""
  "catalogue/SongList.cpp|#include \"settings/vozaro_creditos.h\""
)
allowed=(
  "catalogue/AlbumStageLink.cpp|#include \"stage/vozaro_main.h\""
  "stage/StageLinks.cpp|#include \"settings/vozaro_config.h\""
  "catalogue/vozaro_album.cpp|#include \"catalogue/vozaro_editsong.h\""
  "settings/vozaro_config.cpp|#include \"catalogue/vozaro_status.h\""
  "stage/vozaro_main.cpp|#include \"stage/EveningFlow.h\""
)
# A small tree with the one include of a case.
tree_with() {
  rm -rf "${tree:?}"/*
  mkdir -p "$tree/midi" "$tree/audio" "$tree/catalogue" "$tree/settings" "$tree/stage"
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
