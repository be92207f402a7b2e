"""Shared inputs: a short real clip, and the command-line programs of the build beside it."""

import os
import subprocess

import numpy as np
import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.environ.get("VSEG_BUILD", os.path.join(ROOT, "build"))
CLIP = "/usr/share/doc/opencv-doc/examples/data/tree.avi"
NUMBERS = ["5", "1.5", "0.001", "4"]


def program(name):
    """Path of a command-line program of the build; skips the test when it is not built."""
    folder = {"vseg": "driver", "vseg-prepare": "prepare"}[name]
    path = os.path.join(BUILD, folder, name)
    if not os.access(path, os.X_OK):
        pytest.skip("%s is not built (set VSEG_BUILD to the CMake build folder)" % path)
    return path


def read_flo(path):
    """A Middlebury .flo file as float32 (H, W, 2)."""
    header = np.fromfile(path, dtype="<i4", count=3)
    return np.fromfile(path, dtype="<f4", offset=12).reshape(header[2], header[1], 2)


def read_sgm(path):
    """A frames.sgm label file as uint64 (T, H, W)."""
    width, height, frames = np.fromfile(path, dtype="<u8", count=3)
    return np.fromfile(path, dtype="<u8", offset=24).reshape(frames, height, width)


@pytest.fixture(scope="session")
def clip():
    if not os.path.exists(CLIP):
        pytest.skip("%s is missing (Debian's opencv-doc)" % CLIP)
    return CLIP


@pytest.fixture(scope="session")
def command_line_run(clip, tmp_path_factory):
    """vseg-prepare and vseg (--png none) on 4 frames of the clip at 96 pixels."""
    out = str(tmp_path_factory.mktemp("cli"))
    subprocess.run([program("vseg-prepare"), clip, out, "--count", "4", "--max-side", "96"],
                   check=True, capture_output=True)
    subprocess.run([program("vseg"), "0", "3"] + NUMBERS + [out, out + "/run", "--png", "none"],
                   check=True, capture_output=True)
    return out
