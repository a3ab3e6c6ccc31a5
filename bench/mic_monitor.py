#!/usr/bin/env python3
"""The microphone's way to the speakers, measured on the virtual sound server.

  bench/mic_monitor.py BENCH_MIC_MONITOR [--server pulseaudio|pipewire] [--clicks N]

On the running virtual server (scripts/sound-server.sh start, with
VOZARO_SOUND_SERVER=pipewire for PipeWire), a click train is played into the
virtual microphone ("micfeed") while its monitor (what the microphone
hears) and the speakers' monitor are recorded in small chunks stamped on the
monotonic clock; each click is paired with its first arrival at the
speakers.  Two recorders on one clock cancel their own delays.

  1. the server's own loopback (module-loopback, mic -> speakers) at its
     lowest setting, latency_msec=1 (10 on PipeWire, whose monitors deliver
     a quantum apart, so that 1 reads below zero): the reference;
  2. the program's path (BENCH_MIC_MONITOR, echo 0): the delay, median and
     p95, and its ratio to the loopback's median;
  3. the echo at "EcoRetorno" 60: for each click, the loudest arrival 100 to
     250 ms after the first, relative to it;
  4. a 60-second tone through the path: 10 ms windows below half the median
     level (dropouts), and the CPU the program used (share of one core).
Needs PULSE_SERVER.
"""
import argparse
import math
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

RATE = 48000
CHUNK = 96  # frames per read: 2 ms


def write_wav(path, samples, rate):
    data = b''.join(struct.pack('<h', max(-32767, min(32767, int(s * 32767)))) for s in samples)
    with open(path, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', 36 + len(data)) + b'WAVEfmt ')
        f.write(struct.pack('<IHHIIHH', 16, 1, 1, rate, rate * 2, 2, 16))
        f.write(b'data' + struct.pack('<I', len(data)) + data)


def click_train(path, count, gap_s=0.6, lead_s=0.5):
    rate = 22050
    samples = [0.0] * int(rate * (lead_s + count * gap_s + 0.5))
    for i in range(count):
        at = int(rate * (lead_s + i * gap_s))
        for k in range(int(rate * 0.002)):  # 2 ms of 2 kHz
            samples[at + k] = 0.8 * math.sin(2 * math.pi * 2000 * k / rate)
    write_wav(path, samples, rate)


def tone(path, seconds):
    rate = 22050
    write_wav(path, [0.3 * math.sin(2 * math.pi * 440 * k / rate) for k in range(int(rate * seconds))], rate)


class Recorder:
    """Records a source in CHUNK-frame reads, each stamped on the monotonic clock."""

    def __init__(self, source):
        self.chunks = []
        self.proc = subprocess.Popen(['parec', '-d', source, '--rate=%d' % RATE, '--channels=1',
                                      '--format=s16le', '--raw', '--latency-msec=2'],
                                     stdout=subprocess.PIPE, bufsize=0)
        self.thread = threading.Thread(target=self.run)
        self.thread.start()

    def run(self):
        want = CHUNK * 2
        while True:
            data = b''
            while len(data) < want:
                part = self.proc.stdout.read(want - len(data))
                if not part:
                    break
                data += part
            if not data:
                return
            self.chunks.append((time.monotonic(), data))

    def stop(self):
        self.proc.terminate()
        self.thread.join()
        self.proc.wait()
        samples, ends, stamps = [], [], []
        for stamp, data in self.chunks:
            samples.extend(v / 32768.0 for v in struct.unpack('<%dh' % (len(data) // 2), data))
            ends.append(len(samples))
            stamps.append(stamp)
        # Sample index -> time: the rate from a fit, the offset from the
        # chunks that came soonest (the lower envelope).
        n = len(ends)
        mx, my = sum(ends) / n, sum(stamps) / n
        slope = (sum((x - mx) * (y - my) for x, y in zip(ends, stamps)) /
                 sum((x - mx) ** 2 for x in ends))
        offsets = sorted(t - slope * e for e, t in zip(ends, stamps))
        self.base = offsets[len(offsets) // 20]
        self.slope = slope
        self.samples = samples
        return self

    def time_of(self, index):
        return self.base + self.slope * index

    def index_of(self, t):
        return int((t - self.base) / self.slope)


def onsets(rec, threshold=0.2, quiet_s=0.3):
    found, last = [], -1e9
    for i, v in enumerate(rec.samples):
        if abs(v) >= threshold and i - last > quiet_s * RATE:
            found.append(i)
        if abs(v) >= threshold:
            last = i
    return [rec.time_of(i) for i in found]


def first_arrival(rec, t, threshold, window_s=0.08):
    start = max(0, rec.index_of(t - 0.005))
    for i in range(start, min(len(rec.samples), start + int(window_s * RATE))):
        if abs(rec.samples[i]) >= threshold:
            return rec.time_of(i)
    return None


def peak(rec, t0, t1):
    a, b = max(0, rec.index_of(t0)), min(len(rec.samples), rec.index_of(t1))
    return max((abs(v) for v in rec.samples[a:b]), default=0.0)


def play_and_record(wav, during=None):
    mic, spk = Recorder('micfeed.monitor'), Recorder('speakers.monitor')
    time.sleep(0.5)
    subprocess.run(['paplay', '-d', 'micfeed', wav], check=True)
    time.sleep(0.6)
    return mic.stop(), spk.stop()


def delays(mic, spk):
    out = []
    for t in onsets(mic):
        heard = first_arrival(spk, t, 0.05)
        if heard is not None:
            out.append((heard - t) * 1000)
    return out


def pct(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, int(round(p / 100 * (len(s) - 1))))]


def start_program(program, seconds, echo):
    proc = subprocess.Popen([program, str(seconds), '50', str(echo)], stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    if 'ready' not in line:
        sys.exit('the program did not start its path: %r' % line)
    time.sleep(0.3)
    return proc


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('program')
    parser.add_argument('--server', choices=['pulseaudio', 'pipewire'], default='pulseaudio')
    parser.add_argument('--clicks', type=int, default=40)
    parser.add_argument('--tone-seconds', type=float, default=60)
    args = parser.parse_args()
    if not os.environ.get('PULSE_SERVER'):
        sys.exit('PULSE_SERVER is not set: scripts/sound-server.sh start')
    work = tempfile.mkdtemp(prefix='mic-monitor-')
    clicks, sine = os.path.join(work, 'clicks.wav'), os.path.join(work, 'tone.wav')
    click_train(clicks, args.clicks)
    tone(sine, args.tone_seconds)
    rows = []

    reference = 1 if args.server == 'pulseaudio' else 10
    module = subprocess.run(['pactl', 'load-module', 'module-loopback', 'source=mic', 'sink=speakers',
                             'latency_msec=%d' % reference], check=True, capture_output=True,
                            text=True).stdout.strip()
    time.sleep(1.0)
    try:
        loop = delays(*play_and_record(clicks))
    finally:
        subprocess.run(['pactl', 'unload-module', module], check=True)
    time.sleep(0.5)

    program = start_program(args.program, args.clicks * 0.6 + 4, 0)
    ours = delays(*play_and_record(clicks))
    program.wait()

    program = start_program(args.program, args.clicks * 0.6 + 4, 60)
    mic, spk = play_and_record(clicks)
    program.wait()
    echoes = []
    for t in onsets(mic):
        heard = first_arrival(spk, t, 0.05)
        if heard is None:
            continue
        direct = peak(spk, heard, heard + 0.01)
        again = peak(spk, heard + 0.1, heard + 0.25)
        echoes.append(again / direct if direct else 0.0)
    echoed = sum(1 for r in echoes if 0.05 < r < 1.0)

    program = start_program(args.program, args.tone_seconds + 3, 0)
    mic, spk = play_and_record(sine)
    out, _ = program.communicate()
    cpu = out.strip()
    start = spk.index_of(onsets(mic, 0.1)[0]) + RATE // 2
    end = start + int((args.tone_seconds - 1) * RATE)
    window = RATE // 100
    levels = [math.sqrt(sum(v * v for v in spk.samples[i:i + window]) / window)
              for i in range(start, min(end, len(spk.samples) - window), window)]
    median = statistics.median(levels)
    dropouts = sum(1 for v in levels if v < median / 2)

    name = 'loopback %d ms' % reference
    print('server: %s' % args.server)
    print('| path | clicks paired | median ms | p95 ms | min ms | max ms |')
    print('|---|---|---|---|---|---|')
    for label, d in ((name, loop), ('program', ours)):
        if d:
            print('| %s | %d/%d | %.1f | %.1f | %.1f | %.1f |' % (label, len(d), args.clicks, statistics.median(d),
                                                              pct(d, 95), min(d), max(d)))
        else:
            print('| %s | 0/%d | - | - | - | - |' % (label, args.clicks))
    if loop and ours:
        print('ratio program/loopback (medians): %.2f' % (statistics.median(ours) / statistics.median(loop)))
    print('echo at 60: %d/%d clicks heard again 100-250 ms later, quieter (median %.2f of the direct level)'
          % (echoed, len(echoes), statistics.median(echoes) if echoes else 0.0))
    print('tone %.0f s: %d of %d 10 ms windows below half the median level (median RMS %.3f)'
          % (args.tone_seconds, dropouts, len(levels), median))
    print(cpu)


if __name__ == '__main__':
    main()
