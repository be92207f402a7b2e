#!/usr/bin/python3
"""Curves of the post-processing attempts on a finished vseg run (prototypes, not vseg code).

  quality_attempts.py OUT DATA ATTEMPT [--levels 901,801,...] [--write FILE.sgm]

OUT: a vseg output directory (reads OUT/trees/tree.bpt); DATA: its input directory with
frames/ and gt/. Each level is scored by the package's vseg.evaluate (tolerance 2 px).
Every level is the tree cut to that many regions, then changed per frame as ATTEMPT says:
  none      the cut itself (the default run's segmentation)
  icm       3 passes: each pixel takes, among its own and its 4 neighbours' regions, the one
            minimising |colour - region's mean colour in the frame|^2 / 10^2 + 1 per unlike
            4-neighbour (iterated conditional modes with a Potts term)
  regrow    every region keeps its largest 4-connected piece in each frame; the other pieces
            are emptied and grown back from their borders, cheapest first (seeded region
            growing), the cost of a pixel being its CIELab distance to the region's mean
  regrow_px the same, the cost being the distance to the neighbour pixel it grows from
            (a watershed on colour differences), then one icm pass
  recut_d   no change of pixels: the cut made top-down, splitting the region whose last merge
            had the largest distance first, instead of undoing merges in reverse order
Prints one JSON line per level (regions, ue_np, asa, br2d). CIELab from OpenCV (float input).
Run with Debian's /usr/bin/python3; each level of regrow_px takes about 15 s.
"""
import argparse
import heapq
import json
import os
import sys

import cv2
import numpy as np
from scipy import ndimage

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'python'))
from quality_breakdown import compact, cut_map, read_tree  # noqa: E402
from vseg.evaluate import GroundTruth, score  # noqa: E402

N4 = ((0, 1), (0, -1), (1, 0), (-1, 0))


def icm(s, lab, passes, sigma=10.0, beta=1.0):
    s = s.copy()
    S = int(s.max()) + 1
    for _ in range(passes):
        for t in range(s.shape[0]):
            st, c = s[t], lab[t]
            n = np.bincount(st.ravel(), minlength=S).astype(float)
            mu = np.stack([np.bincount(st.ravel(), weights=c[..., k].ravel(), minlength=S)
                           for k in range(3)], 1) / np.maximum(n, 1)[:, None]
            p = np.pad(st, 1, mode='edge')
            nbs = [p[1:-1, 2:], p[1:-1, :-2], p[2:, 1:-1], p[:-2, 1:-1]]
            best, choice = None, None
            for cand in [st] + nbs:
                cost = ((c - mu[cand]) ** 2).sum(2) / sigma ** 2 + beta * sum(nb != cand for nb in nbs)
                if best is None:
                    best, choice = cost, cand.copy()
                else:
                    m = cost < best
                    best[m], choice[m] = cost[m], cand[m]
            s[t] = choice
    return s


def regrow(s, lab, from_pixel):
    s = s.copy()
    S = int(s.max()) + 1
    Y, X = s.shape[1:]
    for t in range(s.shape[0]):
        st, c = s[t], lab[t]
        free = np.zeros(st.shape, bool)
        for k, box in enumerate(ndimage.find_objects(st + 1)):
            if box is None:
                continue
            pieces, n = ndimage.label(st[box] == k)
            if n > 1:
                sizes = np.bincount(pieces.ravel())
                sizes[0] = 0
                free[box] |= (pieces > 0) & (pieces != np.argmax(sizes))
        kept = ~free
        n = np.bincount(st[kept], minlength=S).astype(float)
        mu = np.stack([np.bincount(st[kept], weights=c[..., k][kept], minlength=S)
                       for k in range(3)], 1) / np.maximum(n, 1)[:, None]

        def cost(y, x, label, qy, qx):
            ref = c[qy, qx] if from_pixel else mu[label]
            return float(((c[y, x] - ref) ** 2).sum())

        heap = []
        for y, x in zip(*np.nonzero(free)):
            for dy, dx in N4:
                qy, qx = y + dy, x + dx
                if 0 <= qy < Y and 0 <= qx < X and kept[qy, qx]:
                    heap.append((cost(y, x, st[qy, qx], qy, qx), y, x, st[qy, qx]))
        heapq.heapify(heap)
        while heap:
            _, y, x, label = heapq.heappop(heap)
            if not free[y, x]:
                continue
            free[y, x] = False
            st[y, x] = label
            for dy, dx in N4:
                qy, qx = y + dy, x + dx
                if 0 <= qy < Y and 0 <= qx < X and free[qy, qx]:
                    heapq.heappush(heap, (cost(qy, qx, label, y, x), qy, qx, label))
    return s


def recut_by_distance(leaves, merges, regions):
    """Top-down cut: split the region whose merge has the largest distance, until `regions`."""
    n_leaves = int(leaves.max()) + 1
    first = merges['first'].astype(np.int64)
    second = merges['second'].astype(np.int64)
    parent = np.full(n_leaves + len(merges), -1)
    parent[first] = parent[second] = np.arange(n_leaves, n_leaves + len(merges))
    roots = np.nonzero(parent < 0)[0]
    heap = [(-merges['distance'][r - n_leaves], r) for r in roots if r >= n_leaves]
    heapq.heapify(heap)
    done = [r for r in roots if r < n_leaves]
    while heap and len(heap) + len(done) < regions:
        _, node = heapq.heappop(heap)
        for child in (first[node - n_leaves], second[node - n_leaves]):
            if child >= n_leaves:
                heapq.heappush(heap, (-merges['distance'][child - n_leaves], child))
            else:
                done.append(child)
    top = np.full(len(parent), -1)
    chosen = done + [node for _, node in heap]
    top[chosen] = chosen
    for i in range(len(merges) - 1, -1, -1):
        if top[n_leaves + i] >= 0:
            top[first[i]] = top[second[i]] = top[n_leaves + i]
    return top[:n_leaves][leaves]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('out')
    ap.add_argument('data')
    ap.add_argument('attempt', choices=['none', 'icm', 'regrow', 'regrow_px', 'recut_d'])
    ap.add_argument('--levels', default='901,801,701,601,501,401,301,201,101,21')
    ap.add_argument('--write', help='also write the (last) level as a label file')
    a = ap.parse_args()
    leaves, merges = read_tree(os.path.join(a.out, 'trees', 'tree.bpt'))
    T = leaves.shape[0]
    truth = GroundTruth(os.path.join(a.data, 'gt')).get(0, T, leaves.shape)
    frames = [cv2.imread(os.path.join(a.data, 'frames', 'frame%03d.png' % t)) for t in range(T)]
    lab = np.stack([cv2.cvtColor(f.astype(np.float32) / 255, cv2.COLOR_BGR2Lab)
                    for f in frames]).astype(np.float64)
    n_leaves = int(leaves.max()) + 1
    for regions in [int(x) for x in a.levels.split(',')]:
        if a.attempt == 'recut_d':
            s = recut_by_distance(leaves, merges, regions)
        else:
            s = compact(cut_map(merges, n_leaves, regions)[leaves])[0]
        if a.attempt == 'icm':
            s = icm(s, lab, 3)
        elif a.attempt == 'regrow':
            s = regrow(s, lab, False)
        elif a.attempt == 'regrow_px':
            s = icm(regrow(s, lab, True), lab, 1)
        r = score(s, truth)
        print(json.dumps({'attempt': a.attempt, 'level': regions, 'regions': r['n_supervoxels'],
                          'ue_np': round(r['ue_np'], 4), 'asa': round(r['asa'], 4),
                          'br2d': round(r['br2d'], 4)}), flush=True)
        if a.write:
            with open(a.write, 'wb') as f:
                np.array(s.shape[::-1], '<u8').tofile(f)
                (compact(s)[0].astype('<u8') + 1).tofile(f)


if __name__ == '__main__':
    main()
