#!/usr/bin/env bash
# Fails when an engine or store file reaches above or beside its layer:
# the MIDI and audio engines and the catalogue and settings stores may use
# the standard library, Qt Core and the platform layer's interfaces only.
# Window code (Qt Widgets, Qt GUI, printing, the window units and controls)
# and the device libraries (ALSA, RtMidi, RtAudio, FluidSynth, libjpeg,
# libsndfile, which only src/platform/ may include) are refused.
# Fails too when a window file includes the header of a window of another
# folder (stage, catalogue, settings): windows reach each other through their
# link files only (*Link.cpp, *Links.cpp), which are made where the windows
# are made.
#   check-layers.sh [SOURCE_ROOT]     (default: the project's src/)
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)/src"}

engine_files=()
for dir in midi audio; do
  [ -d "$root/$dir" ] && while IFS= read -r f; do engine_files+=("$f"); done \
    < <(find "$root/$dir" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \))
done
for unit in catalogue/vozaro_colecao catalogue/FirstStart catalogue/SongImport catalogue/SongSearch \
            settings/vozaro_uteis; do
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

# The windows' headers, by folder.
declare -A window_headers=(
  [stage]='stage/vozaro_main\.h'
  [catalogue]='catalogue/vozaro_(album|editsong|order)\.h'
  [settings]='settings/vozaro_(config|inicio|creditos)\.h'
)
window_files=0
status=0
for dir in "${!window_headers[@]}"; do
  [ -d "$root/$dir" ] || continue
  others=()
  for other in "${!window_headers[@]}"; do
    [ "$other" = "$dir" ] || others+=("${window_headers[$other]}")
  done
  pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]('"$(IFS='|'; echo "${others[*]}")"')[>"]'
  while IFS= read -r f; do
    case "$f" in
      *Link.cpp|*Links.cpp) continue ;;
    esac
    window_files=$((window_files + 1))
    if hits=$(grep -nE "$pattern" "$f"); then
      echo "A window file includes another window's header outside the link files: $f" >&2
      echo "$hits" >&2
      status=1
    fi
  done < <(find "$root/$dir" -type f \( -name '*.h' -o -name '*.cpp' \))
done
[ $status -eq 0 ] || exit 1
echo "layers: ${#engine_files[@]} engine and store files include nothing from above or beside their layer; $window_files window files include no other window's header"
