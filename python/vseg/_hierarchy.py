"""Segmenting frames into a hierarchy of space-time regions, and the hierarchy itself."""

import atexit
import numbers
import os

from . import _checks
from . import _core

# A segment stopped by Ctrl-C ends in the background; the interpreter waits for it at its exit.
atexit.register(_core.join_stopped_runs)


class Hierarchy:
    """A binary partition tree of space-time regions.

    The leaves are the trajectories the tracker found; every merge joins the two adjacent
    regions closest under the motion-colour distance into a new one. Cutting the tree after
    ``num_leaves - n`` merges leaves ``n`` regions.

    Made by :func:`segment` or :func:`load`, not directly.

    Attributes
    ----------
    num_leaves : int
        Number of leaf regions (trajectories).
    shape : tuple of int
        (T, H, W) of the video.
    leaves : ndarray of uint32, shape (T, H, W)
        Leaf label (0 ... num_leaves-1) of every pixel; a read-only view.
    merges : ndarray, structured, shape (num_leaves - fewest,)
        The merges in the order they were made, a read-only view with fields ``first`` and
        ``second`` (uint32: the labels of the two merged regions, in the order joined),
        ``label`` (uint32: the new region, ``num_leaves`` + its index), ``regions`` (uint32:
        regions present after it) and ``distance`` (float64: the distance of the two regions).
    """

    def __init__(self, tree):
        self._tree = tree

    @property
    def num_leaves(self):
        return int(self._tree.leaf_count)

    @property
    def shape(self):
        return (int(self._tree.frames), int(self._tree.height), int(self._tree.width))

    @property
    def leaves(self):
        return self._tree.leaves

    @property
    def merges(self):
        return self._tree.merges

    @property
    def fewest_regions(self):
        """The fewest regions a cut can leave: 2, as vseg stops there (more if regions never touch)."""
        return self.num_leaves - len(self._tree.merges)

    def labels(self, n=None, *, distance=None):
        """Label every pixel with its region at a cut of the tree.

        Give exactly one of ``n`` and ``distance``.

        Parameters
        ----------
        n : int
            Number of regions, ``fewest_regions`` <= n <= ``num_leaves``. ``labels(L + 1)`` is
            the partition the command line writes as segmentation level L.
        distance : float
            Cut below this distance: every merge made before the first one at this distance
            or more.

        Returns
        -------
        labels : ndarray of int32, shape (T, H, W)
            Region numbers 0 ... k-1, in order of first appearance (frame by frame, row by row),
            with k = n regions.
        """
        if (n is None) == (distance is None):
            raise TypeError("give exactly one of n and distance")
        if n is not None:
            n = _checks.whole_number(n, "n", 1)
            if not self.fewest_regions <= n <= self.num_leaves:
                raise ValueError("n must be between %d and %d, not %d"
                                 % (self.fewest_regions, self.num_leaves, n))
            merges = self.num_leaves - n
        else:
            if isinstance(distance, bool) or not isinstance(distance, numbers.Real):
                raise TypeError("distance must be a number, not %s" % type(distance).__name__)
            if distance != distance:
                raise ValueError("distance must not be NaN")
            merges = self._tree.merges_below_distance(float(distance))
        return self._tree.labels_after(merges)

    def save(self, path):
        """Write the tree file (the format of OUTPUT_DIR/trees/tree.bpt) to ``path``.

        The file appears complete or not at all.
        """
        self._tree.write(_checks.path(path, "path"))

    def __repr__(self):
        return "<vseg.Hierarchy of %d leaves, %d merges, shape %s>" % (
            self.num_leaves, len(self._tree.merges), self.shape)


def segment(frames, forward, backward, *, color_scale=5.0, motion_scale=1.5,
            area_fraction=0.001, num_colors=4):
    """Segment a video into a hierarchy of space-time regions.

    The hierarchy is the one ``vseg`` builds from the same frames and flows with the same
    four numbers (its tree file ``trees/tree.bpt``, byte for byte).

    Parameters
    ----------
    frames : ndarray of uint8, shape (T, H, W, 3)
        RGB frames.
    forward : ndarray of float32, shape (T-1, H, W, 2)
        ``forward[t]``: flow from frame t to frame t+1, (u, v) in pixels.
    backward : ndarray of float32, shape (T-1, H, W, 2)
        ``backward[t]``: flow from frame t+1 to frame t.
    color_scale : float, optional
        sigma_c > 0; the colour term weighs 1/sigma_c^2 (CIELab units).
    motion_scale : float, optional
        sigma_m > 0; the motion term weighs 1/sigma_m^2 (pixels per frame).
    area_fraction : float, optional
        a > 0; regions smaller than about this fraction of the video merge first.
    num_colors : int, optional
        Dominant colours kept per region, 1 ... 255.

    Returns
    -------
    Hierarchy

    Notes
    -----
    The GIL is released while the tree is built; calls from several threads take turns in
    building trees (the library's allocators are shared by the process). Ctrl-C raises
    KeyboardInterrupt at once; the stopped run ends in the background at its next stage or
    merge.
    """
    frames = _checks.array(frames, "frames", "uint8", 4, 3)
    forward = _checks.array(forward, "forward", "float32", 4, 2)
    backward = _checks.array(backward, "backward", "float32", 4, 2)
    t, h, w = frames.shape[:3]
    if t == 0 or h == 0 or w == 0:
        raise ValueError("frames must hold at least one pixel, not shape %s" % (frames.shape,))
    expected = (t - 1, h, w, 2)
    for name, flow in (("forward", forward), ("backward", backward)):
        if flow.shape != expected:
            raise ValueError("%s must have shape %s for frames of shape %s, not %s"
                             % (name, expected, frames.shape, flow.shape))
    color_scale = _checks.real_number(color_scale, "color_scale")
    motion_scale = _checks.real_number(motion_scale, "motion_scale")
    area_fraction = _checks.real_number(area_fraction, "area_fraction")
    num_colors = _checks.whole_number(num_colors, "num_colors", 1)
    if num_colors > 255:
        raise ValueError("num_colors must be between 1 and 255, not %d" % num_colors)
    return Hierarchy(_core.segment(frames, forward, backward, color_scale, motion_scale,
                                   area_fraction, float(num_colors)))


def load(path):
    """The hierarchy of a command-line run.

    Parameters
    ----------
    path : str or os.PathLike
        The run's OUTPUT_DIR (holding ``trees/tree.bpt``), or a tree file itself.

    Returns
    -------
    Hierarchy
    """
    path = _checks.path(path, "path")
    if os.path.isdir(path):
        path = os.path.join(path, "trees", "tree.bpt")
    return Hierarchy(_core.Tree.read(path))
