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
import sys
import types

from ._batch import batch
from ._hierarchy import Hierarchy, load, segment
from ._video import optical_flow, read_video

__version__ = "1.0.0"

__all__ = ["Hierarchy", "batch", "load", "optical_flow", "read_video", "segment"]


class _Package(types.ModuleType):
    # Importing the submodule vseg.evaluate binds its name on the package: the name stays the
    # function, whichever came first.
    def __setattr__(self, name, value):
        if name == "evaluate" and isinstance(value, types.ModuleType):
            value = value.evaluate
        super().__setattr__(name, value)


sys.modules[__name__].__class__ = _Package


def __getattr__(name):
    # The evaluation module draws on matplotlib: imported only when asked for.
    if name == "evaluate":
        importlib.import_module(__name__ + ".evaluate")
        return globals()["evaluate"]
    raise AttributeError("module 'vseg' has no attribute %r" % name)
