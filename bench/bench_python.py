"""Time and memory of the Python package beside the command line's on the same input.

    .venv/bin/python bench/bench_python.py segment DATA_DIR [FRAMES]
        vseg.segment on DATA_DIR's frames/ and flows/ (the first FRAMES, default 10): CPU
        seconds of segment alone and of the whole script, the resident memory before segment
        (interpreter, libraries, input arrays) and the process's peak. Compare with run.json of
        `vseg 0 FRAMES-1 5 1.5 0.001 4 DATA_DIR OUT --png none`, run in turn.
    .venv/bin/python bench/bench_python.py flows INPUT
        vseg.read_video + vseg.optical_flow on a video or image folder: wall and CPU seconds.
        Compare with `/usr/bin/time vseg-prepare INPUT OUT --force`, run in turn.
"""

import os
import resource
import sys
import time

import numpy as np
from PIL import Image

import vseg


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def read_flo(path):
    header = np.fromfile(path, dtype="<i4", count=3)
    return np.fromfile(path, dtype="<f4", offset=12).reshape(header[2], header[1], 2)


def flows(source):
    start_cpu, start_wall = cpu_seconds(), time.monotonic()
    frames = vseg.read_video(source)
    vseg.optical_flow(frames)
    print("read_video + optical_flow: %d frames, wall %.2f s, cpu %.2f s"
          % (len(frames), time.monotonic() - start_wall, cpu_seconds() - start_cpu))


def segment(data, count):
    # Frames through PIL: the process holds what segment needs, not OpenCV's libraries.
    frames = np.stack([np.asarray(Image.open(os.path.join(data, "frames", "frame%03d.png" % t))
                                  .convert("RGB")) for t in range(count)])
    flows = os.path.join(data, "flows", "flow_%d_%d.flo")
    forward = np.stack([read_flo(flows % (t, t + 1)) for t in range(count - 1)])
    backward = np.stack([read_flo(flows % (t + 1, t)) for t in range(count - 1)])
    before_kib = resident_kib()
    start_cpu, start_wall = cpu_seconds(), time.monotonic()
    h = vseg.segment(frames, forward, backward, color_scale=5, motion_scale=1.5,
                     area_fraction=0.001, num_colors=4)
    segment_cpu, wall = cpu_seconds() - start_cpu, time.monotonic() - start_wall
    peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print("segment: %d leaves, cpu %.2f s (script %.2f s), wall %.2f s, rss before %d KiB, "
          "peak %d KiB, inputs %d KiB" % (h.num_leaves, segment_cpu, cpu_seconds(), wall,
                                          before_kib, peak_kib,
                                          (frames.nbytes + forward.nbytes + backward.nbytes)
                                          // 1024))


if __name__ == "__main__":
    if sys.argv[1] == "flows":
        flows(sys.argv[2])
    else:
        segment(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 10)
