"""vseg.evaluate: the metrics on small volumes checked by hand, the readers of every label
format, and agreement with the reference script on a real clip."""

import csv
import importlib
import importlib.util
import os
import subprocess

import numpy as np
import pytest

# The module itself: the package's name `evaluate` is the function.
ev = importlib.import_module("vseg.evaluate")

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SHARED = os.environ.get("VORADA_SHARED_DIR", os.path.join(ROOT, "..", "shared"))


# Two frames of 2 x 4. Ground truth: g1 the left half, g2 the right half, in both frames.
# Segmentation: s0 covers three columns in frame 0 and two in frame 1, s1 the rest.
#   gt  1 1 2 2 | 1 1 2 2      seg  0 0 0 1 | 0 0 1 1
#       1 1 2 2 | 1 1 2 2           0 0 0 1 | 0 0 1 1
GT = np.array([[[1, 1, 2, 2]] * 2] * 2)
SEG = np.array([[[0, 0, 0, 1]] * 2, [[0, 0, 1, 1]] * 2])


def test_region_metrics_by_hand():
    # |s0| = 10, |s1| = 6; s0 holds all 8 voxels of g1 and 2 of g2, s1 the other 6 of g2.
    result = ev.score(SEG, ev.prepare_truth(GT, 0), tolerance=0)
    assert result["n_supervoxels"] == 2
    assert result["ue_xc"] == pytest.approx(((10 - 8) / 8 + (10 + 6 - 8) / 8) / 2)
    assert result["ue_np"] == pytest.approx((min(8, 2) + min(2, 8) + min(6, 0)) / 16)
    assert result["asa"] == pytest.approx((8 + 6) / 16)
    assert result["mean_duration"] == 2.0
    # Labels need not be small or dense.
    sparse = ev.score(SEG * 10**9 + 7, ev.prepare_truth(GT, 0), tolerance=0)
    assert sparse["ue_xc"] == result["ue_xc"]


def test_boundary_metrics_by_hand():
    # Ground-truth boundary: column 1 of each frame. The segmentation's: column 2 in frame 0,
    # column 1 in frame 1; and column 2 changes label from frame 0 to 1.
    exact = ev.score(SEG, ev.prepare_truth(GT, 0), tolerance=0)
    assert (exact["br2d"], exact["bp2d"], exact["br3d"]) == (0.5, 0.5, 0.5)
    near = ev.score(SEG, ev.prepare_truth(GT, 1), tolerance=1)
    assert (near["br2d"], near["bp2d"], near["br3d"]) == (1.0, 1.0, 1.0)

    # One frame pair of 1 x 2: the ground truth splits only the second frame, which makes one
    # spatial and one temporal boundary voxel. A segmentation that changes every label over
    # time recalls the temporal one alone, and has no spatial boundary to be precise about.
    gt = np.array([[[1, 1]], [[1, 2]]])
    result = ev.score(np.array([[[0, 0]], [[1, 1]]]), ev.prepare_truth(gt, 0), tolerance=0)
    assert (result["br2d"], result["bp2d"], result["br3d"]) == (0.0, None, 0.5)
    assert ev.score(gt, ev.prepare_truth(gt, 0), tolerance=0)["br3d"] == 1.0


def test_ignored_label_leaves_voxels_and_boundaries_out():
    # Without g2 every scored voxel is in s0 and g1 alone; the only ground-truth boundary
    # touched g2, so no boundary metric has anything to score.
    result = ev.score(SEG, ev.prepare_truth(GT, 0, ignore_label=2), tolerance=0)
    assert (result["ue_xc"], result["ue_np"], result["asa"]) == (0.0, 0.0, 1.0)
    assert (result["br2d"], result["br3d"]) == (None, None)


def test_explained_variation_by_hand():
    # Grey values 0 0 10 30 in two regions: mean 10, total 600 per channel, explained
    # 2 * (0 - 10)^2 + 2 * (20 - 10)^2 = 400 per channel.
    video = np.repeat(np.array([0.0, 0, 10, 30]).reshape(1, 1, 4, 1), 3, axis=3)
    seg = np.array([[[0, 0, 1, 1]]])
    truth = ev.prepare_truth(np.array([[[1, 1, 1, 1]]]), 0)
    assert ev.score(seg, truth, tolerance=0, video=video)["ev"] == pytest.approx(400 / 600)
    assert ev.score(seg, truth, tolerance=0)["ev"] is None


def save_png(path, array):
    from PIL import Image

    Image.fromarray(array).save(path)


def test_every_label_format_scores_alike_and_the_outputs_are_written(tmp_path):
    rng = np.random.default_rng(5)
    gt = rng.integers(1, 4, size=(3, 6, 8)).repeat(2, axis=1).repeat(2, axis=2)  # (3, 12, 16)
    seg = rng.integers(0, 5, size=(3, 4, 4)).repeat(3, axis=1).repeat(4, axis=2)
    # Ground truth as colour images, names in natural order (9 before 10 before 11).
    (tmp_path / "gt").mkdir()
    palette = np.array([[0, 0, 0], [200, 10, 10], [10, 200, 10], [10, 10, 200]], np.uint8)
    for t in range(3):
        save_png(tmp_path / "gt" / ("gt_%d.png" % (9 + t)), palette[gt[t]])
    # One run with a level in each format, one peer folder of 16-bit label images.
    run = tmp_path / "run" / "segmentations"
    for level in ("a", "b", "c"):
        (run / level).mkdir(parents=True)
    header = np.array([16, 12, 3], "<u8")
    np.concatenate([header, (seg * 1000).ravel().astype("<u8")]).tofile(run / "a" / "frames.sgm")
    np.save(run / "b" / "labels.npy", seg.astype(np.int32))
    for t in range(3):
        save_png(run / "c" / ("%05d.png" % t), (seg[t] + 300).astype(np.uint16))
    peer = tmp_path / "peer" / "4"
    peer.mkdir(parents=True)
    for t in range(3):
        save_png(peer / ("%d.png" % t), (seg[t] + 1).astype(np.uint16))

    rows = ev.evaluate([str(tmp_path / "run"), str(tmp_path / "peer")], str(tmp_path / "gt"),
                       tolerance=1)
    expected = ev.score(seg, ev.prepare_truth(gt, 1), tolerance=1)
    assert [(row["run"], row["level"]) for row in rows] == [
        ("run", "a"), ("run", "b"), ("run", "c"), ("peer", "4")]
    for row in rows:
        assert {m: row[m] for m in ev.METRICS} == pytest.approx(expected)

    assert ev.main([str(tmp_path / "run"), "--gt", str(tmp_path / "gt"), "--csv",
                    str(tmp_path / "t.csv"), "--plot", str(tmp_path / "p.png")]) == 0
    with open(tmp_path / "t.csv") as file:
        table = list(csv.reader(file))
    assert table[0] == ["run", "level"] + list(ev.METRICS) and len(table) == 4
    assert table[1][-2] == ""  # no frames: no explained variation
    assert (tmp_path / "p.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    assert ev.main([str(tmp_path / "peer"), "--gt", str(tmp_path / "run")]) == 1


def test_region_counts_cut_the_tree(monkeypatch, tmp_path):
    assert ev.parse_regions("50:200:50") == [50, 100, 150, 200]
    assert ev.parse_regions("20,100,900") == [20, 100, 900]
    assert ev.parse_regions("7,5:10:5,10") == [7, 5, 10]
    for text in ("50:200:0", "5,x", "0,3"):
        with pytest.raises(Exception):
            ev.parse_regions(text)

    gt = np.array([[[1, 1, 2, 2]] * 2] * 2)
    (tmp_path / "gt").mkdir()
    for t in range(2):
        save_png(tmp_path / "gt" / ("%d.png" % t), gt[t].astype(np.uint8))
    asked = []

    class Tree:
        def labels(self, n):
            asked.append(n)
            return SEG.astype(np.int32) if n == 2 else np.zeros((2, 2, 4), np.int32)

    monkeypatch.setattr(ev, "_load_hierarchy", lambda run_dir: Tree())
    rows = ev.evaluate(str(tmp_path), str(tmp_path / "gt"), regions=[2, 1], tolerance=0)
    assert asked == [2, 1]
    assert [(row["level"], row["n_supervoxels"]) for row in rows] == [("2", 2), ("1", 1)]
    assert rows[0]["asa"] == pytest.approx(14 / 16)


@pytest.fixture(scope="module")
def clip_run(tmp_path_factory):
    """(run folder, clip folder): a vseg run of alley_1_half, frames 0-2 unless VSEG_EVAL_RUN
    names a finished run of the clip; skips without the shared data."""
    clip = os.path.join(SHARED, "data", "alley_1_half")
    if not os.path.isdir(clip):
        pytest.skip("the shared data are absent")
    run = os.environ.get("VSEG_EVAL_RUN")
    if not run:
        program = os.path.join(os.environ.get("VSEG_BUILD", os.path.join(ROOT, "build")),
                               "driver", "vseg")
        if not os.access(program, os.X_OK):
            pytest.skip("%s is not built (set VSEG_BUILD)" % program)
        run = str(tmp_path_factory.mktemp("alley") / "run")
        subprocess.run([program, "0", "2", "5", "1.5", "0.001", "4", clip, run, "--png", "none"],
                       check=True, capture_output=True)
    return run, clip


def test_agrees_with_the_reference_script_on_a_real_clip(clip_run):
    pytest.importorskip("cv2")
    run, clip = clip_run
    script = os.path.join(SHARED, "tools", "seg_metrics.py")
    if not os.path.isfile(script):
        pytest.skip("the shared tools are absent")
    found = importlib.util.spec_from_file_location("seg_metrics", script)
    reference = importlib.util.module_from_spec(found)
    found.loader.exec_module(reference)

    rows = ev.evaluate(run, os.path.join(clip, "gt"))
    assert len(rows) == 16
    truth = reference.GroundTruth(os.path.join(clip, "gt"), os.path.join(clip, "frames"), 0,
                                  None, 2)
    for row in rows:
        theirs = reference.evaluate(
            reference.read_sgm(os.path.join(run, "segmentations", row["level"], "frames.sgm")),
            truth, 2)
        theirs["mean_duration"] = theirs["mean_temporal_extent"]
        assert theirs["ev"] is not None
        for metric in ev.METRICS:
            assert row[metric] == pytest.approx(theirs[metric], rel=1e-9, abs=1e-12), metric


def test_cuts_of_the_tree_score_as_the_levels_written(clip_run):
    pytest.importorskip("vseg._core")
    run, clip = clip_run
    levels = {row["level"]: row for row in ev.evaluate(run, os.path.join(clip, "gt"))}
    for row in ev.evaluate(run, os.path.join(clip, "gt"), regions=[901, 3]):
        level = levels[str(int(row["level"]) - 1)]
        assert {m: row[m] for m in ev.METRICS} == {m: level[m] for m in ev.METRICS}
