#!/usr/bin/env python3
"""Runs vozaro-letra over every song of the corpus.

Every karaoke file prints its syllables (from its karaoke tags, else from its
standard lyric events); other files print syllables or nothing with status 1;
no file makes the tool crash; a file it cannot read gives status 2 and a
message.  Exit 77 (skipped) without the corpus."""
import os
import re
import subprocess
import sys

tool, corpus = sys.argv[1], sys.argv[2]
files = os.path.join(corpus, "files")
if not os.path.isdir(files):
    print(f"corpus not found at {files}: skipped")
    sys.exit(77)

line = re.compile(rb"^(\d+)\t(\d+)\t[^\t\n]*$")
failures = []
with_lyrics = 0
for category in sorted(os.listdir(files)):
    for name in sorted(os.listdir(os.path.join(files, category))):
        path = os.path.join(files, category, name)
        run = subprocess.run([tool, path], capture_output=True, timeout=60)
        where = f"{category}/{name}"
        if run.returncode not in (0, 1, 2):
            failures.append(f"{where}: status {run.returncode}")
        elif run.returncode == 0:
            lines = run.stdout.splitlines()
            previous = 0
            for k, text in enumerate(lines):
                m = line.match(text)
                if not m or int(m.group(1)) != k or int(m.group(2)) < previous:
                    failures.append(f"{where}: line {k} {text!r}")
                    break
                previous = int(m.group(2))
            with_lyrics += category == "kar" and len(lines) > 0
        elif run.stdout:
            failures.append(f"{where}: status {run.returncode} with output")
        elif run.returncode == 2 and not run.stderr.strip():
            failures.append(f"{where}: status 2 without a message")
        if category == "kar" and run.returncode == 1:
            failures.append(f"{where}: a karaoke file shows no lyrics")
        if category == "kar" and run.returncode == 2:
            failures.append(f"{where}: a karaoke file could not be read: {run.stderr!r}")

print(f"{with_lyrics} karaoke files with syllables")
if with_lyrics == 0:
    failures.append("no karaoke file of the corpus gave syllables")
for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
