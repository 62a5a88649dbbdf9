#!/usr/bin/env python3
"""Makes the demo game's generated images and sounds (games/demo/image,
games/demo/sound). Everything is drawn or synthesised here from formulas, so
the files are ours and the same bytes come out on every run:

  image/star.png      96x96 RGBA  a five-pointed star (the rotated and scaled sprite)
  image/glow.png     128x128 RGBA a soft warm disc (drawn in add mode)
  image/shadow.png   128x48  RGB  a grey ellipse on white (drawn in multiply mode)
  sound/theme_a.wav  music, a calm four-chord loop (4 s)
  sound/theme_b.wav  music, a brighter arpeggio loop (4 s)
  sound/chime.wav    effect, two bell partials (0.8 s)
  sound/tick.wav     effect, a short click (0.06 s)
  sound/voice.wav    a "voice": a gliding, vowel-like tone (1.2 s)

Sounds are 8-bit mono WAVE at 11025 Hz to keep the repository small.
Run from anywhere: python3 scripts/make-demo-assets.py
"""
import math
import os
import struct
import wave
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "games", "demo")
RATE = 11025


def write_png(path, width, height, colour_type, rows):
    """rows: a list of bytes objects, one per row, already in channel order."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\0" + row for row in rows)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(data)


def clamp(v):
    return max(0, min(255, int(round(v))))


def star():
    size, cx, cy = 96, 47.5, 49.5
    outer, inner = 46.0, 19.0
    points = []
    for i in range(10):
        r = outer if i % 2 == 0 else inner
        a = -math.pi / 2 + i * math.pi / 5
        points.append((cx + r * math.cos(a), cy + r * math.sin(a)))

    def inside(x, y):
        hit = False
        for i in range(10):
            (x1, y1), (x2, y2) = points[i], points[(i + 1) % 10]
            if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                hit = not hit
        return hit

    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            # 4x4 supersampling for soft edges.
            cover = sum(inside(x + (i + 0.5) / 4, y + (j + 0.5) / 4) for i in range(4) for j in range(4)) / 16
            shade = 1.0 - 0.35 * (y / size)
            row += bytes((clamp(255 * shade), clamp(214 * shade), clamp(90 * shade), clamp(255 * cover)))
        rows.append(bytes(row))
    write_png(os.path.join(ROOT, "image", "star.png"), size, size, 6, rows)


def glow():
    size = 128
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            d = math.hypot(x - 63.5, y - 63.5) / 64.0
            a = max(0.0, 1.0 - d) ** 2
            row += bytes((255, 190, 110, clamp(255 * a)))
        rows.append(bytes(row))
    write_png(os.path.join(ROOT, "image", "glow.png"), size, size, 6, rows)


def shadow():
    w, h = 128, 48
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            d = math.hypot((x - 63.5) / 62.0, (y - 23.5) / 22.0)
            v = 255 - 150 * max(0.0, min(1.0, (1.0 - d) * 3))
            row += bytes((clamp(v), clamp(v), clamp(v + 10)))
        rows.append(bytes(row))
    write_png(os.path.join(ROOT, "image", "shadow.png"), w, h, 2, rows)


def write_wave(path, samples):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(1)
        out.setframerate(RATE)
        out.writeframes(bytes(clamp(128 + 120 * s) for s in samples))


def note(freq, t, length):
    # A plucked tone: fast attack, exponential decay, a touch of the octave.
    env = min(1.0, t * 200) * math.exp(-3.0 * t / length)
    return env * (0.7 * math.sin(2 * math.pi * freq * t) + 0.3 * math.sin(4 * math.pi * freq * t))


def loop(chords, beat, per_chord):
    out = []
    for chord in chords:
        for k in range(per_chord):
            freq = chord[k % len(chord)]
            n = int(RATE * beat)
            out += [0.55 * note(freq, i / RATE, beat) for i in range(n)]
    return out


def sounds():
    folder = os.path.join(ROOT, "sound")
    os.makedirs(folder, exist_ok=True)
    c, e, g, a, f, d, b = 261.63, 329.63, 392.00, 440.00, 349.23, 293.66, 493.88
    write_wave(os.path.join(folder, "theme_a.wav"),
               loop([(c, e, g), (a / 2, c, e), (f / 2, a / 2, c), (g / 2, b / 2, d)], 0.25, 4))
    write_wave(os.path.join(folder, "theme_b.wav"),
               loop([(e, g, b, 2 * e), (d, f, a, 2 * d), (c, e, g, 2 * c), (d, g, b, 2 * d)], 0.125, 8))
    n = int(RATE * 0.8)
    write_wave(os.path.join(folder, "chime.wav"),
               [math.exp(-4 * i / n) * (0.6 * math.sin(2 * math.pi * 880 * i / RATE) +
                                        0.3 * math.sin(2 * math.pi * 2217 * i / RATE)) for i in range(n)])
    n = int(RATE * 0.06)
    write_wave(os.path.join(folder, "tick.wav"),
               [math.exp(-30 * i / n) * math.sin(2 * math.pi * 1500 * i / RATE) for i in range(n)])
    n = int(RATE * 1.2)
    voice = []
    phase = 0.0
    for i in range(n):
        t = i / RATE
        freq = 180 + 60 * math.sin(2 * math.pi * 1.5 * t)
        phase += 2 * math.pi * freq / RATE
        env = min(1.0, t * 20) * min(1.0, (1.2 - t) * 10)
        # A few harmonics weighted like an open vowel.
        voice.append(env * 0.5 * sum(w * math.sin(k * phase) for k, w in ((1, 1.0), (2, 0.6), (3, 0.5), (4, 0.2))))
    write_wave(os.path.join(folder, "voice.wav"), voice)


if __name__ == "__main__":
    star()
    glow()
    shadow()
    sounds()
