#!/usr/bin/env bash
# A virtual sound server for the tests that need real sound on a machine
# without sound hardware: PulseAudio, or PipeWire with its PulseAudio service.
#
#   sound-server.sh start [pulseaudio|pipewire]
#                           starts it (or finds it running) and prints the
#                           environment its clients need as KEY=VALUE lines;
#                           the server is VOZARO_SOUND_SERVER when not given
#                           (PulseAudio by default).  A running server of the
#                           other kind is stopped first.
#   sound-server.sh stop    stops it
#   sound-server.sh env     prints the KEY=VALUE lines of a running server
#   sound-server.sh kill    kills it at once, as a crash would (start brings
#                           it back on the same socket)
#
# The server has its own configuration and a private socket:
#   - "speakers", a null sink, is the default sink: whatever is played can be
#     recorded again from "speakers.monitor";
#   - "micfeed", a 22050 Hz mono null sink; its monitor, remapped as "mic", is
#     the default source, so a sound played into "micfeed"
#     (paplay -d micfeed file.wav) is what the microphone hears;
#   - PulseAudio (anonymous access, no session bus): an idle null sink
#     renders in 2-second blocks, which stalls a recorder for up to 2 s.  Two
#     10 ms loopbacks from the monitors into a third null sink keep both
#     sinks rendering in small blocks; start waits until their latencies are
#     low;
#   - PipeWire: pipewire, pipewire-pulse and wireplumber run headless under a
#     session bus of their own (dbus-run-session; without wireplumber,
#     streams time out and defaults cannot be set); the same sinks and source
#     are made through the PulseAudio service.
# Every client (ALSA "default" through the pulse plugin, RtAudio, FluidSynth,
# pactl) finds the server through PULSE_SERVER.
#
# Each checkout gets its own server (the state folder is named after the
# checkout), so test runs of several worktrees do not stop each other's server.
# VOZARO_SOUND_DIR overrides the state folder.  Only stdout carries the
# KEY=VALUE lines; progress and failures go to stderr.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tag=$(printf '%s' "$root" | md5sum | cut -c1-10)
dir=${VOZARO_SOUND_DIR:-/tmp/vozaro-sound-$(id -u)-$tag}
pidfile=$dir/server.pid
kindfile=$dir/server.kind
# The kind of server running, or asked for.
kind=$(cat "$kindfile" 2>/dev/null || true)
want=${2:-${VOZARO_SOUND_SERVER:-pulseaudio}}
case "$want" in pulseaudio|pipewire) ;; *) echo "unknown sound server: $want" >&2; exit 2 ;; esac
socket_of() {
  # pipewire-pulse puts its socket in PULSE_RUNTIME_PATH.
  if [ "$1" = pipewire ]; then printf "%s\n" "$PULSE_RUNTIME_PATH/native"; else printf "%s\n" "$dir/native"; fi
}
# Keep the server and pactl away from the user's own PulseAudio files.
export PULSE_RUNTIME_PATH=$dir/runtime PULSE_STATE_PATH=$dir/state
export PULSE_CLIENTCONFIG=$dir/client.conf
export HOME=$dir/home XDG_CONFIG_HOME=$dir/config XDG_RUNTIME_DIR=$dir/runtime
socket=$(socket_of "${kind:-$want}")
export PULSE_SERVER=unix:$socket

say() { printf 'sound-server: %s\n' "$*" >&2; }

print_env() {
  printf 'PULSE_SERVER=%s\n' "$PULSE_SERVER"
}

server_pid() {
  [ -f "$pidfile" ] || return 1
  local pid
  pid=$(cat "$pidfile")
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
  printf '%s\n' "$pid"
}

answering() { timeout 5 pactl info >/dev/null 2>&1; }

# Latency of a sink in microseconds, as the server reports it.
sink_latency() {
  timeout 5 pactl list sinks 2>/dev/null | awk -v name="$1" '
    /^[[:space:]]*Name:/ { current = $2 }
    current == name && /^[[:space:]]*Latency:/ { print $2; exit }'
}

wait_low_latency() {
  local i lat_speakers lat_mic
  for i in $(seq 1 100); do
    lat_speakers=$(sink_latency speakers)
    lat_mic=$(sink_latency micfeed)
    if [ -n "$lat_speakers" ] && [ -n "$lat_mic" ] &&
       [ "$lat_speakers" -lt 100000 ] && [ "$lat_mic" -lt 100000 ]; then
      return 0
    fi
    sleep 0.1
  done
  say "latencies still high (speakers ${lat_speakers:-?} us, micfeed ${lat_mic:-?} us)"
  return 1
}

write_config() {
  cat > "$dir/server.pa" <<EOF
load-module module-native-protocol-unix socket=$socket auth-anonymous=1
load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers
load-module module-null-sink sink_name=micfeed rate=22050 channels=1 format=s16le sink_properties=device.description=Micfeed
load-module module-remap-source source_name=mic master=micfeed.monitor channels=1 source_properties=device.description=Microphone
load-module module-null-sink sink_name=drain sink_properties=device.description=Drain
load-module module-loopback source=speakers.monitor sink=drain latency_msec=10 source_dont_move=true sink_dont_move=true
load-module module-loopback source=micfeed.monitor sink=drain latency_msec=10 source_dont_move=true sink_dont_move=true
set-default-sink speakers
set-default-source mic
EOF
  cat > "$dir/daemon.conf" <<EOF
exit-idle-time = -1
flat-volumes = no
EOF
  cat > "$PULSE_CLIENTCONFIG" <<EOF
autospawn = no
EOF
}

start() {
  if [ "$kind" = "$want" ] && server_pid >/dev/null && answering; then
    print_env
    return 0
  fi
  stop_server quiet
  kind=$want
  socket=$(socket_of "$kind")
  export PULSE_SERVER=unix:$socket
  mkdir -p "$dir" "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH" "$HOME" "$XDG_CONFIG_HOME"
  chmod 700 "$dir" "$PULSE_RUNTIME_PATH"
  rm -f "$socket"
  write_config
  printf '%s\n' "$kind" > "$kindfile"
  if [ "$kind" = pipewire ]; then
    for program in pipewire pipewire-pulse wireplumber dbus-run-session; do
      command -v "$program" >/dev/null || { say "$program is not installed"; return 1; }
    done
    # Its own session and process group, so that stopping it ends all four.
    setsid dbus-run-session -- sh -c 'pipewire & sleep 0.3; wireplumber & pipewire-pulse & wait' \
      </dev/null >"$dir/server.log" 2>&1 &
  else
    command -v pulseaudio >/dev/null || { say "pulseaudio is not installed"; return 1; }
    # Its own session, so that it outlives the shell that started it and a
    # terminal's hang-up does not reach it; our own pid file, because the
    # server's own is confused by zombies on machines whose init does not reap.
    setsid pulseaudio -n -F "$dir/server.pa" --daemonize=no --exit-idle-time=-1 \
      --use-pid-file=no --disallow-exit=no --log-target=stderr --log-level=warning \
      </dev/null >"$dir/server.log" 2>&1 &
  fi
  echo $! > "$pidfile"
  local i
  for i in $(seq 1 100); do
    if answering; then break; fi
    if ! server_pid >/dev/null; then
      say "$kind exited; its log:"; cat "$dir/server.log" >&2; return 1
    fi
    sleep 0.1
  done
  answering || { say "$kind does not answer on $socket"; stop_server quiet; return 1; }
  if [ "$kind" = pipewire ]; then
    make_devices || { say "the virtual devices could not be made on pipewire"; stop_server quiet; return 1; }
  else
    wait_low_latency || true
  fi
  print_env
}

# PipeWire: the same devices as server.pa, made through its PulseAudio
# service once wireplumber has come up (until then defaults do not take).
make_devices() {
  local i
  timeout 5 pactl load-module module-null-sink sink_name=speakers \
    sink_properties=device.description=Speakers >/dev/null || return 1
  timeout 5 pactl load-module module-null-sink sink_name=micfeed rate=22050 channels=1 format=s16le \
    sink_properties=device.description=Micfeed >/dev/null || return 1
  timeout 5 pactl load-module module-remap-source source_name=mic master=micfeed.monitor channels=1 \
    source_properties=device.description=Microphone >/dev/null || return 1
  for i in $(seq 1 100); do
    timeout 5 pactl set-default-sink speakers 2>/dev/null
    timeout 5 pactl set-default-source mic 2>/dev/null
    if [ "$(timeout 5 pactl get-default-sink 2>/dev/null)" = speakers ] &&
       [ "$(timeout 5 pactl get-default-source 2>/dev/null)" = mic ]; then
      return 0
    fi
    sleep 0.1
  done
  return 1
}

stop_server() {
  local pid i
  if pid=$(server_pid); then
    if [ "$kind" = pipewire ]; then
      # The whole process group started with it: the bus, pipewire,
      # pipewire-pulse and wireplumber.
      kill -- "-$pid" 2>/dev/null || true
    else
      timeout 5 pactl exit >/dev/null 2>&1 || true
    fi
    for i in $(seq 1 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      sleep 0.5
      kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null || true
    fi
    [ "${1:-}" = quiet ] || say "stopped"
  fi
  rm -f "$pidfile" "$socket" "$kindfile"
}

kill_server() {
  local pid i
  if pid=$(server_pid); then
    if [ "$kind" = pipewire ]; then kill -9 -- "-$pid" 2>/dev/null || true; fi
    kill -9 "$pid" 2>/dev/null || true
    # Gone, or a zombie where init does not reap.
    for i in $(seq 1 50); do
      case $(ps -o stat= -p "$pid" 2>/dev/null) in Z*|'') break ;; esac
      sleep 0.1
    done
  fi
  rm -f "$pidfile"
}

case "${1:-}" in
  start) start ;;
  stop)  stop_server ;;
  kill)  kill_server ;;
  env)   server_pid >/dev/null && answering && print_env ;;
  *) echo "usage: $0 start [pulseaudio|pipewire]|stop|kill|env" >&2; exit 2 ;;
esac
