#pragma once
// Conversions between the colour spaces of the image library. Formula results are computed in
// double, clipped to [0, 255] with Clipping(0, 255) and stored in the result's sample type; for
// 8-bit results that is a truncation, which the +0.5 terms of the YUV, YIQ, RIQ, RCQ and RUV
// formulas turn into rounding (the CIELab conversions truncate). Every function returns a new
// image and leaves its argument unchanged, except the two upsamplers, which work in place.

#include "image/colorimage.h"
#include "image/imagegray.h"
#include "image/imagergb.h"
#include "image/imageyuv420.h"
#include "image/imageyuv422.h"
#include "image/multiarray.h"

namespace vorada {

/// Studio-range YUV: Y in 16..235, U and V centred on 128.
ImageYUV<unsigned char> to_yuv(const ImageRGB<unsigned char>& image);
/// YIQ; I and Q are offset by nothing, so their negative values clip to 0.
ImageYIQ<unsigned char> to_yiq(const ImageRGB<unsigned char>& image);
/// R, then I and Q as for YIQ.
ImageRIQ<unsigned char> to_riq(const ImageRGB<unsigned char>& image);
/// R, the V (red difference) of YUV, the Q of YIQ.
ImageRCQ<unsigned char> to_rcq(const ImageRGB<unsigned char>& image);
/// R, the V (red difference) of YUV, the U (blue difference) of YUV.
ImageRUV<unsigned char> to_ruv(const ImageRGB<unsigned char>& image);
/// RGB from studio-range YUV.
ImageRGB<unsigned char> to_rgb(const ImageYUV<unsigned char>& image);
/// A copy.
ImageYUV<unsigned char> to_yuv(const ImageYUV<unsigned char>& image);
/// Not provided: the scale of double YUV is not defined. Throws VoradaNotImplemented.
ImageRGB<double> to_rgb(const ImageYUV<double>& image);
/// Not provided: the scale of double RGB is not defined. Throws VoradaNotImplemented.
ImageYUV<double> to_yuv(const ImageRGB<double>& image);
/// Not provided: a plain three-channel image has no known colour space. Throws
/// VoradaNotImplemented.
ImageYUV<unsigned char> to_yuv(const Image<unsigned char, 3>& image);

/// Luma 0.299 R + 0.587 G + 0.114 B + 0.5 stored in T without clipping (T = unsigned char,
/// long long).
template <typename T>
ImageGray<T> to_gray(const ImageRGB<T>& image);
/// The same, taking channels 0, 1, 2 as R, G, B (T = unsigned char, long long).
template <typename T>
ImageGray<T> to_gray(const ImaVol<T, 3, 2>& image);
/// The Y channel (T = unsigned char, long long, double).
template <typename T>
ImageGray<T> to_gray(const ImageYUV<T>& image);
/// The L* channel (T = unsigned char, double).
template <typename T>
ImageGray<T> to_gray(const ImageCIELab<T>& image);
/// The single channel as a grey image (T = unsigned char, short, long long).
template <typename T>
ImageGray<T> to_gray(const ImaVol<T, 1, 2>& image);
/// The grey channel copied into R, G and B (T = unsigned char, long long).
template <typename T>
ImageRGB<T> to_rgb(const ImageGray<T>& image);

/// CIELab with L* in 0..100 and a, b offset by +128, clipped to [0, 255] (T = unsigned char,
/// double). The result keeps the source's coordinate origin.
template <typename T>
ImageCIELab<T> to_cielab(const ImageRGB<T>& image);
/// RGB 0..255 from CIELab with a, b offset by +128, clipped (T = unsigned char, double).
template <typename T>
ImageRGB<T> to_rgb(const ImageCIELab<T>& image);
/// L* = the grey value, a and b neutral (128, the stored offset) (T = unsigned char, double).
template <typename T>
ImageCIELab<T> to_cielab(const ImageGray<T>& image);
/// to_cielab of to_rgb (T = unsigned char; double throws, as to_rgb of double YUV does).
template <typename T>
ImageCIELab<T> to_cielab(const ImageYUV<T>& image);
/// to_yuv of to_rgb (T = unsigned char; double throws, as to_yuv of double RGB does).
template <typename T>
ImageYUV<T> to_yuv(const ImageCIELab<T>& image);
/// Full-resolution YUV from 4:2:2: Y unchanged, U and V upsampled horizontally and cut to the
/// Y channel's size (T = unsigned char, long long, double; double keeps the +0.5).
template <typename T>
ImageYUV<T> to_yuv(const ImageYUV422<T>& image);
/// Full-resolution YUV from 4:2:0: U and V upsampled in both directions, cut to Y's size.
template <typename T>
ImageYUV<T> to_yuv(const ImageYUV420<T>& image);

/// Upsamples every row of a plane of N × M samples whose first `width` samples per row hold
/// the sub-sampled values to N samples by linear interpolation on a fixed-point grid (16
/// phases); each output is the interpolated value plus 0.5. Needs 1 <= width <= N.
void horiz_chroma_upsample(MultiArray<double, 2>& plane, long long width);
/// Upsamples the width × height corner of a plane to the whole plane, horizontally as above
/// and then vertically; outputs are the interpolated value plus 0.5. Needs 1 <= width <= N
/// and 1 <= height <= M.
void horizvert_chroma_upsample(MultiArray<double, 2>& plane, long long width, long long height);

}  // namespace vorada
