"""Reading frames and estimating their optical flows."""

import os

from . import _checks

PRESETS = ("fast", "medium", "fine")


def read_video(path, first=0, count=None, step=1, max_side=None, scale=None):
    """Read frames of a video file or a folder of images.

    The frames are those ``vseg-prepare`` writes for the same options, pixel for pixel.

    Parameters
    ----------
    path : str or os.PathLike
        A video file (anything OpenCV's FFmpeg reader opens: .mp4, .avi, .mkv, ...) or a
        folder of images (PNG, JPEG, BMP, TIFF, WebP, ...) taken in natural order
        (``img2.png`` before ``img10.png``).
    first : int, optional
        Input frames skipped before the first one taken.
    count : int, optional
        Frames taken; all up to the end when None. Asking for more than the input holds
        raises RuntimeError.
    step : int, optional
        One frame taken in every ``step``.
    max_side : int, optional
        Shrink (area interpolation) so that the longer side is at most this many pixels.
    scale : float, optional
        Shrink both sides by this factor, 0 < scale <= 1 (instead of ``max_side``).

    Returns
    -------
    frames : ndarray of uint8, shape (T, H, W, 3)
        RGB frames.

    Raises
    ------
    FileNotFoundError, RuntimeError
        A missing or unreadable input, a range past its end, frames of different sizes.
    """
    path = _checks.path(path, "path")
    first = _checks.whole_number(first, "first")
    count = _checks.whole_number(count, "count", 1, allow_none=True)
    step = _checks.whole_number(step, "step", 1)
    max_side = _checks.whole_number(max_side, "max_side", 1, allow_none=True)
    if scale is not None:
        if max_side is not None:
            raise ValueError("give at most one of max_side and scale")
        scale = _checks.real_number(scale, "scale")
        if scale > 1:
            raise ValueError("scale must be at most 1, not %r" % scale)
    if not os.path.exists(path):
        raise FileNotFoundError("path %s does not exist" % path)
    from . import _prepare  # OpenCV's libraries load with the first call that needs them

    return _prepare.read_video(path, first, count or 0, step, max_side or 0, scale or 0.0)


def optical_flow(frames, preset="medium", threads=None):
    """Dense optical flows between consecutive frames, forward and backward.

    The flows equal, bit for bit, those ``vseg-prepare --flow PRESET`` writes for the same
    frames: OpenCV's DIS optical flow on the grey frames, the backward flow estimated on its own.

    Parameters
    ----------
    frames : ndarray of uint8, shape (T, H, W, 3)
        RGB frames, as :func:`read_video` returns them.
    preset : {'fast', 'medium', 'fine'}, optional
        Speed against accuracy (see the README's table); 'medium' by default.
    threads : int, optional
        Worker threads; when None, one per core this process may run on. The flows do not depend on it.

    Returns
    -------
    forward : ndarray of float32, shape (T-1, H, W, 2)
        ``forward[t]`` takes pixel (x, y) of frame t to (x + u, y + v) in frame t+1, with
        (u, v) = ``forward[t, y, x]`` in pixels.
    backward : ndarray of float32, shape (T-1, H, W, 2)
        ``backward[t]``: from frame t+1 to frame t.
    """
    frames = _checks.array(frames, "frames", "uint8", 4, 3)
    if preset not in PRESETS:
        raise ValueError("preset must be one of %s, not %r" % (", ".join(PRESETS), preset))
    threads = _checks.whole_number(threads, "threads", 1, allow_none=True)
    from . import _prepare

    return _prepare.optical_flow(frames, preset, threads or len(os.sched_getaffinity(0)))
