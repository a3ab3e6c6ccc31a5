#!/usr/bin/env bash
# Installs the Debian packages Vozaro needs, in one apt-get call (a later call
# can remove packages an earlier one brought in).  Idempotent: packages already
# present are skipped and nothing is asked when all are there.
#   install-deps.sh run    build, package and play (full General MIDI SoundFont)
#   install-deps.sh test   build, tests, benchmarks, fuzzing, virtual sound server,
#                          checking the package
set -euo pipefail
mode=${1:-run}

common=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-qpa-plugins qt6-translations-l10n
  libfluidsynth-dev librtmidi-dev librtaudio-dev libpulse-dev libsndfile1-dev libasound2-dev
  libjpeg62-turbo-dev libaubio-dev fonts-liberation2 libqrencode-dev
  dpkg-dev file
)
case "$mode" in
  run)  extra=(fluid-soundfont-gm) ;;
  test) extra=(timgm6mb-soundfont libgtest-dev libgmock-dev libbenchmark-dev
               clang libfuzzer-14-dev libclang-rt-14-dev
               python3 python3-mido libsmf-dev
               xvfb xauth pulseaudio pulseaudio-utils libasound2-plugins alsa-utils
               pipewire pipewire-pulse wireplumber dbus
               poppler-utils sox espeak-ng lintian zbar-tools
               chromium chromium-driver python3-selenium) ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${common[@]}" "${extra[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
