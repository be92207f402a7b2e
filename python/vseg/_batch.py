"""Many videos: each prepared and segmented in its own process, on a Dask cluster or in turn."""

import collections
import json
import os
import subprocess
import sys
import tempfile
import time

from . import _checks

BatchRow = collections.namedtuple(
    "BatchRow", ["path", "frames", "voxels", "seconds", "peak_memory", "status"])
BatchRow.__doc__ = """One video of a batch.

path: the video; frames: frames segmented; voxels: width * height * frames; seconds: wall time
of its job; peak_memory: peak resident bytes of its process; status: "ok" or the error message.
"""


def batch(paths, out_root, client=None, *, first=0, count=None, step=1, max_side=None,
          scale=None, flow="medium", threads=None, color_scale=5.0, motion_scale=1.5,
          area_fraction=0.001, num_colors=4, png="exact"):
    """Prepare and segment many videos, one task per video.

    Each video goes into ``out_root/<name>/`` (``name``: its file or folder name without the
    extension) in the command line's layout: ``frames/`` and ``flows/`` as ``vseg-prepare``
    writes them, and ``segmentation/`` as ``vseg`` writes it (segmentations, ``trees/tree.bpt``,
    ``run.json``), byte for byte the same. Every video runs in a process of its own, so a video
    that fails (or runs out of memory) does not stop the others.

    Parameters
    ----------
    paths : iterable of str or os.PathLike
        Video files or folders of images; their names must differ.
    out_root : str or os.PathLike
        Folder that receives one folder per video (created if missing). vseg reads paths up
        to their first blank: no blanks in it.
    client : dask.distributed.Client, optional
        Runs the tasks on its cluster; without one they run here, one after the other.
    first, count, step, max_side, scale, flow, threads
        As :func:`read_video` and :func:`optical_flow` (``flow`` is the preset).
    color_scale, motion_scale, area_fraction, num_colors
        As :func:`segment`.
    png : {'exact', 'fast', 'none'}, optional
        The frame images of the segmentations, as ``vseg --png``.

    Returns
    -------
    list of BatchRow
        One row per video in the order given: ``(path, frames, voxels, seconds, peak_memory,
        status)``; ``pandas.DataFrame(rows)`` makes a table of it.
    """
    paths = [_checks.path(path, "paths") for path in paths]
    out_root = os.path.abspath(_checks.path(out_root, "out_root"))
    names = [_video_name(path) for path in paths]
    if len(set(names)) != len(names):
        raise ValueError("paths must have different names; these share one: %s"
                         % [path for path, name in zip(paths, names) if names.count(name) > 1])
    if png not in ("exact", "fast", "none"):
        raise ValueError("png must be 'exact', 'fast' or 'none', not %r" % (png,))
    if flow not in ("fast", "medium", "fine"):
        raise ValueError("flow must be 'fast', 'medium' or 'fine', not %r" % (flow,))
    if max_side is not None and scale is not None:
        raise ValueError("give at most one of max_side and scale")
    settings = {
        "first": _checks.whole_number(first, "first"),
        "count": _checks.whole_number(count, "count", 1, allow_none=True) or 0,
        "step": _checks.whole_number(step, "step", 1),
        "max_side": _checks.whole_number(max_side, "max_side", 1, allow_none=True) or 0,
        "scale": 0.0 if scale is None else _checks.real_number(scale, "scale"),
        "flow": flow,
        "threads": _checks.whole_number(threads, "threads", 1, allow_none=True) or 0,
        "numbers": [repr(_checks.real_number(color_scale, "color_scale")),
                    repr(_checks.real_number(motion_scale, "motion_scale")),
                    repr(_checks.real_number(area_fraction, "area_fraction")),
                    str(_checks.whole_number(num_colors, "num_colors", 1))],
        "png": png,
    }
    os.makedirs(out_root, exist_ok=True)
    jobs = [dict(settings, input=path, output=os.path.join(out_root, name))
            for path, name in zip(paths, names)]
    if client is None:
        return [run_job(job) for job in jobs]
    return client.gather(client.map(run_job, jobs, pure=False))


def _video_name(path):
    name = os.path.basename(os.path.normpath(path))
    stem, _ = os.path.splitext(name)
    return stem or name


def run_job(job):
    """Runs one video of a batch in a child process and returns its BatchRow."""
    start = time.monotonic()
    with tempfile.TemporaryFile() as log:
        child = subprocess.Popen([sys.executable, "-m", "vseg._batch", json.dumps(job)],
                                 stdout=subprocess.PIPE, stderr=log)
        report = child.stdout.read()
        child.stdout.close()
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        seconds = time.monotonic() - start
        log.seek(0)
        lines = log.read().decode("utf-8", "replace").strip().splitlines()
    try:
        sizes = json.loads(report)
    except ValueError:
        sizes = {"frames": 0, "width": 0, "height": 0}
    if child.returncode == 0:
        outcome = "ok"
    else:
        outcome = lines[-1] if lines else "ended with status %d" % child.returncode
    return BatchRow(job["input"], sizes["frames"], sizes["frames"] * sizes["width"] *
                    sizes["height"], seconds, usage.ru_maxrss * 1024, outcome)


def _main(job):
    from . import _core, _prepare

    frames, width, height = _prepare.run_prepare(
        job["input"], job["output"], job["first"], job["count"], job["step"], job["max_side"],
        job["scale"], job["flow"], job["threads"], False)
    print(json.dumps({"frames": frames, "width": width, "height": height}), flush=True)
    return _core.run_vseg(["0", str(frames - 1)] + job["numbers"] +
                          [job["output"], job["output"] + "/segmentation", "--png", job["png"]])


if __name__ == "__main__":
    try:
        sys.exit(_main(json.loads(sys.argv[1])))
    except Exception as error:  # one line for the batch's table, as the programs print it
        print(str(error).replace("\n", " "), file=sys.stderr)
        sys.exit(1)
