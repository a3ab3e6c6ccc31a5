#!/usr/bin/env python3
"""How long the lyric highlight follows the sound, on the virtual sound server.

  bench/lyric_lag.py BENCH_LYRIC_HIGHLIGHTS [--syllables N] [--grid MS] [--runs R] [--guests]
                     [--speed PERCENT]

Writes a karaoke song with a claves hit under every syllable (standard lyric
events, a line break every 8 syllables), the syllables GRID ms apart, or at
irregular times 170-420 ms apart without --grid (stretched by PERCENT/100
above 100 %).  Each run plays it with
bench_lyric_highlights (the stage's display steps, the built-in synthesizer
through the sound server) at PERCENT % speed, which prints when each
syllable is lit on the monotonic clock and when the display time passed it,
while the monitor of the default sink ("speakers") is recorded in small
chunks stamped on the same clock.  For every syllable, highlight minus the
onset of its hit; per run the median, p95, min and max in milliseconds, and
beside them the floor of the same run: the moment the display time passed
the syllable minus the onset (what the sound's way and the clocks give, which
no drawing can beat).  --guests has guests search the program's web
server meanwhile and leave 300 connections half sent (PhoneGuests.h).  A lit syllable reaches the screen at the window's
next repaint, a few milliseconds later, which this does not count.  Needs
PULSE_SERVER (scripts/sound-server.sh start).
"""
import argparse
import os
import random
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from onset_scatter import heard_onsets, record, vlq  # noqa: E402


def write_song(path, count, grid, seed, stretch=1.0):
    """Returns the song times of the syllables in milliseconds (1 tick = 1 ms).
    stretch widens the irregular gaps, so that a song played faster keeps its
    hits as far apart in real time as the onset finder needs (it hears one
    hit in 120 ms)."""
    rng = random.Random(seed)
    ticks, tick = [], 2000
    for _ in range(count):
        ticks.append(tick)
        tick += grid if grid else int(rng.randint(170, 420) * stretch)
    tempo = vlq(0) + b'\xff\x51\x03' + (500000).to_bytes(3, 'big') + vlq(0) + b'\xff\x2f\x00'
    notes = bytearray()
    last = 0
    for i, t in enumerate(ticks):
        text = ('\r' if i % 8 == 0 and i else '') + 'la'
        notes += vlq(t - last) + b'\xff\x05' + vlq(len(text)) + text.encode('ascii')
        notes += vlq(0) + bytes([0x99, 75, 120])
        notes += vlq(30) + bytes([0x89, 75, 0])
        last = t + 30
    notes += vlq(400) + b'\xff\x2f\x00'
    with open(path, 'wb') as f:
        f.write(b'MThd' + struct.pack('>IHHH', 6, 1, 2, 500))
        for track in (tempo, notes):
            f.write(b'MTrk' + struct.pack('>I', len(track)) + track)
    return [float(t) for t in ticks]


def run_once(program, song, times, guests, speed):
    stop = threading.Event()
    chunks = []
    recorder = threading.Thread(target=record, args=(stop, chunks))
    recorder.start()
    time.sleep(1.0)
    lit, due = {}, {}
    player = subprocess.run([program, song, '--speed', str(speed)] + (['--guests'] if guests else []),
                            capture_output=True, text=True, check=True)
    for line in player.stdout.split('\n'):
        parts = line.split()
        if len(parts) == 3:
            lit[int(parts[0])] = int(parts[1]) / 1000.0
            due[int(parts[0])] = int(parts[2]) / 1000.0
    time.sleep(0.5)
    stop.set()
    recorder.join()
    heard, _ = heard_onsets(chunks)
    # Each syllable's hit is the onset nearest its highlight (hits are 170 ms
    # apart at least; one lost in a gap of the sound leaves its syllable out).
    lags, floors = [], []
    for index, at in sorted(lit.items()):
        near = min(heard, key=lambda o: abs(o - at))
        if abs(near - at) < 150:
            lags.append(at - near)
            floors.append(due[index] - near)
    if len(lags) < len(times) // 2:
        sys.exit('only %d of %d syllables paired with a sound' % (len(lags), len(times)))
    return len(lags), summary(lags), summary(floors)


def summary(values):
    """Median, p95, min and max."""
    values = sorted(values)
    pick = lambda q: values[min(len(values) - 1, int(q * len(values)))]
    return pick(0.5), pick(0.95), values[0], values[-1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('program')
    parser.add_argument('--syllables', type=int, default=120)
    parser.add_argument('--grid', type=int, default=0)
    parser.add_argument('--runs', type=int, default=5)
    parser.add_argument('--seed', type=int, default=31)
    parser.add_argument('--guests', action='store_true')
    parser.add_argument('--speed', type=int, default=100)
    args = parser.parse_args()
    if 'PULSE_SERVER' not in os.environ:
        sys.exit('PULSE_SERVER is not set: start scripts/sound-server.sh first')
    song = os.path.join(tempfile.mkdtemp(), 'silabas.mid')
    times = write_song(song, args.syllables, args.grid, args.seed, max(1.0, args.speed / 100.0))
    medians = []
    for run in range(args.runs):
        count, lag, floor = run_once(args.program, song, times, args.guests, args.speed)
        medians.append(lag[0])
        print('run %d at %d %%: %d syllables  highlight - sound: median %.1f ms  p95 %.1f ms  min %.1f ms  '
              'max %.1f ms   floor: median %.1f ms  p95 %.1f ms  min %.1f ms  max %.1f ms'
              % ((run + 1, args.speed, count) + lag + floor))
    print('medians from %.1f to %.1f ms (spread %.1f ms)' % (min(medians), max(medians),
                                                            max(medians) - min(medians)))


if __name__ == '__main__':
    main()
