#pragma once

/// Colour space of a three-channel video signal; a signal is written as images only in RGB.
enum ColorSpaceType { RGB = 0, YUV = 1, CIELab = 2 };
