#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it as a host would
# get it:
#   check-package.sh BUILD_DIR
# 1. cpack -G DEB gives BUILD_DIR/vozaro_<version>_amd64.deb; lintian finds
#    no errors in it;
# 2. its control fields: section sound, a maintainer, a description in
#    Portuguese and English, the shared libraries, a General MIDI SoundFont
#    and the Liberation fonts among its dependencies;
# 3. its files, unpacked with dpkg-deb -x: the program, the desktop entry, the
#    icons, the documents, and every song of the song list with the pictures
#    and sounds, and nothing else;
# 4. the unpacked program started with a fresh home folder on the offscreen
#    platform: its first start copies the bundled content into the home
#    folder's program folder, and it is still running afterwards.
# Exits non-zero on the first failure, saying what failed.
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
fail() { echo "package: $*" >&2; exit 1; }

(cd "$build" && rm -f vozaro_*.deb && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log" >&2; fail "cpack failed"; }
debs=("$build"/vozaro_*_amd64.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "cpack made no vozaro_<version>_amd64.deb"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

# Warnings and notes are shown; only errors fail.
lintian --fail-on error "$deb" 2>/dev/null || fail "lintian found errors"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = vozaro ] || fail "package name is '$(field Package)'"
[ "$(field Section)" = sound ] || fail "section is '$(field Section)', not sound"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "maintainer '$(field Maintainer)' is not 'Name <address>'"
description=$(field Description)
grep -q 'karaokê' <<<"$description" || fail "description has no Portuguese"
grep -q 'karaoke files' <<<"$description" || fail "description has no English"
depends=$(field Depends)
echo "Depends: $depends"
for library in libqt6widgets6 libqt6printsupport6 libfluidsynth3 librtmidi6 librtaudio6 libpulse0 \
               libsndfile1 libasound2 libjpeg62-turbo libaubio5 libc6 libqt6network6 libqrencode4; do
  grep -Eq "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library"
done
grep -Eq '(^|, )fluid-soundfont-gm \| timgm6mb-soundfont(,|$)' <<<"$depends" ||
  fail "Depends lacks a General MIDI SoundFont"
grep -Eq '(^|, )fonts-liberation2(,|$)' <<<"$depends" || fail "Depends lacks the Liberation fonts"

scratch=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
root=$scratch/root
dpkg-deb -x "$deb" "$root"
content=$root/usr/share/vozaro

# The files outside the bundled content, exactly.
expected=$(sort <<'EOF'
usr/bin/vozaro
usr/share/applications/vozaro.desktop
usr/share/doc/vozaro/changelog.gz
usr/share/doc/vozaro/copyright
usr/share/icons/hicolor/256x256/apps/vozaro.png
usr/share/icons/hicolor/48x48/apps/vozaro.png
usr/share/man/man1/vozaro.1.gz
EOF
)
actual=$(cd "$root" && find . -type f ! -path './usr/share/vozaro/*' | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "unexpected files: $(diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' | tr '\n' ' ')"
[ -x "$root/usr/bin/vozaro" ] || fail "usr/bin/vozaro is not executable"
grep -qx 'Exec=vozaro' "$root/usr/share/applications/vozaro.desktop" || fail "the desktop entry does not start vozaro"

# The bundled content: every listed song, the sounds, the pictures.
songs=()
while IFS=$'\t' read -r file _; do
  [ -n "$file" ] && songs+=("$file")
done <"$content/musicas.tsv"
[ ${#songs[@]} -ge 10 ] || fail "the song list names ${#songs[@]} songs"
for song in "${songs[@]}"; do
  [ -s "$content/Musicas/$song" ] || fail "the song '$song' is not in the package"
done
[ "$(find "$content/Musicas" -type f | wc -l)" -eq ${#songs[@]} ] || fail "songs in the package that the song list does not name"
for file in config.mid nota.wav; do
  [ -s "$content/$file" ] || fail "$file is not in the package"
done
pictures=$(find "$content/Imagens" -type f | wc -l)
[ "$pictures" -ge 8 ] || fail "$pictures pictures in the package"

# The first start, with a home folder of its own.  The start copies the songs
# first and "nota.wav" last; once that is there in full, the start is done.
home=$scratch/home
mkdir -p "$home" "$scratch/run"
chmod 700 "$scratch/run"
env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$home" XDG_RUNTIME_DIR="$scratch/run" \
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/vozaro" \
  >"$scratch/vozaro.log" 2>&1 &
pid=$!
program=$home/.local/share/vozaro
for _ in $(seq 600); do
  cmp -s "$content/nota.wav" "$program/nota.wav" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || { cat "$scratch/vozaro.log" >&2; fail "the program ended at its first start"; }
  sleep 0.1
done
cmp -s "$content/nota.wav" "$program/nota.wav" || fail "the first start copied no nota.wav into $program within a minute"
kill -0 "$pid" 2>/dev/null || fail "the program ended after its first start"
[ -s "$program/vozaro.alb" ] || fail "the first start made no catalogue"
for song in "${songs[@]}"; do
  cmp -s "$content/Musicas/$song" "$program/Musicas/$song" || fail "the first start did not copy '$song'"
done
cmp -s "$content/config.mid" "$program/config.mid" || fail "the first start did not copy config.mid"
[ "$(find "$program/Imagens" -type f | wc -l)" -eq "$pictures" ] || fail "the first start did not copy every picture"
grep -v '^$' "$scratch/vozaro.log" || true
echo "the unpacked program started and copied ${#songs[@]} songs and $pictures pictures into a new home folder"
