"""The package against the command line, and its handling of bad input, threads and Ctrl-C."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import vseg
from conftest import program, read_flo, read_sgm


@pytest.fixture(scope="module")
def arrays(clip):
    frames = vseg.read_video(clip, count=4, max_side=96)
    forward, backward = vseg.optical_flow(frames)
    return frames, forward, backward


@pytest.fixture(scope="module")
def hierarchy(arrays):
    return vseg.segment(*arrays)


def test_frames_and_flows_equal_vseg_prepare(arrays, command_line_run):
    frames, forward, backward = arrays
    assert frames.dtype == np.uint8 and frames.shape == (4, 72, 96, 3)
    np.testing.assert_array_equal(vseg.read_video(command_line_run + "/frames"), frames)
    assert forward.dtype == np.float32 and forward.shape == (3, 72, 96, 2)
    for t in range(3):
        flows = command_line_run + "/flows/flow_%d_%d.flo"
        assert read_flo(flows % (t, t + 1)).tobytes() == forward[t].tobytes()
        assert read_flo(flows % (t + 1, t)).tobytes() == backward[t].tobytes()
    single, _ = vseg.optical_flow(frames, threads=1)
    assert single.tobytes() == forward.tobytes()


def test_hierarchy_equals_the_command_line_tree(hierarchy, command_line_run, tmp_path):
    run = command_line_run + "/run"
    hierarchy.save(tmp_path / "tree.bpt")
    with open(run + "/trees/tree.bpt", "rb") as expected:
        assert (tmp_path / "tree.bpt").read_bytes() == expected.read()
    loaded = vseg.load(run)
    assert loaded.num_leaves == hierarchy.num_leaves
    np.testing.assert_array_equal(loaded.merges, hierarchy.merges)
    levels = sorted(int(level) for level in os.listdir(run + "/segmentations"))
    assert levels
    for level in levels:
        labels = hierarchy.labels(level + 1)
        assert labels.dtype == np.int32 and labels.shape == (4, 72, 96)
        assert np.array_equal(np.unique(labels), np.arange(level + 1))
        # The same partition: the pairs (ours, theirs) are as many as the regions.
        theirs = read_sgm(run + "/segmentations/%d/frames.sgm" % level)
        pairs = np.unique(np.stack([labels.ravel(), theirs.ravel().astype(np.int64)]), axis=1)
        assert pairs.shape[1] == level + 1


def test_cuts_and_merges(hierarchy):
    merges = hierarchy.merges
    assert merges.dtype.names == ("first", "second", "label", "regions", "distance")
    assert len(merges) == hierarchy.num_leaves - hierarchy.fewest_regions
    np.testing.assert_array_equal(merges["label"], hierarchy.num_leaves + np.arange(len(merges)))
    np.testing.assert_array_equal(hierarchy.labels(hierarchy.num_leaves).ravel(),
                                  np.unique(hierarchy.leaves.ravel(), return_inverse=True)[1])
    cut = merges["distance"][100]
    expected = hierarchy.num_leaves - np.argmax(merges["distance"] >= cut)
    assert hierarchy.labels(distance=cut).max() + 1 == expected
    assert hierarchy.labels(distance=np.inf).max() + 1 == hierarchy.fewest_regions


@pytest.mark.parametrize("call, error, text", [
    (lambda f, a, b: vseg.segment(f.astype(np.float32), a, b), TypeError, "frames"),
    (lambda f, a, b: vseg.segment(f[..., :2], a, b), ValueError, "frames"),
    (lambda f, a, b: vseg.segment(f, a.astype(np.float64), b), TypeError, "forward"),
    (lambda f, a, b: vseg.segment(f, a, b[:2]), ValueError, "backward"),
    (lambda f, a, b: vseg.segment(f[:, :10], a, b), ValueError, "forward"),
    (lambda f, a, b: vseg.segment(f, a, b, color_scale=0), ValueError, "color_scale"),
    (lambda f, a, b: vseg.segment(f, a, b, motion_scale=float("nan")), ValueError,
     "motion_scale"),
    (lambda f, a, b: vseg.segment(f, a, b, area_fraction="1"), TypeError, "area_fraction"),
    (lambda f, a, b: vseg.segment(f, a, b, num_colors=256), ValueError, "num_colors"),
    (lambda f, a, b: vseg.segment(f, a, b, num_colors=2.5), TypeError, "num_colors"),
    (lambda f, a, b: vseg.optical_flow(f, preset="slow"), ValueError, "preset"),
    (lambda f, a, b: vseg.optical_flow(f[..., 0]), ValueError, "frames"),
    (lambda f, a, b: vseg.optical_flow(f[:, :10, :40]), ValueError, "frames of 40x10 are too"),
    (lambda f, a, b: vseg.read_video(f), TypeError, "path"),
    (lambda f, a, b: vseg.read_video("clip.mp4", step=0), ValueError, "step"),
])
def test_bad_arguments_are_named(arrays, call, error, text):
    with pytest.raises(error, match=text):
        call(*arrays)


def test_bad_values_and_library_errors(arrays, hierarchy, clip, tmp_path):
    frames, forward, backward = arrays
    broken = backward.copy()
    broken[1, 5, 7, 1] = np.inf
    with pytest.raises(ValueError, match=r"backward holds a non-finite value at \[1, 5, 7, 1\]"):
        vseg.segment(frames, forward, broken)
    with pytest.raises(ValueError, match="n must be between"):
        hierarchy.labels(hierarchy.num_leaves + 1)
    with pytest.raises(TypeError, match="exactly one"):
        hierarchy.labels(5, distance=0.1)
    # Messages of the C++ side arrive unchanged.
    with pytest.raises(FileNotFoundError, match="^File %s/trees/tree.bpt not found$" % tmp_path):
        vseg.load(tmp_path)
    with pytest.raises(RuntimeError) as raised:
        vseg.read_video(clip, first=10**6)
    printed = subprocess.run([program("vseg-prepare"), clip, str(tmp_path / "out"), "--first",
                              str(10**6)], capture_output=True, text=True).stderr
    assert printed == "vseg-prepare: %s\n" % raised.value


def test_threads_segment_as_one_after_the_other(arrays, hierarchy):
    results = [None, None]

    def run(slot):
        results[slot] = vseg.segment(*arrays)

    threads = [threading.Thread(target=run, args=(slot,)) for slot in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for result in results:
        np.testing.assert_array_equal(result.leaves, hierarchy.leaves)
        np.testing.assert_array_equal(result.merges, hierarchy.merges)


def test_ctrl_c_interrupts_segment_within_a_second(clip, tmp_path):
    script = tmp_path / "segment.py"
    script.write_text(textwrap.dedent("""
        import sys, vseg
        frames = vseg.read_video(sys.argv[1], count=12, max_side=240)
        flows = vseg.optical_flow(frames)
        print("ready", flush=True)
        try:
            vseg.segment(frames, *flows)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
    """))
    child = subprocess.Popen([sys.executable, str(script), clip], stdout=subprocess.PIPE,
                             text=True)
    assert child.stdout.readline() == "ready\n"
    time.sleep(0.3)  # in the tracking stage, which answers no stop request
    child.send_signal(signal.SIGINT)
    sent = time.monotonic()
    assert child.stdout.readline() == "interrupted\n"
    assert time.monotonic() - sent < 1.0
    assert child.wait(timeout=60) == 0  # the exit waits for the stopped run


def test_evaluate_loads_on_first_use():
    assert vseg.evaluate.__module__ == "vseg.evaluate" and callable(vseg.evaluate)
