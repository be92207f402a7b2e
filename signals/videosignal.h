#pragma once
// The four signals of the system: the colour video (3 channels), optical flows (2), cue maps (1)
// and the label volume of trajectories.

#include <string>

#include "signals/signal.h"

namespace vorada {
namespace io {
class ImageWriteQueue;
}  // namespace io

namespace gma {

/// A video-like signal of N doubles per lattice point.
template <typename Value, int N>
class VideoSignal : public DiscreteSpaceSignal<long long, Value, 3, N> {
    using Base = DiscreteSpaceSignal<long long, Value, 3, N>;

  public:
    using typename Base::Unit;

    VideoSignal() = default;
    /// X × Y × T points, all zero, in RGB, not initialized.
    VideoSignal(long long x_size, long long y_size, long long t_size)
        : Base(x_size, y_size, t_size) {}
    /// A video of T frames without storage; sized by the first frame (size_on_frame).
    explicit VideoSignal(unsigned long long frame_count) { this->frames = frame_count; }

    Unit value_at_coord(const Coordinate& c) override {
        return Unit{this, c, this->values.data() + this->offset(c(0), c(1), c(2))};
    }
    /// The same as value_at_coord((x, y, t)).
    Unit operator()(long long x, long long y, long long t) {
        return Unit{this, Coordinate(x, y, t), this->at(x, y, t)};
    }

    /// Records the frame size; on the first call allocates width × height × frames zero values.
    void size_on_frame(unsigned long long frame_width, unsigned long long frame_height) {
        const unsigned long long frame_count = this->frames;
        this->width = frame_width;
        this->height = frame_height;
        if (!this->initialized) {
            this->resize(static_cast<long long>(frame_width), static_cast<long long>(frame_height),
                         static_cast<long long>(frame_count));
            this->initialized = true;
        }
    }

    /// Writes frame t as an 8-bit RGB image file; only for RGB three-channel videos. With a
    /// queue the pixels are taken now and the file is written by the queue.
    void write_frame(const std::string& path,
                     unsigned long long t,
                     io::ImageWriteQueue* queue = nullptr);
};

// Implemented by the file library (io/writeframe.cpp): signals themselves do no file output.
template <>
void VideoSignal<double, 3>::write_frame(const std::string& path,
                                         unsigned long long t,
                                         io::ImageWriteQueue* queue);

/// A label volume: one unsigned label per point.
template <typename Label, int Dimensions>
class SpacePartition : public DiscreteSpaceSignal<long long, Label, Dimensions, 1> {
    using Base = DiscreteSpaceSignal<long long, Label, Dimensions, 1>;

  public:
    SpacePartition() = default;
    SpacePartition(long long x_size, long long y_size, long long t_size)
        : Base(x_size, y_size, t_size) {}
};

using Video = VideoSignal<double, 3>;
using Flow = VideoSignal<double, 2>;
/// Flow as the distance model keeps it: flow files hold single-precision values, so half the
/// memory holds them exactly.
using SingleFlow = VideoSignal<float, 2>;
using CueMap = VideoSignal<double, 1>;
using LabelVolume = SpacePartition<unsigned long long, 3>;

}  // namespace gma
}  // namespace vorada
