#!/usr/bin/python3
"""Where the undersegmentation error of a vseg run comes from.

  quality_breakdown.py OUT DATA [--levels 801,501] [--plot FILE.png]

OUT is a vseg output directory (reads OUT/trees/tree.bpt), DATA the input
directory with frames/, flows/ and gt/ (one grey label PNG per frame).
Run with Debian's /usr/bin/python3 (numpy, scipy, OpenCV, matplotlib).

Prints Markdown: the leaf partition's own UE_np / ASA (a floor for every
level: a cut of the tree only joins leaves) and leaf statistics; then per
level (number of regions) the ASA loss (voxels of a region outside its
dominant ground-truth segment, "wrong voxels") broken down by
  * leaf floor against merges, region size, temporal extent, leakiest regions;
  * distance of the wrong voxels to the nearest ground-truth border;
  * in-frame fragments: voxels of a region off its largest 4-connected piece
    in that frame;
  * local cues: CIELab and flow difference between the voxel's segment and
    the region's dominant segment, averaged over a 7x7 window;
  * forward-backward flow error (> 1 px) at the wrong voxels.
--plot draws the border distances, the local colour differences and the
wrong voxels per frame of the first two levels.
"""
import argparse
import os

import cv2
import numpy as np
from scipy import ndimage


def read_tree(path):
    X, Y, T, N, M = np.fromfile(path, '<u8', count=5, offset=8).astype(np.int64)
    leaves = np.fromfile(path, '<u4', count=X * Y * T, offset=56).reshape(T, Y, X)
    rec = np.dtype([('label', '<u4'), ('first', '<u4'), ('second', '<u4'),
                    ('regions', '<u4'), ('distance', '<f8')])
    merges = np.fromfile(path, rec, count=M, offset=56 + 4 * (X * Y * T + X * Y * T % 2))
    return leaves.astype(np.int64), merges


def cut_map(merges, n_leaves, regions):
    """Top label of every leaf after the merges that leave `regions` regions."""
    m = merges[:n_leaves - regions]
    top = np.arange(n_leaves + len(m))
    top[m['first'].astype(np.int64)] = m['label']
    top[m['second'].astype(np.int64)] = m['label']
    while not np.array_equal(top[top], top):
        top = top[top]
    return top[:n_leaves]


def read_flo(path):
    with open(path, 'rb') as f:
        np.fromfile(f, np.float32, 1)
        w, h = np.fromfile(f, np.int32, 2)
        return np.fromfile(f, np.float32, 2 * w * h).reshape(h, w, 2)


def compact(a):
    u, inv = np.unique(a.ravel(), return_inverse=True)
    return inv.reshape(a.shape), len(u)


def overlap(s, g, S, G):
    pair, cnt = np.unique(s.ravel() * G + g.ravel(), return_counts=True)
    return pair // G, pair % G, cnt.astype(np.float64)


def ue_asa(s, g):
    s, S = compact(s)
    g, G = compact(g)
    ps, pg, cnt = overlap(s, g, S, G)
    size_s = np.bincount(s.ravel(), minlength=S).astype(np.float64)
    best = np.zeros(S)
    np.maximum.at(best, ps, cnt)
    N = float(s.size)
    return np.minimum(cnt, size_s[ps] - cnt).sum() / N, best.sum() / N


def load(data, T):
    files = sorted(os.listdir(os.path.join(data, 'gt')))[:T]
    gt = np.stack([cv2.imread(os.path.join(data, 'gt', f), cv2.IMREAD_UNCHANGED) for f in files])
    rgb = np.stack([cv2.imread(os.path.join(data, 'frames', 'frame%03d.png' % t))
                    for t in range(T)])
    lab = np.stack([cv2.cvtColor(f.astype(np.float32) / 255, cv2.COLOR_BGR2Lab) for f in rgb])
    Y, X = gt.shape[1:]
    flow = np.zeros((T, Y, X, 2), np.float32)
    fb = np.zeros((T, Y, X), np.float32)
    gx, gy = np.meshgrid(np.arange(X, dtype=np.float32), np.arange(Y, dtype=np.float32))
    for t in range(T - 1):
        f = read_flo(os.path.join(data, 'flows', 'flow_%d_%d.flo' % (t, t + 1)))
        b = read_flo(os.path.join(data, 'flows', 'flow_%d_%d.flo' % (t + 1, t)))
        flow[t] = f
        bw = cv2.remap(b, gx + f[..., 0], gy + f[..., 1], cv2.INTER_LINEAR,
                       borderMode=cv2.BORDER_REPLICATE)
        fb[t] = np.linalg.norm(f + bw, axis=2)
    # thin: distance to the segment's own border (in-frame, 4-neighbourhood) <= 2 px
    edge_dist = np.zeros(gt.shape, np.float32)
    for t in range(T):
        border = np.zeros(gt.shape[1:], bool)
        border[:, :-1] |= gt[t, :, :-1] != gt[t, :, 1:]
        border[:, 1:] |= gt[t, :, :-1] != gt[t, :, 1:]
        border[:-1] |= gt[t, :-1] != gt[t, 1:]
        border[1:] |= gt[t, :-1] != gt[t, 1:]
        edge_dist[t] = cv2.distanceTransform((~border).astype(np.uint8), cv2.DIST_L2, 3)
    return gt.astype(np.int64), lab, flow, fb, edge_dist


def table(head, rows):
    out = ['| ' + ' | '.join(head) + ' |', '|' + '---|' * len(head)]
    out += ['| ' + ' | '.join(str(c) for c in r) + ' |' for r in rows]
    return '\n'.join(out)


def pct(x, total):
    return '%.1f %%' % (100.0 * x / total) if total else '-'


def level_breakdown(leaves, leaf_top, gt, lab, flow, fb, edge_dist, N):
    T = gt.shape[0]
    s, S = compact(leaf_top[leaves])
    g, G = compact(gt)
    sv = s.ravel()
    size_s = np.bincount(sv, minlength=S).astype(np.float64)
    ps, pg, cnt = overlap(s, g, S, G)
    best = np.zeros(S)
    np.maximum.at(best, ps, cnt)
    dom = np.zeros(S, np.int64)
    order = np.lexsort((cnt, ps))          # per region, largest overlap last
    dom[ps[order]] = pg[order]
    loss = size_s - best                   # ASA loss per region
    ue = np.minimum(cnt, size_s[ps] - cnt)
    ue_s = np.bincount(ps, weights=ue, minlength=S)
    wrong = g != dom[s]                    # voxels outside their region's dominant segment
    total = loss.sum()
    r = {'regions': S, 'ue_np': ue.sum() / N, 'asa': best.sum() / N, 'asa_loss_vox': int(total)}

    # leaf floor inside each region: voxels of a leaf outside the leaf's own dominant segment
    lv = leaves.ravel()
    L = lv.max() + 1
    lp, lg, lc = overlap(leaves, g, L, G)
    lbest = np.zeros(L)
    np.maximum.at(lbest, lp, lc)
    leaf_loss = np.bincount(lv, minlength=L) - lbest
    leaf_region = np.zeros(L, np.int64)
    leaf_region[lv] = sv
    r['leaf_floor_vox'] = int(leaf_loss.sum())
    nleaves = np.bincount(leaf_region[np.unique(lv)], minlength=S)

    frames = np.zeros((S, T), bool)
    frames[sv, np.repeat(np.arange(T), sv.size // T)] = True
    ext = frames.sum(1)
    rows = []
    for lo, hi in [(0, 1000), (1000, 5000), (5000, 20000), (20000, 10 ** 9)]:
        m = (size_s >= lo) & (size_s < hi)
        rows.append(['%d-%s' % (lo, hi if hi < 10 ** 9 else 'inf'), int(m.sum()),
                     pct(size_s[m].sum(), N), pct(loss[m].sum(), total),
                     pct(ue_s[m].sum(), ue.sum())])
    r['by_size'] = table(['region size (voxels)', 'regions', 'share of video',
                          'share of ASA loss', 'share of UE_np'], rows)
    r['all_frames'] = (int((ext == T).sum()), pct(loss[ext == T].sum(), total))
    r['single_leaf'] = (int((nleaves == 1).sum()), pct(loss[nleaves == 1].sum(), total))
    srt = np.sort(loss)[::-1]
    r['top10'], r['top50'] = pct(srt[:10].sum(), total), pct(srt[:50].sum(), total)
    leaky = loss > 0.3 * size_s
    r['leaky'] = (int(leaky.sum()), pct(loss[leaky].sum(), total))

    # where the wrong voxels lie: distance to the nearest ground-truth border
    d = np.round(edge_dist).astype(int)
    rows = []
    for lo, hi, name in [(0, 0, '0 (on the border)'), (1, 1, '1'), (2, 3, '2-3'), (4, 10 ** 9, '> 3')]:
        m = (d >= lo) & (d <= hi)
        rows.append([name, pct(m.sum(), N), pct((wrong & m).sum(), total),
                     pct((wrong & m).sum(), m.sum())])
    r['by_border'] = table(['distance to GT border (px)', 'share of video', 'share of wrong voxels',
                            'wrong rate'], rows)
    r['border_hist'] = [[float((d == k).sum() / N), float((wrong & (d == k)).sum() / total)]
                        for k in range(6)]

    # in-frame fragments: pieces of a region off its largest 4-connected piece in that frame
    frag = np.zeros(s.shape, bool)
    for t in range(T):
        for k, box in enumerate(ndimage.find_objects(s[t] + 1)):
            if box is None:
                continue
            pieces, n = ndimage.label(s[t][box] == k)
            if n > 1:
                sizes = np.bincount(pieces.ravel())
                sizes[0] = 0
                frag[t][box] |= (pieces > 0) & (pieces != np.argmax(sizes))
    r['fragments'] = table(['voxels', 'share of video', 'wrong rate', 'share of wrong voxels'], [
        ['off the largest piece (fragments)', pct(frag.sum(), N), pct((wrong & frag).sum(), frag.sum()),
         pct((wrong & frag).sum(), total)],
        ['on the largest piece', pct((~frag).sum(), N), pct((wrong & ~frag).sum(), (~frag).sum()),
         pct((wrong & ~frag).sum(), total)]])
    r['per_frame'] = [[int((wrong[t] & frag[t]).sum()), int((wrong[t] & ~frag[t]).sum())]
                      for t in range(T)]

    # local cues: colour and flow of the voxel's own segment against the region's dominant
    # segment, each averaged over its pixels in the 7x7 window (mixed border pixels average out)
    own_c, dom_c = np.zeros(lab.shape), np.zeros(lab.shape)
    own_f, dom_f = np.zeros(flow.shape), np.zeros(flow.shape)
    near = np.zeros(g.shape, bool)
    dmap = dom[s]
    for t in range(T):
        for k in range(G):
            m = (g[t] == k).astype(np.float32)
            if not m.any():
                continue
            n = cv2.boxFilter(m, -1, (7, 7), normalize=False)
            mc = np.stack([cv2.boxFilter(lab[t][..., c] * m, -1, (7, 7), normalize=False)
                           for c in range(3)], 2) / np.maximum(n, 1)[..., None]
            mf = np.stack([cv2.boxFilter(flow[t][..., c] * m, -1, (7, 7), normalize=False)
                           for c in range(2)], 2) / np.maximum(n, 1)[..., None]
            mo, md = g[t] == k, (dmap[t] == k) & (n > 0)
            own_c[t][mo], own_f[t][mo] = mc[mo], mf[mo]
            dom_c[t][md], dom_f[t][md] = mc[md], mf[md]
            near[t] |= md
    w = wrong & near
    w[-1] = False                          # the last frame has no flow
    dE = np.linalg.norm(own_c - dom_c, axis=-1)[w]
    dF = np.linalg.norm(own_f - dom_f, axis=-1)[w]
    nw = float(w.sum())
    rows = []
    for lo, hi in [(0, 5), (5, 10), (10, 10 ** 9)]:
        m = (dE >= lo) & (dE < hi)
        rows.append(['%d-%s' % (lo, hi if hi < 10 ** 9 else 'inf'), pct(m.sum(), nw),
                     pct((m & (dF < 0.5)).sum(), nw), pct((m & (dF >= 0.5)).sum(), nw)])
    r['contrast'] = table(['local CIELab difference', 'wrong voxels', 'flow difference < 0.5 px',
                           '>= 0.5 px'], rows)
    r['contrast_cover'] = pct(nw, wrong[:-1].sum())
    r['dE'], r['dF'] = dE, dF
    r['fb_bad'] = (pct((fb.ravel()[wrong.ravel()] > 1).sum(), total), pct((fb[:-1] > 1).sum(), fb[:-1].size))
    return r


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('out')
    ap.add_argument('data')
    ap.add_argument('--levels', default='801,501')
    ap.add_argument('--plot', help='PNG file for the figure of the first two levels')
    a = ap.parse_args()
    leaves, merges = read_tree(os.path.join(a.out, 'trees', 'tree.bpt'))
    T = leaves.shape[0]
    gt, lab, flow, fb, edge_dist = load(a.data, T)
    N = float(gt.size)
    L = int(leaves.max()) + 1
    lsize = np.bincount(leaves.ravel())
    lext = np.zeros(L, np.int64)
    for t in range(T):
        lext[np.unique(leaves[t])] += 1
    ue, asa = ue_asa(leaves, gt)
    print('## Leaves (%d for %d voxels)\n' % (L, gt.size))
    print(table(['measure', 'value'], [
        ['UE_np of the leaf partition', '%.4f' % ue], ['ASA of the leaf partition', '%.4f' % asa],
        ['leaves of 1 voxel', '%d (%s of leaves)' % ((lsize == 1).sum(), pct((lsize == 1).sum(), L))],
        ['voxels in leaves of 1 voxel', pct(lsize[lsize == 1].sum(), N)],
        ['voxels in leaves of 3 frames or more', pct(lsize[lext >= 3].sum(), N)],
        ['mean leaf size (voxels)', '%.2f' % lsize.mean()]]))
    results = []
    for R in [int(x) for x in a.levels.split(',')]:
        r = level_breakdown(leaves, cut_map(merges, L, R), gt, lab, flow, fb, edge_dist, N)
        results.append(r)
        print('\n## %d regions: UE_np %.4f, ASA %.4f, ASA loss %d voxels\n'
              % (r['regions'], r['ue_np'], r['asa'], r['asa_loss_vox']))
        print('- leaf floor (voxels of leaves outside their own dominant segment): %s of the loss;'
              ' the rest comes from merging leaves of different segments'
              % pct(r['leaf_floor_vox'], r['asa_loss_vox']))
        print('- regions spanning all %d frames: %d, %s of the loss; single-leaf regions: %d, %s'
              % ((T,) + r['all_frames'] + r['single_leaf']))
        print('- ten leakiest regions: %s of the loss, fifty: %s; regions more than 30 %% wrong:'
              ' %d, %s' % ((r['top10'], r['top50']) + r['leaky']))
        print('- wrong voxels with forward-backward flow error > 1 px: %s (whole video: %s)\n'
              % r['fb_bad'])
        for k in ['by_size', 'by_border', 'fragments']:
            print(r[k] + '\n')
        print('Local cues at the wrong voxels whose region\'s dominant segment lies within 3 px'
              ' (%s of them):\n' % r['contrast_cover'])
        print(r['contrast'] + '\n')
        print('Wrong voxels per frame (in fragments, on the largest piece): %s\n' % r['per_frame'])
    if a.plot:
        plot(results[:2], a.plot)


def plot(results, path):
    import matplotlib
    matplotlib.use('Agg')
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(1, 3, figsize=(13, 3.6))
    x = np.arange(6)
    for i, r in enumerate(results):
        h = np.array(r['border_hist'])
        if i == 0:
            ax[0].bar(x - 0.27, h[:, 0], 0.27, color='lightgray', label='share of video')
        ax[0].bar(x + 0.27 * i, h[:, 1], 0.27, label='share of wrong voxels, %d regions' % r['regions'])
    ax[0].set_xticks(x)
    ax[0].set_xticklabels(['0', '1', '2', '3', '4', '5'])
    ax[0].set_xlabel('distance to the nearest ground-truth border (px)')
    ax[0].legend(fontsize=7)
    for r in results:
        ax[1].hist(np.minimum(r['dE'], 40), bins=40, histtype='step',
                   label='%d regions' % r['regions'])
    ax[1].set_xlabel('local CIELab difference, own vs. dominant segment (clipped at 40)')
    ax[1].set_ylabel('wrong voxels')
    ax[1].legend(fontsize=7)
    for r in results:
        pf = np.array(r['per_frame'])
        ax[2].plot(pf[:, 1], '-o', ms=3, label='largest piece, %d regions' % r['regions'])
        ax[2].plot(pf[:, 0], '--o', ms=3, label='fragments, %d regions' % r['regions'])
    ax[2].set_xlabel('frame')
    ax[2].set_ylabel('wrong voxels')
    ax[2].set_ylim(bottom=0)
    ax[2].legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(path, dpi=80)
    plt.close(fig)


if __name__ == '__main__':
    main()
