#pragma once

/// Colour space of a three-channel video signal; a signal is written as images only in RGB.
/// A 32-bit integer underneath, so stored values outside the three spaces stay well defined.
enum ColorSpaceType : int { RGB = 0, YUV = 1, CIELab = 2 };
