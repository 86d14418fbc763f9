#!/usr/bin/env python3
"""Synthesise Quellor's three alert sounds and write them as PCM WAV files.

Usage: python3 tools/wavgen/wavgen.py OUTDIR

Writes OUTDIR/gunshot.wav (a soft pop with a short tail), OUTDIR/whoosh.wav
(a breath of air sweeping past) and OUTDIR/laser.wav (a falling "pew").
Each is 22050 Hz, 16-bit, mono and well under a second long, so that an
alert never outlasts the one-second tray animation. Standard library only,
and deterministic: the same script always writes the same bytes.
"""

import math
import os
import random
import struct
import sys

RATE = 22050
PEAK = 0.5  # of full scale: alerts should not startle


def envelope(n, attack, release):
    """Linear fade in over `attack` samples and out over `release` samples."""
    out = []
    for i in range(n):
        g = 1.0
        if i < attack:
            g = i / attack
        if i >= n - release:
            g = min(g, (n - 1 - i) / release)
        out.append(g)
    return out


def one_pole_lowpass(samples, cutoff):
    a = math.exp(-2.0 * math.pi * cutoff / RATE)
    y = 0.0
    out = []
    for x in samples:
        y = (1.0 - a) * x + a * y
        out.append(y)
    return out


def normalise(samples, peak=PEAK):
    top = max(abs(s) for s in samples) or 1.0
    return [s * peak / top for s in samples]


def gunshot():
    rng = random.Random(1)
    n = int(0.45 * RATE)
    noise = [rng.uniform(-1.0, 1.0) for _ in range(n)]
    # The crack: noise that dies away fast, dulled so it pops rather than hisses.
    crack = one_pole_lowpass(noise, 2500.0)
    crack = [s * math.exp(-i / (0.035 * RATE)) for i, s in enumerate(crack)]
    # The body: a low thump that falls in pitch.
    body = []
    phase = 0.0
    for i in range(n):
        t = i / RATE
        phase += 2.0 * math.pi * (60.0 + 90.0 * math.exp(-t / 0.04)) / RATE
        body.append(math.sin(phase) * math.exp(-t / 0.09))
    # A soft room tail.
    tail = one_pole_lowpass(noise[::-1], 900.0)
    tail = [s * 0.25 * math.exp(-i / (0.12 * RATE)) for i, s in enumerate(tail)]
    mix = [c + 0.8 * b + t for c, b, t in zip(crack, body, tail)]
    env = envelope(n, int(0.002 * RATE), int(0.05 * RATE))
    return normalise([m * e for m, e in zip(mix, env)])


def whoosh():
    rng = random.Random(2)
    n = int(0.6 * RATE)
    out = []
    # Noise through a resonant band-pass whose centre sweeps up and back down.
    y1 = y2 = 0.0
    for i in range(n):
        t = i / n
        centre = 300.0 + 1700.0 * math.sin(math.pi * t) ** 2
        r = 0.97
        theta = 2.0 * math.pi * centre / RATE
        x = rng.uniform(-1.0, 1.0)
        y = (1.0 - r) * x + 2.0 * r * math.cos(theta) * y1 - r * r * y2
        y2, y1 = y1, y
        loudness = math.sin(math.pi * t) ** 1.5
        out.append(y * loudness)
    env = envelope(n, int(0.01 * RATE), int(0.03 * RATE))
    return normalise([s * e for s, e in zip(out, env)])


def laser():
    n = int(0.35 * RATE)
    out = []
    phase = 0.0
    for i in range(n):
        t = i / RATE
        # Falls from 1800 Hz to about 250 Hz with a little wobble on the way.
        freq = 250.0 + 1550.0 * math.exp(-t / 0.08)
        freq *= 1.0 + 0.03 * math.sin(2.0 * math.pi * 28.0 * t)
        phase += 2.0 * math.pi * freq / RATE
        # A sine with a touch of its third harmonic: bright but not harsh.
        s = math.sin(phase) + 0.25 * math.sin(3.0 * phase)
        out.append(s * math.exp(-t / 0.15))
    env = envelope(n, int(0.003 * RATE), int(0.04 * RATE))
    return normalise([s * e for s, e in zip(out, env)])


def wav_bytes(samples):
    data = b"".join(struct.pack("<h", max(-32767, min(32767, round(s * 32767)))) for s in samples)
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE * 2, 2, 16)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    for name, make in (("gunshot", gunshot), ("whoosh", whoosh), ("laser", laser)):
        with open(os.path.join(outdir, name + ".wav"), "wb") as f:
            f.write(wav_bytes(make()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
