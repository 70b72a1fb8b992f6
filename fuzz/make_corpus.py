#!/usr/bin/env python3
# Writes the seed corpus of the fuzz target: one file per situation worth starting from, in the
# input layout described at the top of form1_fuzz.cpp. Run from anywhere; rewrites fuzz/corpus.
import os
import struct

def side(n):
    # the widest range that holds n, as the decoder reads it
    for bits, span in ((0, 4), (1, 256), (3, 1025), (6, 4097)):
        if n < span:
            return bits << 13 | n
    raise ValueError(n)

def head(ticks=0, second=False, w=1000, h=800, phase=0):
    return (bytes([(ticks << 3) | (7 if second else 0)])
            + struct.pack('<HHH', side(w), side(h), phase))

def ev(kind, at, payload=b''):
    return bytes([kind]) + struct.pack('<H', at) + payload

TICK, KEY, CLICK, CLOSE, MOVE, RESIZE = 0, 1, 2, 3, 4, 7
def step(at, dx, dy): return ev(MOVE, at, struct.pack('<Bbb', 0, dx, dy))
def move16(at, x, y): return ev(MOVE, at, struct.pack('<Bhh', 1, x, y))
def move32(at, x, y): return ev(MOVE, at, struct.pack('<Bii', 2, x, y))
def resize(at, w, h): return ev(RESIZE, at, struct.pack('<HH', side(w), side(h)))

seeds = {
    'runs': head(8),
    'second_instance': head(8, second=True),
    'key_in_scatter': head(2) + ev(KEY, 500),
    'click_in_tick': head(3) + ev(CLICK, 1500),
    'close_in_tick': head(4) + ev(CLOSE, 2500),
    'slow_drag': head(6) + b''.join(step(900 + 150 * i, 10, 3) for i in range(40)),
    'sharp_move': head(2) + move16(1200, 100, 100) + move16(1800, 132, 100),
    'diagonal_move': head(2) + move16(1200, 100, 100) + move16(1800, 123, 123),
    'edge_moves': head(2) + move16(1100, 100, 100) + move16(1300, 131, 100)
        + move16(1500, 131, 131) + move16(1700, 141, 161),
    'huge_moves': head(2) + move32(1100, 2**31 - 1, -2**31) + move32(1300, 2**31 - 1, -2**31)
        + move16(1500, -32768, 32767),
    'resizes': head(6, w=640, h=480) + resize(1200, 0, 0) + resize(2100, 1, 1)
        + resize(3000, 1921, 1081) + resize(4500, 3, 5) + resize(5600, 1000, 800),
    'ticks_in_scatter': head(1) + b''.join(ev(TICK, at) for at in range(1, 400, 37))
        + ev(TICK, 1500) + ev(TICK, 1500),
    'empty_area': head(5, w=0, h=0),
    'one_pixel': head(5, w=1, h=1),
    'largest': head(1, w=4096, h=4096) + ev(KEY, 1600),
    'wrap': head(31, w=17, h=9, phase=2490) + b''.join(ev(TICK, 1100 + 1001 * i) for i in range(20)),
    'wrap_then_key': head(12, phase=2495) + ev(KEY, 9500),
}

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
