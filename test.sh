#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every test:
#   1. the whole program and its tests (CTest), with the virtual sound server
#      running for the tests labelled "sound";
#   2. the Debian package, made from the same build, checked with lintian,
#      unpacked and started once with a fresh home folder
#      (scripts/check-package.sh);
#   3. the engine and platform tests (MIDI, audio) again under ThreadSanitizer;
#   4. each libFuzzer target for FUZZ_SECONDS (default 60) under
#      AddressSanitizer and UndefinedBehaviorSanitizer, seeded from the corpus.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-60}
corpus=${VOZARO_CORPUS_DIR:-$root/../shared/corpus}

scripts/install-deps.sh test

status=0
step() { printf '\n=== %s\n' "$*"; }

step "layers"
scripts/check-layers.sh || status=1

step "build (tests and benchmarks)"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOZARO_BENCH=ON \
      -DVOZARO_CORPUS_DIR="$corpus" >/dev/null
cmake --build build/test -j "$jobs"

if [ -x scripts/sound-server.sh ]; then
  step "virtual sound server"
  trap 'scripts/sound-server.sh stop || true' EXIT
  while IFS='=' read -r key value; do
    [ -n "$key" ] && export "$key=$value"
  done < <(scripts/sound-server.sh start)
fi

step "tests"
ctest --test-dir build/test --output-on-failure -j "$jobs" -LE sound || status=1
ctest --test-dir build/test --output-on-failure -L sound || status=1

step "Debian package"
scripts/check-package.sh build/test || status=1

step "ThreadSanitizer: engine tests"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOZARO_ENGINE_ONLY=ON \
      -DVOZARO_TSAN=ON -DVOZARO_TOOLS=OFF -DVOZARO_CORPUS_DIR="$corpus" >/dev/null
cmake --build build/tsan -j "$jobs"
# FluidSynth loads SoundFonts on OpenMP worker threads, which are not
# instrumented and would be reported as races: keep OpenMP on one thread.
# The sound server's client library is not instrumented either, so these
# tests run without reaching the server (the sound tests above heard it).
OMP_NUM_THREADS=1 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  env -u PULSE_SERVER ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L 'midi|platform|audio|karaoke|phone' || status=1

if compgen -G "fuzz/*.cpp" >/dev/null; then
  step "fuzzing, ${fuzz_seconds}s per target"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVOZARO_FUZZ=ON >/dev/null
  cmake --build build/fuzz -j "$jobs"
  for src in fuzz/*.cpp; do
    name=$(basename "$src" .cpp)
    work=$(mktemp -d)
    seeds=()
    [ -d "fuzz/seeds/$name" ] && seeds+=("fuzz/seeds/$name")
    [ -d "$corpus/files" ] && seeds+=("$corpus"/files/*/)
    echo "fuzz_$name"
    if build/fuzz/fuzz/"fuzz_$name" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
         -artifact_prefix="$work/" "$work" "${seeds[@]}" > "$work/log" 2>&1; then
      grep -E 'stat::number_of_executed_units' "$work/log" || true
    else
      tail -40 "$work/log"; echo "fuzz_$name FAILED (artifacts in $work)"; status=1
    fi
  done
fi

exit $status
