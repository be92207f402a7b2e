"""Scoring video segmentations against a ground truth with the supervoxel benchmark metrics.

::

    vseg-eval RUN_DIR [RUN_DIR ...] --gt GT_DIR [--regions 50:1000:50 | --regions 20,100,900]
              [--tolerance 2] [--ignore-label L] [--frames DIR] [--csv FILE] [--plot FILE.png]

A RUN_DIR is a vseg output folder, or any folder of segmentations, one subfolder per level, each
holding ``frames.sgm``, ``labels.npy`` or one label image per frame (a folder that holds one of
these itself is one segmentation). Without ``regions`` the levels found are scored; with it, a
vseg run's tree (``trees/tree.bpt``) is cut at those region counts. GT_DIR holds one label image
per frame, 8- or 16-bit grey or colour (one colour per segment), in natural order. The metrics
and their sources are described in docs/metrics.md.
"""

import argparse
import csv
import json
import os
import re
import sys

import numpy as np

METRICS = ("n_supervoxels", "ue_xc", "ue_np", "asa", "br2d", "bp2d", "br3d", "ev",
           "mean_duration")

# Axis titles of the plot and headers of the table.
TITLES = {
    "n_supervoxels": "number of supervoxels",
    "ue_xc": "3D undersegmentation error (Xu-Corso)",
    "ue_np": "3D undersegmentation error (Neubert-Protzel)",
    "asa": "3D achievable segmentation accuracy",
    "br2d": "2D boundary recall",
    "bp2d": "2D boundary precision",
    "br3d": "3D boundary recall",
    "ev": "explained variation",
    "mean_duration": "mean duration (frames)",
}
HEADERS = {"n_supervoxels": "n_sv", "ue_xc": "UE_xc", "ue_np": "UE_np", "asa": "ASA",
           "br2d": "BR2d", "bp2d": "BP2d", "br3d": "BR3d", "ev": "EV",
           "mean_duration": "duration"}

IMAGE_EXTENSIONS = (".png", ".ppm", ".pgm", ".bmp", ".tif", ".tiff")


# ------------------------------------------------------------------------------------------
# Reading label volumes

def natural_key(name):
    """Sort key that orders "frame2" before "frame10"."""
    return [int(part) if part.isdigit() else part for part in re.split(r"(\d+)", name)]


def image_files(directory):
    """The image files of a folder, in natural order."""
    return [os.path.join(directory, name)
            for name in sorted(os.listdir(directory), key=natural_key)
            if name.lower().endswith(IMAGE_EXTENSIONS)
            and os.path.isfile(os.path.join(directory, name))]


def read_label_image(path):
    """Labels of one image as int64 (H, W): the grey value (8 or 16 bit), or for colour
    images R * 65536 + G * 256 + B (alpha ignored)."""
    from PIL import Image

    with Image.open(path) as image:
        if image.mode in ("P", "PA", "CMYK", "YCbCr", "LAB", "HSV"):
            image = image.convert("RGB")
        elif image.mode in ("1", "LA"):
            image = image.convert("L")
        pixels = np.asarray(image)
    if pixels.ndim == 2:
        return pixels.astype(np.int64)
    rgb = pixels[..., :3].astype(np.int64)
    return (rgb[..., 0] << 16) | (rgb[..., 1] << 8) | rgb[..., 2]


def read_label_images(files):
    """Label images of the same size as one int64 volume (T, H, W)."""
    frames = [read_label_image(path) for path in files]
    if len({frame.shape for frame in frames}) > 1:
        raise ValueError("label images of different sizes: %s" % os.path.dirname(files[0]))
    return np.stack(frames)


def read_sgm(path):
    """A frames.sgm label file (three u64 X, Y, T, then the u64 labels, x fastest, then y,
    then t; little-endian) as uint64 (T, H, W)."""
    raw = np.fromfile(path, dtype="<u8")
    if raw.size < 3:
        raise ValueError("%s: shorter than its header" % path)
    width, height, frames = (int(v) for v in raw[:3])
    if raw.size != 3 + width * height * frames:
        raise ValueError("%s: the header announces %dx%dx%d labels, the file holds %d"
                         % (path, width, height, frames, raw.size - 3))
    return raw[3:].reshape(frames, height, width)


def _segmentation_in(directory):
    """A loader for the one segmentation a folder holds, or None."""
    sgm = os.path.join(directory, "frames.sgm")
    npy = os.path.join(directory, "labels.npy")
    if os.path.isfile(sgm):
        return lambda: read_sgm(sgm)
    if os.path.isfile(npy):
        return lambda: np.load(npy)
    files = image_files(directory)
    if files:
        return lambda: read_label_images(files)
    return None


def segmentations(run_dir):
    """[(level name, loader)] of every segmentation a folder holds, in natural order of the
    level names: a vseg run's segmentations/<L>, the subfolders of a folder of cuts, or the
    folder itself."""
    single = _segmentation_in(run_dir)
    if single:
        return [(os.path.basename(os.path.normpath(run_dir)), single)]
    root = os.path.join(run_dir, "segmentations")
    if not os.path.isdir(root):
        root = run_dir
    found = []
    for name in sorted(os.listdir(root), key=natural_key):
        if os.path.isdir(os.path.join(root, name)):
            loader = _segmentation_in(os.path.join(root, name))
            if loader:
                found.append((name, loader))
    if not found:
        raise ValueError("no segmentation found in %s" % run_dir)
    return found


def run_record(run_dir):
    """(input folder, first frame) a vseg run recorded, or (None, 0)."""
    record = os.path.join(run_dir, "trees", "input.txt")
    if os.path.isfile(record):
        fields = dict(line.split(" ", 1) for line in open(record).read().splitlines()
                      if " " in line)
        return fields.get("input"), int(fields.get("first", 0))
    record = os.path.join(run_dir, "run.json")
    if os.path.isfile(record):
        with open(record) as file:
            arguments = json.load(file).get("arguments", [])
        if len(arguments) >= 7:
            return arguments[6], int(arguments[0])
    return None, 0


def _run_frames(run_dir, frames_dir, first, count, shape):
    """The colour frames of a run as float64 (T, H, W, 3), or None when they are not found."""
    from PIL import Image

    if frames_dir:
        files = image_files(frames_dir)[first:first + count]
    else:
        folder, _ = run_record(run_dir)
        if not folder:
            return None
        files = [os.path.join(folder, "frames", "frame%03d.png" % (first + t))
                 for t in range(count)]
    if len(files) != count or not all(os.path.isfile(path) for path in files):
        return None
    video = []
    for path in files:
        with Image.open(path) as image:
            video.append(np.asarray(image.convert("RGB")))
    video = np.stack(video).astype(np.float64)
    return video if video.shape[:3] == tuple(shape) else None


# ------------------------------------------------------------------------------------------
# Metrics

def _compact(labels):
    """Labels renumbered 0 ... K-1 in increasing order of value, as int64; and K."""
    flat = labels.ravel()
    if flat.size and flat.min() >= 0 and int(flat.max()) <= max(32 * flat.size, 1 << 24):
        present = np.zeros(int(flat.max()) + 1, dtype=bool)
        present[flat] = True
        number = np.cumsum(present) - 1
        return number[flat].reshape(labels.shape), int(number[-1]) + 1
    values, inverse = np.unique(flat, return_inverse=True)
    return inverse.reshape(labels.shape).astype(np.int64), len(values)


def _pair_counts(a, b, nb):
    """Distinct values of a * nb + b with their counts, in increasing order."""
    code = (a * nb + b).ravel()
    if (int(a.max()) + 1) * nb <= 4 * code.size + 1024:
        counts = np.bincount(code, minlength=0)
        pairs = np.flatnonzero(counts)
        return pairs, counts[pairs]
    return np.unique(code, return_counts=True)


def boundaries(volume):
    """Spatial boundary voxels (T, H, W): the label differs from the right or lower one."""
    edge = np.zeros(volume.shape, dtype=bool)
    edge[:, :, :-1] |= volume[:, :, :-1] != volume[:, :, 1:]
    edge[:, :-1, :] |= volume[:, :-1, :] != volume[:, 1:, :]
    return edge


def dilate(mask, radius):
    """Each frame of `mask` (T, H, W) dilated by the (2r+1) x (2r+1) square."""
    if radius <= 0:
        return mask
    rows = mask.copy()
    for d in range(1, radius + 1):
        rows[..., d:] |= mask[..., :-d]
        rows[..., :-d] |= mask[..., d:]
    out = rows.copy()
    for d in range(1, radius + 1):
        out[..., d:, :] |= rows[..., :-d, :]
        out[..., :-d, :] |= rows[..., d:, :]
    return out


class GroundTruth:
    """Ground-truth label images of a folder, with what every score needs of them."""

    def __init__(self, gt_dir, tolerance=2, ignore_label=None):
        self.files = image_files(gt_dir)
        if not self.files:
            raise ValueError("no ground-truth images in %s" % gt_dir)
        self.gt_dir = gt_dir
        self.tolerance = tolerance
        self.ignore_label = ignore_label
        self._cache = {}

    def get(self, first, count, shape):
        """prepare_truth of frames first ... first + count - 1."""
        # A folder with exactly the run's frame count is the run's own ground truth.
        if len(self.files) == count:
            first = 0
        key = (first, count)
        if key in self._cache:
            return self._cache[key]
        files = self.files[first:first + count]
        if len(files) < count:
            raise ValueError("the segmentation has %d frames, %s holds %d from frame %d"
                             % (count, self.gt_dir, len(files), first))
        raw = read_label_images(files)
        if raw.shape[1:] != tuple(shape[1:]):
            raise ValueError("size mismatch: segmentation %dx%d, ground truth %dx%d"
                             % (shape[2], shape[1], raw.shape[2], raw.shape[1]))
        self._cache[key] = prepare_truth(raw, self.tolerance, self.ignore_label)
        return self._cache[key]


def prepare_truth(raw, tolerance=2, ignore_label=None):
    """What every score needs of a ground-truth volume (T, H, W): its compact labels and their
    count, the mask of voxels scored (None: all), its spatial and temporal boundaries and the
    spatial ones dilated by the tolerance."""
    raw = np.asarray(raw)
    labels, count = _compact(raw)
    spatial = boundaries(raw)
    temporal = raw[:-1] != raw[1:]
    valid = None
    if ignore_label is not None:
        valid = raw != ignore_label
        both = valid.copy()
        both[:, :, :-1] &= valid[:, :, 1:]
        both[:, :-1, :] &= valid[:, 1:, :]
        spatial &= both
        temporal &= valid[:-1] & valid[1:]
    return {"labels": labels, "count": count, "valid": valid, "spatial": spatial,
            "temporal": temporal, "spatial_near": dilate(spatial, tolerance)}


def score(segmentation, truth, tolerance=2, video=None):
    """Every metric of one segmentation (T, H, W) against `truth` (prepare_truth's dict).

    `video` (float64 (T, H, W, 3), RGB 0-255) gives the explained variation; without it
    ``ev`` is None. Boundary metrics are None when there is no boundary to score.
    """
    frames = segmentation.shape[0]
    s, count_s = _compact(segmentation)
    g, count_g, valid = truth["labels"], truth["count"], truth["valid"]
    result = {"n_supervoxels": count_s}

    # Frames each supervoxel spans.
    spans = _pair_counts(s, np.broadcast_to(np.arange(frames)[:, None, None], s.shape), frames)[0]
    result["mean_duration"] = float(np.bincount(spans // frames, minlength=count_s).mean())

    # Overlaps with the ground-truth segments, over the voxels scored.
    sv, gv = s.ravel(), g.ravel()
    if valid is not None:
        sv, gv = sv[valid.ravel()], gv[valid.ravel()]
    scored = float(sv.size)
    if not scored:
        raise ValueError("the ground truth has no voxel left to score")
    pairs, overlap = _pair_counts(sv, gv, count_g)
    ps, pg = pairs // count_g, pairs % count_g
    overlap = overlap.astype(np.float64)
    size_s = np.bincount(sv, minlength=count_s).astype(np.float64)
    size_g = np.bincount(gv, minlength=count_g).astype(np.float64)
    touching = np.bincount(pg, weights=size_s[ps], minlength=count_g)
    has = size_g > 0
    result["ue_xc"] = float(((touching[has] - size_g[has]) / size_g[has]).mean())
    result["ue_np"] = float(np.minimum(overlap, size_s[ps] - overlap).sum() / scored)
    best = np.zeros(count_s)
    np.maximum.at(best, ps, overlap)
    result["asa"] = float(best.sum() / scored)

    # Boundaries within the tolerance, frame by frame.
    spatial = boundaries(segmentation)
    gt_spatial, gt_temporal = truth["spatial"], truth["temporal"]
    gt_count = gt_spatial.sum(axis=(1, 2))
    hits = (gt_spatial & dilate(spatial, tolerance)).sum(axis=(1, 2))
    seg_count = spatial.sum(axis=(1, 2))
    precise = (spatial & truth["spatial_near"]).sum(axis=(1, 2))
    result["br2d"] = float(np.mean(hits[gt_count > 0] / gt_count[gt_count > 0])) \
        if gt_count.any() else None
    result["bp2d"] = float(np.mean(precise[seg_count > 0] / seg_count[seg_count > 0])) \
        if seg_count.any() else None
    temporal = segmentation[:-1] != segmentation[1:]
    found = int(hits.sum()) + int((gt_temporal & dilate(temporal, tolerance)).sum())
    total = int(gt_count.sum()) + int(gt_temporal.sum())
    result["br3d"] = found / total if total else None

    if video is not None:
        colours = video if isinstance(video, _Colours) else _Colours(video)
        result["ev"] = _explained_variation(s, count_s, colours)
    else:
        result["ev"] = None
    return result


class _Colours:
    """A video's colour channels and total variation, computed once for all its levels."""

    def __init__(self, video):
        flat = video.reshape(-1, 3)
        self.mean = flat.mean(0)
        self.total = ((flat - self.mean) ** 2).sum()
        self.channels = [np.ascontiguousarray(flat[:, c]) for c in range(3)]


def _explained_variation(s, count_s, colours):
    if colours.total <= 0:
        return None
    sizes = np.bincount(s.ravel(), minlength=count_s).astype(np.float64)
    explained = 0.0
    for c in range(3):
        means = np.bincount(s.ravel(), weights=colours.channels[c], minlength=count_s) / sizes
        explained += (sizes * (means - colours.mean[c]) ** 2).sum()
    return float(explained / colours.total)


# ------------------------------------------------------------------------------------------
# Runs

def _load_hierarchy(run_dir):
    try:
        import vseg
        return vseg.load(run_dir)
    except (ImportError, AttributeError) as error:
        raise RuntimeError("cutting a run's tree needs the vseg Python module built "
                           "(make python): %s" % error)


def _run_names(run_dirs):
    """A short name per run folder: its base name, or the path where base names repeat."""
    names = [os.path.basename(os.path.normpath(path)) or path for path in run_dirs]
    return [path if names.count(name) > 1 else name for name, path in zip(names, run_dirs)]


def evaluate(run_dirs, gt_dir, regions=None, tolerance=2, ignore_label=None, *, frames=None):
    """Score segmentations against a ground truth.

    Parameters
    ----------
    run_dirs : str or list of str
        vseg output folders, or folders of segmentations (one subfolder per level holding
        ``frames.sgm``, ``labels.npy`` or label images).
    gt_dir : str
        One ground-truth label image per frame (8/16-bit grey, or one colour per segment),
        natural order. Frame t of a run is compared with image first + t, first being the
        run's first frame (0 when the folder holds exactly as many images as the run frames).
    regions : list of int, optional
        Cut each run's tree at these region counts instead of scoring its written levels.
    tolerance : int
        Boundary tolerance in pixels (a (2r+1) x (2r+1) square).
    ignore_label : int, optional
        Ground-truth label left out of every metric.
    frames : str, optional
        Folder of the colour frames (natural order) for the explained variation; default:
        the input folder a vseg run recorded. Without frames ``ev`` is None.

    Returns
    -------
    rows : list of dict
        One per run and segmentation, in the order scored: ``run``, ``level`` (the level's
        folder name, or the region count asked for) and every metric of ``METRICS``.
    """
    if isinstance(run_dirs, str):
        run_dirs = [run_dirs]
    truth = GroundTruth(gt_dir, tolerance, ignore_label)
    rows = []
    for name, run_dir in zip(_run_names(run_dirs), run_dirs):
        if not os.path.isdir(run_dir):
            raise ValueError("no such folder: %s" % run_dir)
        if regions:
            hierarchy = _load_hierarchy(run_dir)
            cuts = [(str(n), (lambda n=n: hierarchy.labels(n))) for n in regions]
        else:
            cuts = segmentations(run_dir)
        _, first = run_record(run_dir)
        colours = {}  # per volume shape: the run's colours, None without frames
        for level, loader in cuts:
            labels = loader()
            if labels.ndim != 3:
                raise ValueError("%s level %s: labels are not a (T, H, W) volume" % (name, level))
            if labels.shape not in colours:
                video = _run_frames(run_dir, frames, first, labels.shape[0], labels.shape)
                colours[labels.shape] = _Colours(video) if video is not None else None
            row = {"run": name, "level": level}
            row.update(score(labels, truth.get(first, labels.shape[0], labels.shape), tolerance,
                             colours[labels.shape]))
            rows.append(row)
    return rows


# ------------------------------------------------------------------------------------------
# Output

def format_table(rows):
    """The rows as a text table, one line per segmentation."""
    head = "%-16s %7s" % ("run", "level") + "".join(" %9s" % HEADERS[m] for m in METRICS)
    lines = [head]
    for row in rows:
        cells = []
        for metric in METRICS:
            value = row[metric]
            if value is None:
                cells.append(" %9s" % "-")
            elif metric == "n_supervoxels":
                cells.append(" %9d" % value)
            elif metric == "mean_duration" or abs(value) >= 100:
                cells.append(" %9.2f" % value)
            else:
                cells.append(" %9.4f" % value)
        lines.append("%-16s %7s" % (row["run"][-16:], row["level"]) + "".join(cells))
    return "\n".join(lines) + "\n"


def write_csv(rows, path):
    """The rows as CSV: run, level, then every metric (empty where there is no value)."""
    with open(path, "w", newline="") as file:
        writer = csv.writer(file)
        writer.writerow(["run", "level"] + list(METRICS))
        for row in rows:
            writer.writerow([row["run"], row["level"]] +
                            ["" if row[m] is None else row[m] for m in METRICS])


def plot(rows, path):
    """One panel per metric against the number of supervoxels, one line per run (PNG)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    metrics = [m for m in METRICS[1:] if any(row[m] is not None for row in rows)]
    runs = list(dict.fromkeys(row["run"] for row in rows))
    columns = min(4, len(metrics))
    lines = -(-len(metrics) // columns)
    figure, axes = plt.subplots(lines, columns, figsize=(4.2 * columns, 3.4 * lines + 0.6),
                                squeeze=False)
    markers = "osD^v<>ph*"
    for index, metric in enumerate(metrics):
        ax = axes[index // columns][index % columns]
        for number, run in enumerate(runs):
            points = sorted((row["n_supervoxels"], row[metric]) for row in rows
                            if row["run"] == run and row[metric] is not None)
            if points:
                ax.plot([p[0] for p in points], [p[1] for p in points],
                        marker=markers[number % len(markers)], markersize=4, linewidth=1.5,
                        label=run)
        if metric == "ue_xc":
            ax.set_yscale("log")  # spans orders of magnitude from few regions to many
        ax.set_title(TITLES[metric], fontsize=10)
        ax.set_xlabel(TITLES["n_supervoxels"])
        ax.set_ylabel(metric)
        ax.grid(True, alpha=0.3)
    for index in range(len(metrics), lines * columns):
        axes[index // columns][index % columns].set_visible(False)
    handles, labels = axes[0][0].get_legend_handles_labels()
    figure.legend(handles, labels, loc="upper center", ncol=min(len(runs), 6), frameon=False)
    figure.tight_layout(rect=(0, 0, 1, 1 - 0.5 / figure.get_figheight()))
    figure.savefig(path, dpi=120)
    plt.close(figure)


def parse_regions(text):
    """Region counts from a comma-separated list of counts N and ranges A:B:STEP (A to B
    inclusive), e.g. "20,100,900" or "50:1000:50" or "10,50:1000:50"; repeats dropped."""
    counts = []
    try:
        for item in text.split(","):
            if ":" in item:
                start, stop, step = (int(v) for v in item.split(":"))
                if step <= 0:
                    raise ValueError
                counts.extend(range(start, stop + 1, step))
            else:
                counts.append(int(item))
    except ValueError:
        raise argparse.ArgumentTypeError("--regions takes N,N,... or A:B:STEP, not %r" % text)
    if not counts or min(counts) < 1:
        raise argparse.ArgumentTypeError("--regions takes positive region counts, not %r" % text)
    return list(dict.fromkeys(counts))


def main(argv=None):
    """The vseg-eval command line; returns the exit status."""
    parser = argparse.ArgumentParser(
        prog="vseg-eval",
        description="Scores video segmentations against a ground truth: undersegmentation "
                    "error, achievable segmentation accuracy, boundary recall and precision, "
                    "explained variation and duration, per number of regions.")
    parser.add_argument("runs", nargs="+", metavar="RUN_DIR",
                        help="a vseg output folder, or a folder of segmentations per level")
    parser.add_argument("--gt", required=True, metavar="GT_DIR",
                        help="one ground-truth label image per frame")
    parser.add_argument("--regions", type=parse_regions, metavar="A:B:STEP|N,N,...",
                        help="cut each run's tree at these region counts")
    parser.add_argument("--tolerance", type=int, default=2,
                        help="boundary tolerance in pixels (default 2)")
    parser.add_argument("--ignore-label", type=int, metavar="L",
                        help="ground-truth label left out of every metric")
    parser.add_argument("--frames", metavar="DIR",
                        help="colour frames for the explained variation (default: the input a "
                             "vseg run recorded)")
    parser.add_argument("--csv", metavar="FILE", help="write the table as CSV")
    parser.add_argument("--plot", metavar="FILE.png", help="draw every metric against the "
                                                           "number of regions")
    args = parser.parse_args(argv)
    try:
        rows = evaluate(args.runs, args.gt, args.regions, args.tolerance, args.ignore_label,
                        frames=args.frames)
        sys.stdout.write(format_table(rows))
        if args.csv:
            write_csv(rows, args.csv)
            sys.stderr.write("Table written to %s\n" % args.csv)
        if args.plot:
            plot(rows, args.plot)
            sys.stderr.write("Plot written to %s\n" % args.plot)
    except (OSError, ValueError, RuntimeError) as error:
        sys.stderr.write("vseg-eval: %s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
