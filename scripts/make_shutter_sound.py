#!/usr/bin/env python3
"""Writes app/resources/snap.wav, the snapshot's shutter sound: a click and a
short burst of filtered noise, 0.18 s of 22.05 kHz mono 16-bit PCM. The file
is committed; run this only to change the sound."""
import math
import os
import random
import struct

random.seed(7)
RATE = 22050
samples = []
smoothed = 0.0
for i in range(int(RATE * 0.18)):
    t = i / RATE
    envelope = math.exp(-t * 28) if t > 0.012 else 1.0
    smoothed = smoothed * 0.55 + random.uniform(-1, 1) * 0.45
    click = math.sin(2 * math.pi * 1800 * t) * math.exp(-t * 400)
    second = math.exp(-(t - 0.075) * 40) * random.uniform(-1, 1) * 0.6 if t > 0.075 else 0
    value = (smoothed * envelope * 0.7 + click * 0.5 + second) * 0.6
    samples.append(max(-32767, min(32767, int(value * 32767))))
data = b"".join(struct.pack("<h", s) for s in samples)
header = (b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
          struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE * 2, 2, 16) +
          b"data" + struct.pack("<I", len(data)))
here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "..", "app", "resources", "snap.wav"), "wb") as out:
    out.write(header + data)
