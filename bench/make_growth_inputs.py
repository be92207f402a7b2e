#!/usr/bin/python3
"""Inputs for measuring how vseg's time and memory grow with the number of voxels.

  make_growth_inputs.py upscale SRC DST [--factor F]
      SRC's frames resized F times in each direction (bicubic) and its flows resampled
      (bilinear) with their vectors scaled by F.
  make_growth_inputs.py video VIDEO DST --frames N [--width W --height H]
      The first N frames of a video, resized (area), with DIS optical flow (medium preset, grey
      frames) forward and backward between neighbours.

Both write DST/frames/frameNNN.png and DST/flows/flow_I_J.flo, the layout vseg reads.
Needs python3 with numpy and OpenCV (Debian: python3-numpy python3-opencv).
"""
import argparse
import os
import re
import sys

import cv2
import numpy as np

FLO_TAG = 202021.25


def read_flo(path):
    with open(path, "rb") as f:
        tag, = np.frombuffer(f.read(4), "<f4")
        if tag != FLO_TAG:
            sys.exit("%s: not a .flo file" % path)
        width, height = np.frombuffer(f.read(8), "<i4")
        data = np.frombuffer(f.read(), "<f4")
    return data.reshape(height, width, 2).copy()


def write_flo(path, flow):
    height, width = flow.shape[:2]
    with open(path, "wb") as f:
        f.write(np.array([FLO_TAG], "<f4").tobytes())
        f.write(np.array([width, height], "<i4").tobytes())
        f.write(flow.astype("<f4").tobytes())


def prepare(dst):
    os.makedirs(os.path.join(dst, "frames"), exist_ok=True)
    os.makedirs(os.path.join(dst, "flows"), exist_ok=True)


def upscale(args):
    prepare(args.dst)
    f = args.factor
    for name in sorted(os.listdir(os.path.join(args.src, "frames"))):
        image = cv2.imread(os.path.join(args.src, "frames", name), cv2.IMREAD_COLOR)
        big = cv2.resize(image, None, fx=f, fy=f, interpolation=cv2.INTER_CUBIC)
        cv2.imwrite(os.path.join(args.dst, "frames", name), big)
    for name in sorted(os.listdir(os.path.join(args.src, "flows"))):
        if not re.fullmatch(r"flow_\d+_\d+\.flo", name):
            continue
        flow = read_flo(os.path.join(args.src, "flows", name))
        big = cv2.resize(flow, None, fx=f, fy=f, interpolation=cv2.INTER_LINEAR) * f
        write_flo(os.path.join(args.dst, "flows", name), big)


def video(args):
    prepare(args.dst)
    capture = cv2.VideoCapture(args.video)
    dis = cv2.DISOpticalFlow_create(cv2.DISOPTICAL_FLOW_PRESET_MEDIUM)
    grey = []
    for t in range(args.frames):
        ok, frame = capture.read()
        if not ok:
            sys.exit("%s has only %d frames" % (args.video, t))
        if args.width and args.height:
            frame = cv2.resize(frame, (args.width, args.height), interpolation=cv2.INTER_AREA)
        cv2.imwrite(os.path.join(args.dst, "frames", "frame%03d.png" % t), frame)
        grey.append(cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY))
        if t > 0:
            write_flo(os.path.join(args.dst, "flows", "flow_%d_%d.flo" % (t - 1, t)),
                      dis.calc(grey[t - 1], grey[t], None))
            write_flo(os.path.join(args.dst, "flows", "flow_%d_%d.flo" % (t, t - 1)),
                      dis.calc(grey[t], grey[t - 1], None))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[1])
    sub = parser.add_subparsers(dest="command", required=True)
    up = sub.add_parser("upscale")
    up.add_argument("src")
    up.add_argument("dst")
    up.add_argument("--factor", type=float, default=2.0)
    vid = sub.add_parser("video")
    vid.add_argument("video")
    vid.add_argument("dst")
    vid.add_argument("--frames", type=int, required=True)
    vid.add_argument("--width", type=int, default=0)
    vid.add_argument("--height", type=int, default=0)
    args = parser.parse_args()
    upscale(args) if args.command == "upscale" else video(args)


if __name__ == "__main__":
    main()
