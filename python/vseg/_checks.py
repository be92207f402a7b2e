"""Checks of public arguments: each failure names the argument."""

import numbers
import os
import math

import numpy as np


def whole_number(value, name, minimum=0, allow_none=False):
    """``value`` as an int >= ``minimum``; TypeError for a non-integer, ValueError below."""
    if value is None and allow_none:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError("%s must be an integer, not %s" % (name, type(value).__name__))
    if value < minimum:
        raise ValueError("%s must be at least %d, not %d" % (name, minimum, value))
    return int(value)


def real_number(value, name, positive=True):
    """``value`` as a finite float (> 0 when ``positive``)."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a number, not %s" % (name, type(value).__name__))
    value = float(value)
    if not math.isfinite(value) or (positive and value <= 0):
        raise ValueError("%s must be a finite number%s, not %r"
                         % (name, " above 0" if positive else "", value))
    return value


def path(value, name):
    """A str or os.PathLike as str."""
    if not isinstance(value, (str, os.PathLike)):
        raise TypeError("%s must be a path, not %s" % (name, type(value).__name__))
    return os.fspath(value)


def array(value, name, dtype, ndim, last=None):
    """``value`` as a C-contiguous array of ``dtype`` (copied once only when not contiguous)."""
    if not isinstance(value, np.ndarray):
        raise TypeError("%s must be a NumPy array, not %s" % (name, type(value).__name__))
    if value.dtype != dtype:
        raise TypeError("%s must have dtype %s, not %s" % (name, np.dtype(dtype), value.dtype))
    if value.ndim != ndim or (last is not None and value.shape[-1] != last):
        raise ValueError("%s must have shape %s, not %s" % (name, _shape_text(ndim, last),
                                                            value.shape))
    return np.ascontiguousarray(value)


def _shape_text(ndim, last):
    names = ["T", "H", "W"][:ndim - (1 if last is not None else 0)]
    if last is not None:
        names.append(str(last))
    return "(" + ", ".join(names) + ")"
