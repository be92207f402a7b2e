"""vseg.batch on a Dask cluster of two worker processes against a run one after the other."""

import filecmp
import os

import pytest
from PIL import Image

import vseg

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def clips(clip, tmp_path_factory):
    """Three folders of three small frames each, and a path that does not exist."""
    root = tmp_path_factory.mktemp("clips")
    frames = vseg.read_video(clip, count=9, max_side=48)
    paths = []
    for k in range(3):
        folder = root / ("clip%d" % k)
        folder.mkdir()
        for t in range(3):
            Image.fromarray(frames[3 * k + t]).save(folder / ("%d.png" % t))
        paths.append(str(folder))
    return paths + [str(root / "missing.mp4")]


def same_files(a, b):
    """Every file of the two trees equal, but the records of timings and of the folder's path."""
    compared = filecmp.dircmp(a, b, ignore=["run.json", "input.txt"])
    if compared.left_only or compared.right_only or compared.diff_files or compared.funny_files:
        return False
    _, mismatch, errors = filecmp.cmpfiles(a, b, compared.common_files, shallow=False)
    return not mismatch and not errors and all(
        same_files(os.path.join(a, sub), os.path.join(b, sub)) for sub in compared.common_dirs)


def test_cluster_batch_equals_sequential_and_survives_a_failure(clips, tmp_path):
    sequential = vseg.batch(clips, tmp_path / "one", png="fast")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        rows = vseg.batch(clips, tmp_path / "many", client=client, png="fast")
    for table in (sequential, rows):
        assert [row.path for row in table] == clips
        assert [row.status for row in table[:3]] == ["ok"] * 3
        assert "missing.mp4" in table[3].status and table[3].frames == 0
        assert all(row.frames == 3 and row.voxels == 3 * 48 * 36 for row in table[:3])
        assert all(row.peak_memory > 0 and row.seconds > 0 for row in table)
    assert os.path.exists(tmp_path / "many" / "clip1" / "segmentation" / "trees" / "tree.bpt")
    assert same_files(tmp_path / "one", tmp_path / "many")
