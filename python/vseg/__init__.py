"""vseg: unsupervised video segmentation by a binary partition tree of trajectories.

Frames and flows are NumPy arrays; a segmentation is a :class:`Hierarchy` of space-time regions
that gives label arrays at any number of regions.

>>> import vseg
>>> frames = vseg.read_video("clip.mp4", count=40, max_side=320)   # uint8 (T, H, W, 3)
>>> forward, backward = vseg.optical_flow(frames)                   # float32 (T-1, H, W, 2)
>>> h = vseg.segment(frames, forward, backward)
>>> labels = h.labels(100)                                          # int32 (T, H, W), 0 ... 99

Functions: :func:`read_video`, :func:`optical_flow`, :func:`segment`, :func:`load`,
:func:`batch`, and :func:`evaluate` (scores against ground truth).
"""

import importlib

from ._batch import batch
from ._hierarchy import Hierarchy, load, segment
from ._video import optical_flow, read_video

__version__ = "1.0.0"

__all__ = ["Hierarchy", "batch", "load", "optical_flow", "read_video", "segment"]


def __getattr__(name):
    # The evaluation module draws on matplotlib: imported only when asked for. Its import
    # binds the submodule to the name; the function takes the name back.
    if name == "evaluate":
        module = importlib.import_module(__name__ + ".evaluate")
        globals()["evaluate"] = module.evaluate
        return module.evaluate
    raise AttributeError("module 'vseg' has no attribute %r" % name)
