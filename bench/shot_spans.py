#!/usr/bin/python3
"""Regions that span a shot boundary, level by level, in a vseg output.

    bench/shot_spans.py OUTPUT_DIR SHOTS_TXT FIRST_FRAME

Reads every segmentations/<level>/frames.sgm a frame at a time and prints, per level, how many
regions appear in more than one segment of SHOTS_TXT (the shots.txt vseg-prepare writes).
"""
import os
import sys

import numpy as np


def segments(path, first, frames):
    ids = np.full(frames, -1)
    for k, line in enumerate(l for l in open(path) if l.strip() and not l.startswith('#')):
        a, b, _ = line.split()
        lo, hi = max(int(a) - first, 0), min(int(b) - first, frames - 1)
        if lo <= hi:
            ids[lo:hi + 1] = k
    return ids


def main():
    out, shots, first = sys.argv[1], sys.argv[2], int(sys.argv[3])
    root = os.path.join(out, 'segmentations')
    worst = 0
    for level in sorted(os.listdir(root), key=int, reverse=True):
        path = os.path.join(root, level, 'frames.sgm')
        X, Y, T = np.fromfile(path, '<u8', count=3)
        seg = segments(shots, first, int(T))
        owner = {}
        spanning = set()
        for t in range(int(T)):
            labels = np.unique(np.fromfile(path, '<u8', count=int(X * Y), offset=24 + 8 * t * int(X * Y)))
            for label in labels.tolist():
                if owner.setdefault(label, seg[t]) != seg[t]:
                    spanning.add(label)
        print(f'level {level}: {len(owner)} regions, {len(spanning)} span a shot boundary')
        worst = max(worst, len(spanning))
    return 1 if worst else 0


if __name__ == '__main__':
    sys.exit(main())
