#!/usr/bin/python3
"""Compares Vozaro's reading of every song in the corpus with mido's.

Usage: compare_with_mido.py DUMP_TOOL CORPUS_DIR

DUMP_TOOL is vozaro-mididump.  For every file under CORPUS_DIR/files/ that
mido (python3-mido) parses, the records Vozaro loads must equal mido's
messages: absolute tick, status, data bytes, meta type and data, system
exclusive bytes.  Meta events are compared as raw bytes (mido's decoding of
known meta types is switched off), and system exclusive data as mido keeps
it (a leading F0 and a closing F7 stripped, F0 and F7 events alike).

Differences are accepted only where Vozaro's reading rules differ from mido's:
  - a track without an end-of-track event gets one at the time of its last
    event;
  - a track of more than 100,000 events is refused ("Size exceeds capacity");
  - statuses 0xF1 to 0xFE carry no data bytes (mido reads data bytes for
    some), so a track differs from the first such event on.
Files mido refuses only have to be loaded or refused with a message.

Exit status: 0 when every file agrees, 1 on a difference, 77 (skipped) when
the corpus or mido is missing.
"""
import io
import os
import struct
import subprocess
import sys

SKIP = 77


def riff_data(raw):
    """The Standard MIDI File inside the "data" chunk of a RIFF RMID file."""
    if raw[:4] != b'RIFF':
        return None
    end = min(len(raw), 8 + struct.unpack('<I', raw[4:8])[0])
    pos = 12
    while pos + 8 <= end:
        cid = raw[pos:pos + 4]
        size = struct.unpack('<I', raw[pos + 4:pos + 8])[0]
        if cid == b'data':
            return raw[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    return None


def strip_sysex(data):
    data = bytes(data)
    if data[:1] == b'\xf0':
        data = data[1:]
    if data[-1:] == b'\xf7':
        data = data[:-1]
    return data


def mido_reading(mido, raw, path):
    if path.lower().endswith(('.rmi', '.riff')):
        raw = riff_data(raw)
        if raw is None:
            raise ValueError('no RIFF data chunk')
    song = mido.MidiFile(file=io.BytesIO(raw))
    header = struct.unpack('>4sIHHH', raw[:14])
    tracks = []
    for track in song.tracks:
        time = 0
        events = []
        for msg in track:
            time += msg.time
            if msg.is_meta:
                events.append(('meta', time, msg.type_byte, bytes(msg.data)))
            elif msg.type == 'sysex':
                events.append(('sysex', time, strip_sysex(msg.data)))
            else:
                b = msg.bytes()
                if b[0] >= 0xF0:
                    events.append(('system', time, b[0]))
                else:
                    events.append(('channel', time, b[0], bytes(b[1:])))
        tracks.append(events)
    return (header[2], header[3], header[4]), tracks


def vozaro_reading(tool, path):
    run = subprocess.run([tool, path], capture_output=True)
    if run.returncode != 0:
        return run.stderr.decode('latin-1').strip(), None, None
    header = None
    tracks = []
    for line in run.stdout.decode('ascii').splitlines():
        f = line.split(' ')
        if f[0] == 'header':
            header = (int(f[1]), int(f[2]), int(f[3]))
        elif f[0] == 'track':
            tracks.append([])
        else:
            time, status = int(f[2]), int(f[3], 16)
            data = b'' if f[4] == '-' else bytes.fromhex(f[4])
            if status == 0xFF:
                tracks[-1].append(('meta', time, data[0], data[1:]))
            elif status in (0xF0, 0xF7):
                tracks[-1].append(('sysex', time, strip_sysex(data)))
            elif status > 0xF0:
                tracks[-1].append(('system', time, status))
            else:
                tracks[-1].append(('channel', time, status, data))
    return None, header, tracks


def compare_track(ours, theirs):
    """None when equal, else a tuple (explained, text)."""
    if ours == theirs:
        return None
    has_end = any(e[0] == 'meta' and e[2] == 0x2F for e in theirs)
    if not has_end and ours[:-1] == theirs:
        last = ours[-1]
        expected_time = theirs[-1][1] if theirs else 0
        if last[0] == 'meta' and last[2] == 0x2F and last[1] == expected_time and not last[3]:
            return True, 'end of track added'
    for i, (a, b) in enumerate(zip(ours + [None] * len(theirs), theirs + [None] * len(ours))):
        if a != b:
            if any(e[0] == 'system' for e in ours[:i + 1]):
                return True, 'system status without data bytes at record %d' % i
            return False, 'record %d: vozaro %r, mido %r' % (i, a, b)
    return False, 'lengths differ'


def main():
    tool, corpus = sys.argv[1], sys.argv[2]
    files_dir = os.path.join(corpus, 'files')
    if not os.path.isdir(files_dir):
        print('SKIP: corpus folder %s is absent' % files_dir)
        return SKIP
    try:
        import mido
        import mido.midifiles.meta as meta
        import mido.midifiles.midifiles as midifiles
    except ImportError:
        print('SKIP: python3-mido is not installed for %s' % sys.executable)
        return SKIP

    # Every meta event as its raw bytes, with its delta time.
    def raw_meta(meta_type, data, delta=0):
        return meta.UnknownMetaMessage(meta_type, data, time=delta)
    midifiles.build_meta_message = raw_meta

    failures = 0
    counts = {'agree': 0, 'explained': 0, 'mido refuses': 0}
    for category in sorted(os.listdir(files_dir)):
        for name in sorted(os.listdir(os.path.join(files_dir, category))):
            path = os.path.join(files_dir, category, name)
            rel = category + '/' + name
            error, header, ours = vozaro_reading(tool, path)
            with open(path, 'rb') as f:
                raw = f.read()
            try:
                mido_header, theirs = mido_reading(mido, raw, path)
            except Exception as e:  # mido refuses: Vozaro only has to answer
                counts['mido refuses'] += 1
                print('mido refuses %s (%s: %s); vozaro: %s' % (
                    rel, type(e).__name__, e, error or 'loaded'))
                continue
            if error is not None:
                biggest = max((len(t) for t in theirs), default=0)
                system = any(e[0] == 'system' for t in theirs for e in t)
                if error == 'error: Size exceeds capacity' and biggest >= 100000:
                    counts['explained'] += 1
                    print('explained %s: refused, a track has %d events' % (rel, biggest))
                elif system and error in ('error: Error in Running Status', 'error: Error in Sysex'):
                    counts['explained'] += 1
                    print('explained %s: refused (%s) after a status 0xF1-0xFE read '
                          'without data bytes' % (rel, error))
                else:
                    failures += 1
                    print('FAIL %s: vozaro refuses (%s), mido reads it' % (rel, error))
                continue
            if header[0] != mido_header[0] or header[1] != mido_header[1] or \
                    header[2] != mido_header[2] or len(ours) != len(theirs):
                failures += 1
                print('FAIL %s: header %r / %d tracks, mido %r / %d tracks' % (
                    rel, header, len(ours), mido_header, len(theirs)))
                continue
            notes = []
            bad = False
            for t, (a, b) in enumerate(zip(ours, theirs)):
                result = compare_track(a, b)
                if result is None:
                    continue
                explained, text = result
                notes.append('track %d: %s' % (t, text))
                bad = bad or not explained
            if bad:
                failures += 1
                print('FAIL %s: %s' % (rel, '; '.join(notes)))
            elif notes:
                counts['explained'] += 1
                print('explained %s: %s' % (rel, '; '.join(notes)))
            else:
                counts['agree'] += 1
    print('%d files agree, %d differ as explained, %d refused by mido, %d failures' % (
        counts['agree'], counts['explained'], counts['mido refuses'], failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
