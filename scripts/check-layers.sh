#!/usr/bin/env bash
# Checks the layers of the sources, decided by folder as src/CMakeLists.txt
# builds them:
#   - the folders without windows (platform/ outside platform/ui/, midi/,
#     audio/, stores/, karaoke/, phone/) include neither Qt GUI nor Qt Widgets
#     nor anything of the folders above them (stage/, catalogue/, settings/,
#     controls/, platform/ui/);
#   - the device libraries (ALSA, RtMidi, RtAudio, FluidSynth, PulseAudio)
#     are included under platform/devices/ only, the file libraries
#     (libjpeg, libsndfile, libqrencode) under platform/ only, and Qt
#     Network under platform/network/ only;
#   - the stage's drawing (stage/canvas/) includes no Qt Widgets and nothing
#     of the window folders;
#   - the window folders (stage/ with stage/singers/, catalogue/, settings/)
#     include nothing of each other: windows reach each other through their
#     link files only (*Links.cpp), which are made where the windows are made.
#   check-layers.sh [SOURCE_ROOT]     (default: the project's src/)
set -euo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)/src"}

sources_in() {  # sources_in DIR [find options]: the C and C++ files under DIR
  local dir=$1; shift
  [ -d "$root/$dir" ] || return 0
  find "$root/$dir" "$@" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print | sort
}
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]'
widgets='Qt(Widgets|PrintSupport|Test)/|Q(Widget|Application|Dialog|MainWindow|MessageBox|Label|LineEdit|PushButton|AbstractButton|CheckBox|ComboBox|ListWidget|ListView|ProgressBar|Slider|Frame|Printer|PrintDialog|FileDialog)>'
gui='QtGui/|Q(GuiApplication|Painter|Image|Pixmap|Font|FontMetrics|Screen|Cursor|Color)>'
windows='(stage|catalogue|settings|controls|platform/ui)/'
devices='alsa/|asoundlib\.h|RtMidi\.h|rtmidi/|RtAudio\.h|rtaudio/|fluidsynth|pulse/|pipewire'
file_libs='jpeglib\.h|turbojpeg\.h|sndfile\.h|qrencode\.h'
network='QtNetwork/|Q(TcpServer|TcpSocket|HostAddress|NetworkInterface|AbstractSocket|UdpSocket|SslSocket)>'
status=0

refuse() {  # refuse WHAT PATTERN FILE...: fails on each file that includes PATTERN
  local what=$1 pattern=$2; shift 2
  refuse_except "$what" "$pattern" '^$' "$@"
}
refuse_except() {  # refuse_except WHAT PATTERN ALLOWED FILE...: PATTERN unless ALLOWED
  local what=$1 pattern=$2 allowed=$3; shift 3
  [ $# -gt 0 ] || return 0
  local hits
  if hits=$(grep -nE "$include($pattern)" "$@" | grep -vE "#[[:space:]]*include[[:space:]]*[<\"]($allowed)"); then
    echo "$what:" >&2
    echo "$hits" >&2
    status=1
  fi
}

# The layers without windows.
engine_files=()
while IFS= read -r f; do engine_files+=("$f"); done < <(
  sources_in platform -path "$root/platform/ui" -prune -o
  for dir in midi audio stores karaoke phone; do sources_in "$dir"; done)
[ ${#engine_files[@]} -gt 0 ] || { echo "check-layers: no engine files under $root" >&2; exit 2; }
refuse "Files without windows include window or drawing headers" "$widgets|$gui|$windows" "${engine_files[@]}"

outside() {  # outside DIR: the engine files not under DIR
  local f
  for f in "${engine_files[@]}"; do
    case "$f" in "$root/$1"/*) ;; *) echo "$f" ;; esac
  done
}
mapfile -t files < <(outside platform/devices)
refuse "Files outside the platform's devices include device headers" "$devices" "${files[@]}"
mapfile -t files < <(outside platform)
refuse "Files outside the platform layer include file library headers" "$file_libs" "${files[@]}"
mapfile -t files < <(outside platform/network)
refuse "Files outside the platform's network include Qt Network" "$network" "${files[@]}"

# The stage's drawing.
canvas_files=()
while IFS= read -r f; do canvas_files+=("$f"); done < <(sources_in stage/canvas)
refuse_except "The stage's drawing includes window headers" "$widgets|$devices|$windows" \
  'stage/canvas/' "${canvas_files[@]}"

# The window folders include nothing of each other outside their link files.
declare -A window_dirs=([stage]='stage/' [catalogue]='catalogue/' [settings]='settings/')
window_files=0
for dir in "${!window_dirs[@]}"; do
  others=()
  for other in "${!window_dirs[@]}"; do
    [ "$other" = "$dir" ] || others+=("${window_dirs[$other]}")
  done
  files=()
  while IFS= read -r f; do
    case "$f" in *Links.cpp) continue ;; esac
    files+=("$f")
  done < <(sources_in "$dir" -path "$root/stage/canvas" -prune -o)
  window_files=$((window_files + ${#files[@]}))
  refuse_except "Window files of $dir/ include another window folder's header outside the link files" \
    "$(IFS='|'; echo "${others[*]}")" 'stage/canvas/' "${files[@]}"
done

[ $status -eq 0 ] || exit 1
echo "layers: ${#engine_files[@]} files without windows and ${#canvas_files[@]} drawing files include nothing from above their layer; $window_files window files include no other window folder's header"
