#!/usr/bin/env python3
"""Onset scatter of the built-in synthesizer on the virtual sound server.

  bench/onset_scatter.py VOZARO_PLAY [--hits N] [--percent P] [--seed S]

Writes a song of N short claves hits (General MIDI percussion, note 75) at
irregular known song times, with a tempo change half way, plays it with
VOZARO_PLAY (vozaro-play) on the built-in synthesizer and records the monitor
of the default sink ("speakers") meanwhile.  The recording is read in small
chunks, each stamped on the monotonic clock, because the null sink's sample
clock runs up to 0.2 % off its nominal rate: sample index -> time comes from a
straight-line fit of those stamps, not from counting samples.

The onsets found are matched to the song's times and fitted to them with a
straight line (the start offset and the speed); the residuals are printed as
std, p50 |r|, p99 |r| and max |r| in milliseconds, and how long after the
song time the hits were heard on average (what the lyric display has to trail
the song time by to keep with the sound).  Needs the sound server's
PULSE_SERVER in the environment (scripts/sound-server.sh start).
"""
import argparse
import math
import os
import random
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

RATE = 48000
CHUNK = 240  # frames per read: 5 ms


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def write_song(path, hits, seed):
    """Returns the song times of the hits in milliseconds."""
    rng = random.Random(seed)
    ppqn = 500
    # First half: 500 ms per quarter (1 tick = 1 ms); second half: 400 ms
    # per quarter (1 tick = 0.8 ms).
    change_tick = None
    ticks = []
    tick = 1000
    for i in range(hits):
        ticks.append(tick)
        tick += rng.randint(170, 420)
        if i == hits // 2 and change_tick is None:
            change_tick = tick - 50
    times = []
    for t in ticks:
        if t <= change_tick:
            times.append(t * 1.0)
        else:
            times.append(change_tick + (t - change_tick) * 0.8)
    tempo_track = bytearray()
    tempo_track += vlq(0) + b'\xff\x51\x03' + (500000).to_bytes(3, 'big')
    tempo_track += vlq(change_tick) + b'\xff\x51\x03' + (400000).to_bytes(3, 'big')
    tempo_track += vlq(0) + b'\xff\x2f\x00'
    notes = bytearray()
    last = 0
    for t in ticks:
        notes += vlq(t - last) + bytes([0x99, 75, 120])
        notes += vlq(30) + bytes([0x89, 75, 0])
        last = t + 30
    notes += vlq(400) + b'\xff\x2f\x00'
    with open(path, 'wb') as f:
        f.write(b'MThd' + struct.pack('>IHHH', 6, 1, 2, ppqn))
        for track in (tempo_track, notes):
            f.write(b'MTrk' + struct.pack('>I', len(track)) + track)
    return times


def record(stop, chunks):
    proc = subprocess.Popen(['parec', '-d', 'speakers.monitor', '--rate=%d' % RATE, '--channels=1',
                             '--format=s16le', '--raw', '--latency-msec=5'],
                            stdout=subprocess.PIPE, bufsize=0)
    want = CHUNK * 2
    while not stop.is_set():
        data = b''
        while len(data) < want:
            part = proc.stdout.read(want - len(data))
            if not part:
                break
            data += part
        if not data:
            break
        chunks.append((time.monotonic(), data))
    proc.terminate()
    proc.wait()


def fit_line(xs, ys):
    n = len(xs)
    mx = sum(xs) / n
    my = sum(ys) / n
    sxx = sum((x - mx) ** 2 for x in xs)
    sxy = sum((x - mx) * (y - my) for x, y in zip(xs, ys))
    slope = sxy / sxx
    return slope, my - slope * mx


def heard_onsets(chunks):
    """The onsets in a recording, in monotonic milliseconds, and the seconds
    per sample of the recording's clock.  Sample index -> monotonic time comes
    from the chunk stamps (a stamp is taken when the chunk's last frame has
    been read)."""
    xs, ys, samples = [], [], []
    for stamp, data in chunks:
        samples.extend(struct.unpack('<%dh' % (len(data) // 2), data))
        xs.append(len(samples))
        ys.append(stamp)
    slope, offset = fit_line(xs, ys)
    peak = max(abs(s) for s in samples)
    if peak < 1000:
        sys.exit('nothing was heard (peak %d)' % peak)
    threshold = peak * 0.15
    onsets = []
    quiet_until = 0
    for i, s in enumerate(samples):
        if i >= quiet_until and abs(s) > threshold:
            onsets.append((offset + slope * i) * 1000.0)
            quiet_until = i + int(0.12 * RATE)
    return onsets, slope


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('player')
    parser.add_argument('--hits', type=int, default=300)
    parser.add_argument('--percent', type=int, default=100)
    parser.add_argument('--seed', type=int, default=24)
    parser.add_argument('--stall-ms', type=int, default=0,
                        help='stop the player this long, three times during the song')
    args = parser.parse_args()
    if 'PULSE_SERVER' not in os.environ:
        sys.exit('PULSE_SERVER is not set: start scripts/sound-server.sh first')

    folder = tempfile.mkdtemp()
    song = os.path.join(folder, 'claves.mid')
    times = write_song(song, args.hits, args.seed)
    times = [t * 100.0 / args.percent for t in times]

    stop = threading.Event()
    chunks = []
    recorder = threading.Thread(target=record, args=(stop, chunks))
    recorder.start()
    time.sleep(1.0)
    # The player prints its song time once a second; each line read is
    # stamped, and the earliest stamp less its song time is when the song
    # started on the monotonic clock (a line is never read before it is
    # printed).
    starts = []
    player = subprocess.Popen([args.player, song, str(args.percent)], stdout=subprocess.PIPE, text=True)
    if args.stall_ms:
        def stall():
            length = times[-1] / 1000.0
            for share in (0.25, 0.5, 0.75):
                time.sleep(length / 4)
                if player.poll() is not None:
                    return
                player.send_signal(signal.SIGSTOP)
                time.sleep(args.stall_ms / 1000.0)
                player.send_signal(signal.SIGCONT)
        threading.Thread(target=stall, daemon=True).start()
    for line in player.stdout:
        stamp = time.monotonic()
        minutes, seconds = line.strip().split(':')
        song_ms = (int(minutes) * 60 + float(seconds)) * 1000.0
        if song_ms > 0:
            starts.append(stamp * 1000.0 - song_ms * 100.0 / args.percent)
    if player.wait() != 0:
        sys.exit('the player failed')
    time.sleep(0.5)
    stop.set()
    recorder.join()

    onsets, slope = heard_onsets(chunks)
    onsets_all = list(onsets)
    # Each onset is matched to the nearest song time under a line fitted to
    # the matches so far, starting from the first onset as the first hit.
    a, b = 1.0, onsets[0] - times[0]
    for _ in range(3):
        pairs = []
        j = 0
        for o in onsets:
            while j + 1 < len(times) and abs(a * times[j + 1] + b - o) < abs(a * times[j] + b - o):
                j += 1
            if abs(a * times[j] + b - o) < 60:
                pairs.append((times[j], o))
        a, b = fit_line([t for t, _ in pairs], [o for _, o in pairs])
    matched = len(set(t for t, _ in pairs))
    if matched < 0.9 * len(times):
        sys.exit('only %d of %d hits found' % (matched, len(times)))
    times = [t for t, _ in pairs]
    onsets = [o for _, o in pairs]
    residuals = [o - (a * t + b) for t, o in zip(times, onsets)]
    if os.environ.get('ONSET_SHOW'):
        print(' '.join('%.1f' % r for r in residuals))
    mags = sorted(abs(r) for r in residuals)
    std = math.sqrt(sum(r * r for r in residuals) / len(residuals))
    p = lambda q: mags[min(len(mags) - 1, int(q * len(mags)))]
    print('hits %d, heard %d, onsets unmatched %d  speed %d %%  sink rate %.1f Hz  fitted speed %.5f' %
          (args.hits, matched, len(onsets_all) - len(onsets), args.percent, 1.0 / slope, a))
    print('onset residuals: std %.2f ms  p50 %.2f ms  p99 %.2f ms  max %.2f ms' %
          (std, p(0.5), p(0.99), mags[-1]))
    # How long after the song passed a hit it was heard, on average.
    start = min(starts)
    delays = [o - (start + t) for t, o in zip(times, onsets)]
    print('heard after the song time: mean %.1f ms (the song start known within a few ms)' %
          (sum(delays) / len(delays)))


if __name__ == '__main__':
    main()
