#!/usr/bin/env bash
# Fails when an engine or store file reaches above or beside its layer:
# the MIDI and audio engines and the catalogue and settings stores may use
# the standard library, Qt Core and the platform layer's interfaces only.
# Window code (Qt Widgets, Qt GUI, printing, the window units and controls)
# and the device libraries (ALSA, RtMidi, RtAudio, FluidSynth, libjpeg,
# libsndfile, which only src/platform/ may include) are refused.
#   check-layers.sh [SOURCE_ROOT]     (default: the project's src/)
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)/src"}

engine_files=()
for dir in midi audio; do
  [ -d "$root/$dir" ] && while IFS= read -r f; do engine_files+=("$f"); done \
    < <(find "$root/$dir" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \))
done
for unit in catalogue/vozaro_colecao settings/vozaro_uteis; do
  for ext in h cpp; do
    [ -f "$root/$unit.$ext" ] && engine_files+=("$root/$unit.$ext")
  done
done
[ ${#engine_files[@]} -gt 0 ] || { echo "check-layers: no engine files under $root" >&2; exit 2; }

# Window and device headers, by the paths and names they are included with.
forbidden='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]('
forbidden+='Qt(Widgets|Gui|PrintSupport|Test)/|'
forbidden+='Q(Widget|Application|GuiApplication|Dialog|MainWindow|MessageBox|Label|LineEdit|PushButton|AbstractButton|CheckBox|ComboBox|ListWidget|ListView|ProgressBar|Slider|Frame|Painter|Image|Pixmap|Font|FontMetrics|Printer|PrintDialog|FileDialog|Screen|Cursor|Color)>|'
forbidden+='(stage|controls)/|'
forbidden+='catalogue/vozaro_(album|editsong|order|status)\.h|'
forbidden+='settings/vozaro_(config|inicio|creditos)\.h|'
forbidden+='platform/Ui[^/]*\.h|'
forbidden+='alsa/|asoundlib\.h|RtMidi\.h|rtmidi/|RtAudio\.h|rtaudio/|fluidsynth|jpeglib\.h|turbojpeg\.h|sndfile\.h'
forbidden+=')'

if hits=$(grep -nE "$forbidden" "${engine_files[@]}"); then
  echo "Engine or store files include window or device headers:" >&2
  echo "$hits" >&2
  exit 1
fi
echo "layers: ${#engine_files[@]} engine and store files include nothing from above or beside their layer"
