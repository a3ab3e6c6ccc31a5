#!/usr/bin/env bash
# The layer check passes on the project's sources and refuses each kind of
# include an engine or store file must not make.
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
)
for case in "${cases[@]}"; do
  file=${case%%|*}
  line=${case#*|}
  rm -rf "${tree:?}"/*
  mkdir -p "$tree/midi" "$tree/audio" "$tree/catalogue" "$tree/settings"
  printf '#include <cstdint>\n#include "platform/Paths.h"\n' > "$tree/midi/unitMidiGlobals.h"
  printf '#include <QObject>\n' > "$tree/audio/AMixer.h"
  printf '%s\n' "$line" >> "$tree/$file"
  if "$check" "$tree" >/dev/null 2>&1; then
    echo "FAIL: not refused: $file: $line"; failures=1
  fi
done
# The same tree without the bad include passes.
rm -rf "${tree:?}"/*
mkdir -p "$tree/midi"
printf '#include <QObject>\n#include "platform/PeriodicTimer.h"\n' > "$tree/midi/cmpMidiPlayer.h"
"$check" "$tree" >/dev/null || { echo "FAIL: a clean tree is refused"; failures=1; }

[ $failures -eq 0 ] && echo "layer check: all cases behave"
exit $failures
