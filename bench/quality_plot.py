#!/usr/bin/python3
"""Curves of quality_attempts.py output against the default run and the graph-based peer.

  quality_plot.py OUT.png TITLE DEFAULT.jsonl [NAME=]ATTEMPT.jsonl [...]

Each JSONL file holds lines {"attempt", "regions", "ue_np", "asa", "br2d"} (the first one is
drawn in black as the default); a line is labelled NAME, else by its attempt. The peer's points are its alley_1_half scores with the same flows
(tolerance 2 px): regions, UE_np, ASA, BR2d (a range is drawn at its middle).
"""
import json
import sys

import matplotlib

matplotlib.use('Agg')
import matplotlib.pyplot as plt  # noqa: E402

PEER = [(806, 0.143, 0.928, 0.965), (521, 0.163, 0.918, 0.947), (300, 0.216, 0.8895, 0.897),
        (204, 0.259, 0.867, 0.8425), (98, 0.395, 0.794, 0.734)]


def load(path):
    rows = [json.loads(line) for line in open(path) if line.strip()]
    return sorted(rows, key=lambda r: r['regions'])


def main():
    out, title, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    fig, ax = plt.subplots(1, 3, figsize=(13, 3.6))
    for i, arg in enumerate(files):
        name, _, path = arg.rpartition('=')
        rows = load(path)
        name = name or ('default' if i == 0 else rows[0]['attempt'])
        for k, key in enumerate(['ue_np', 'asa', 'br2d']):
            ax[k].plot([r['regions'] for r in rows], [r[key] for r in rows],
                       'k-o' if i == 0 else '-o', ms=3, label=name)
    for k, name in enumerate(['UE_np (lower is better)', 'ASA', 'BR2d (2 px)']):
        ax[k].plot([p[0] for p in PEER], [p[k + 1] for p in PEER], 'rx', ms=8, mew=2,
                   label='graph-based peer')
        ax[k].set_xlabel('regions')
        ax[k].set_title(name, fontsize=10)
        ax[k].set_xscale('log')
        ax[k].grid(True, alpha=0.3)
    ax[0].legend(fontsize=7)
    fig.suptitle(title, fontsize=10)
    fig.tight_layout()
    fig.savefig(out, dpi=80)
    plt.close(fig)


if __name__ == '__main__':
    main()
