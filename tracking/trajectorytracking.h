#pragma once
// Trajectory tracking: follows every pixel forward along the optical flow while the flow can be
// trusted, and labels every voxel of the video with exactly one trajectory. The three cues
// (forward-backward consistency, flow smoothness, image structure) are kept as maps in [0, 1],
// high where tracking is safe, together with their pixelwise minimum.

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/parallel.h"
#include "signals/raster.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// Tracks pixels of a colour video (in CIELab, channel 0 the lightness) along its forward flow.
template <typename ColorSignal, typename FlowSignal, typename Partition>
class TrajectoryTracking {
  public:
    using Position = Eigen::Matrix<double, 3, 1>;
    using FlowValue = Eigen::Matrix<double, 2, 1>;
    using MapSignal = VideoSignal<double, 1>;

    MapSignal reliability_map;                  ///< pixelwise minimum of the three cue maps
    MapSignal structure_tensor_map;             ///< structure cue in [0, 1)
    MapSignal flow_variation_map;               ///< flow-smoothness cue in [0, 1]
    MapSignal occlusion_map;                    ///< forward-backward consistency cue in [0, 1]
    std::vector<double> structure_frame_means;  ///< mean raw structure of each processed frame
    /// Threads for the per-frame cue maps; the maps are the same for any number.
    unsigned threads = default_thread_count();

    /// Maps of X × Y × T points, all zero; no frame means yet.
    TrajectoryTracking(long long x_size, long long y_size, long long t_size);
    /// The same, from a size (X, Y, T) such as a video's `size`.
    explicit TrajectoryTracking(const Coordinate& video_size)
        : TrajectoryTracking(video_size(0), video_size(1), video_size(2)) {}

    /// Fills the cue maps, then labels every voxel with a trajectory, labels dense 1..N in the
    /// order the trajectories start. Video and flows must have the tracker's size.
    Partition calculate(ColorSignal& video, FlowSignal& forward_flow, FlowSignal& backward_flow);

    /// Bilinear sample of a two-channel signal at a real-valued position within frame
    /// trunc(p.t); (0, 0) outside the domain.
    FlowValue interpolate_value(FlowSignal& signal, Position& position);

    /// Fills occlusion_map and flow_variation_map at every pixel.
    void calculate_flow_variation(FlowSignal& forward_flow, FlowSignal& backward_flow);

    /// Fills structure_tensor_map for frames 0..T-2 and appends T-1 frame means.
    void calculate_structure_tensor(ColorSignal& video);

  private:
    // Tracking thresholds: flow variation and occlusion below e^-1 stop a trajectory (tested as
    // ln(value) < -1), structure below 0.3 does too.
    static constexpr double structure_threshold = 0.3;

    Coordinate size;

    void _check_size(const Coordinate& other, const char* what) const;
    bool _on_border(long long x, long long y) const;
    void _follow(Partition& labels, FlowSignal& forward_flow, Position p, unsigned long long label);
    double _flow_derivative_energy(const FlowSignal& flow, const Coordinate& n) const;
    // Both flow cues at one point.
    void _flow_cues(
        FlowSignal& forward_flow, FlowSignal& backward_flow, long long x, long long y, long long t);
    void _frame_gradients(const ColorSignal& video,
                          long long t,
                          std::vector<float>& gx,
                          std::vector<float>& gy,
                          std::vector<float>& gt) const;
    float _middle_eigenvalue(long long x,
                             long long y,
                             const std::vector<float>& gx,
                             const std::vector<float>& gy,
                             const std::vector<float>& gt) const;
    void _normalise_structure(long long t, double mean);
};

/// Rounds a real-valued position to its pixel (halves away from zero); false when that pixel
/// lies outside [lower, upper] or the position is not a number.
inline bool round_to_pixel(const Eigen::Matrix<double, 3, 1>& q,
                           const Coordinate& lower,
                           const Coordinate& upper,
                           Coordinate& pixel) {
    for (int i = 0; i < 3; ++i) {
        const double rounded = std::round(q(i));
        // Compared as doubles before any conversion, so huge or NaN positions never overflow.
        if (!(rounded >= static_cast<double>(lower(i)) &&
              rounded <= static_cast<double>(upper(i)))) {
            return false;
        }
        pixel(i) = static_cast<long long>(rounded);
    }
    return true;
}

/// A cue value exp(-numerator / denominator); non-finite inputs count as unreliable (0).
inline double cue_value(double numerator, double denominator) {
    const double value = std::exp(-numerator / denominator);
    return (value >= 0.0 && value <= 1.0) ? value : 0.0;
}

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename C, typename F, typename P>
TrajectoryTracking<C, F, P>::TrajectoryTracking(long long x_size,
                                                long long y_size,
                                                long long t_size)
    : reliability_map(x_size, y_size, t_size),
      structure_tensor_map(x_size, y_size, t_size),
      flow_variation_map(x_size, y_size, t_size),
      occlusion_map(x_size, y_size, t_size),
      size(x_size, y_size, t_size) {}

template <typename C, typename F, typename P>
void TrajectoryTracking<C, F, P>::_check_size(const Coordinate& other, const char* what) const {
    if (other != size) {
        throw VoradaError(std::string("TrajectoryTracking: ") + what +
                          " size differs from the tracker's size");
    }
}

template <typename C, typename F, typename P>
bool TrajectoryTracking<C, F, P>::_on_border(long long x, long long y) const {
    return x == 0 || y == 0 || x == size(0) - 1 || y == size(1) - 1;
}

template <typename C, typename F, typename P>
P TrajectoryTracking<C, F, P>::calculate(C& video, F& forward_flow, F& backward_flow) {
    _check_size(video.size, "video");
    _check_size(forward_flow.size, "forward flow");
    _check_size(backward_flow.size, "backward flow");
    calculate_flow_variation(forward_flow, backward_flow);
    calculate_structure_tensor(video);

    P labels(size(0), size(1), size(2));
    unsigned long long counter = 1;
    for_each_point(labels, [&](long long x, long long y, long long t) {
        reliability_map.at(x, y, t)[0] =
            std::min(std::min(flow_variation_map.at(x, y, t)[0], occlusion_map.at(x, y, t)[0]),
                     structure_tensor_map.at(x, y, t)[0]);
        unsigned long long& label = *labels.at(x, y, t);
        if (label != 0) {
            return;  // an earlier trajectory passed through here
        }
        label = counter;
        if (t != size(2) - 1 && !_on_border(x, y)) {
            _follow(
                labels, forward_flow,
                Position(static_cast<double>(x), static_cast<double>(y), static_cast<double>(t)),
                counter);
        }
        ++counter;
    });
    return labels;
}

template <typename C, typename F, typename P>
void TrajectoryTracking<C, F, P>::_follow(P& labels,
                                          F& forward_flow,
                                          Position p,
                                          unsigned long long label) {
    Coordinate n;
    for (;;) {
        const FlowValue w = interpolate_value(forward_flow, p);
        const Position q(p(0) + w(0), p(1) + w(1), p(2) + 1.0);
        if (!round_to_pixel(q, labels.lower, labels.upper, n)) {
            return;
        }
        unsigned long long& target = *labels.at(n(0), n(1), n(2));
        // Trajectories never share a pixel: running into another one ends this one.
        if (target != 0) {
            return;
        }
        if (std::log(flow_variation_map.at(n(0), n(1), n(2))[0]) < -1.0 ||
            std::log(occlusion_map.at(n(0), n(1), n(2))[0]) < -1.0) {
            return;
        }
        if (structure_tensor_map.at(n(0), n(1), n(2))[0] < structure_threshold) {
            return;
        }
        target = label;
        p = q;  // unrounded, so sub-pixel motion accumulates
    }
}

template <typename C, typename F, typename P>
typename TrajectoryTracking<C, F, P>::FlowValue TrajectoryTracking<C, F, P>::interpolate_value(
    F& signal, Position& position) {
    for (int i = 0; i < 3; ++i) {
        // Written as a negated test so that NaN counts as outside.
        if (!(position(i) >= static_cast<double>(signal.lower(i)) &&
              position(i) <= static_cast<double>(signal.upper(i)))) {
            return FlowValue::Zero();
        }
    }
    const int ix = static_cast<int>(position(0));
    const int iy = static_cast<int>(position(1));
    const auto it = static_cast<unsigned long long>(position(2));
    const double fx = position(0) - ix;
    const double fy = position(1) - iy;
    const long long t = static_cast<long long>(it);
    const bool has_x = ix + 1 < signal.size(0);
    const bool has_y = iy + 1 < signal.size(1);
    // A neighbour past the last column or row is never read; it has weight 0 there anyway.
    const double* a00 = signal.at(ix, iy, t);
    const double* a10 = has_x ? signal.at(ix + 1, iy, t) : a00;
    const double* a01 = has_y ? signal.at(ix, iy + 1, t) : a00;
    const double* a11 = (has_x && has_y) ? signal.at(ix + 1, iy + 1, t) : a00;
    FlowValue result;
    for (int c = 0; c < 2; ++c) {
        result(c) = (1 - fx) * (1 - fy) * a00[c] + fx * (1 - fy) * a10[c] + (1 - fx) * fy * a01[c] +
                    fx * fy * a11[c];
    }
    return result;
}

template <typename C, typename F, typename P>
void TrajectoryTracking<C, F, P>::calculate_flow_variation(F& forward_flow, F& backward_flow) {
    _check_size(forward_flow.size, "forward flow");
    _check_size(backward_flow.size, "backward flow");
    // Every point on its own: frames go to separate threads.
    parallel_for(frame_count(forward_flow), threads, [&](std::size_t k) {
        for_each_frame_point(forward_flow, k, [&](long long x, long long y, long long t) {
            _flow_cues(forward_flow, backward_flow, x, y, t);
        });
    });
}

template <typename C, typename F, typename P>
void TrajectoryTracking<C, F, P>::_flow_cues(
    F& forward_flow, F& backward_flow, long long x, long long y, long long t) {
    double& occlusion = occlusion_map.at(x, y, t)[0];
    double& variation = flow_variation_map.at(x, y, t)[0];
    occlusion = 0.0;
    variation = 0.0;
    if (_on_border(x, y)) {
        return;
    }
    Position s(static_cast<double>(x), static_cast<double>(y), static_cast<double>(t));
    const FlowValue w = interpolate_value(forward_flow, s);
    Position q(x + w(0), y + w(1), t + 1.0);
    Coordinate n;
    if (!round_to_pixel(q, forward_flow.lower, forward_flow.upper, n)) {
        return;  // every pixel of the last frame ends here
    }
    const FlowValue w_back = interpolate_value(backward_flow, q);
    const double w_norm2 = w(0) * w(0) + w(1) * w(1);
    const double sx = w(0) + w_back(0), sy = w(1) + w_back(1);
    occlusion = cue_value(sx * sx + sy * sy, 0.01 * 2 * w_norm2 + 0.5);
    variation = cue_value(_flow_derivative_energy(forward_flow, n), 0.01 * w_norm2 + 0.002);
}

template <typename C, typename F, typename P>
double TrajectoryTracking<C, F, P>::_flow_derivative_energy(const F& flow,
                                                            const Coordinate& n) const {
    // Central differences; every sample off the frame reads the nearest pixel inside, x and y
    // clamped independently.
    const long long x = n(0), y = n(1), t = n(2);
    const long long x_plus = std::min(x + 1, size(0) - 1), x_minus = std::max(x - 1, 0LL);
    const long long y_plus = std::min(y + 1, size(1) - 1), y_minus = std::max(y - 1, 0LL);
    const double* right = flow.at(x_plus, y, t);
    const double* left = flow.at(x_minus, y, t);
    const double* below = flow.at(x, y_plus, t);
    const double* above = flow.at(x, y_minus, t);
    const double ux = 0.5 * (right[0] - left[0]);
    const double uy = 0.5 * (below[0] - above[0]);
    const double vx = 0.5 * (right[1] - left[1]);
    const double vy = 0.5 * (below[1] - above[1]);
    return ux * ux + uy * uy + vx * vx + vy * vy;
}

template <typename C, typename F, typename P>
void TrajectoryTracking<C, F, P>::calculate_structure_tensor(C& video) {
    _check_size(video.size, "video");
    const long long frames = size(2);
    if (frames <= 1) {
        return;
    }
    const long long interior = (size(0) - 2) * (size(1) - 2);
    // Each frame's structure and its normalisation read that frame and the next only.
    std::vector<double> means(static_cast<std::size_t>(frames - 1), 0.0);
    parallel_for(means.size(), threads, [&](std::size_t k) {
        const auto t = static_cast<long long>(k);
        if (size(0) >= 3 && size(1) >= 3) {  // else no interior pixel: structure 0 everywhere
            std::vector<float> gx, gy, gt;
            _frame_gradients(video, t, gx, gy, gt);
            double sum = 0.0;
            for (long long y = 1; y + 1 < size(1); ++y) {
                for (long long x = 1; x + 1 < size(0); ++x) {
                    const double lambda = static_cast<double>(_middle_eigenvalue(x, y, gx, gy, gt));
                    structure_tensor_map.at(x, y, t)[0] = lambda;
                    sum += lambda;
                }
            }
            means[k] = sum / static_cast<double>(interior);
        }
        _normalise_structure(t, means[k]);
    });
    structure_frame_means.insert(structure_frame_means.end(), means.begin(), means.end());
}

template <typename C, typename F, typename P>
void TrajectoryTracking<C, F, P>::_frame_gradients(const C& video,
                                                   long long t,
                                                   std::vector<float>& gx,
                                                   std::vector<float>& gy,
                                                   std::vector<float>& gt) const {
    // Window positions run from -1 to X (resp. Y): the window is not clamped, only each sample
    // of L it reads. The images are indexed from (-1, -1).
    const long long X = size(0), Y = size(1);
    const long long width = X + 2;
    const std::size_t count = static_cast<std::size_t>(width * (Y + 2));
    gx.resize(count);
    gy.resize(count);
    gt.resize(count);
    auto cx = [X](long long x) { return std::min(std::max(x, 0LL), X - 1); };
    auto cy = [Y](long long y) { return std::min(std::max(y, 0LL), Y - 1); };
    auto L = [&video](long long x, long long y, long long frame) {
        return video.at(x, y, frame)[0];
    };
    for (long long py = -1; py <= Y; ++py) {
        for (long long px = -1; px <= X; ++px) {
            const std::size_t i = static_cast<std::size_t>((py + 1) * width + (px + 1));
            gx[i] = static_cast<float>(0.5 * (L(cx(px + 1), cy(py), t) - L(cx(px - 1), cy(py), t)));
            gy[i] = static_cast<float>(0.5 * (L(cx(px), cy(py + 1), t) - L(cx(px), cy(py - 1), t)));
            gt[i] = static_cast<float>(L(cx(px), cy(py), t + 1) - L(cx(px), cy(py), t));
        }
    }
}

template <typename C, typename F, typename P>
float TrajectoryTracking<C, F, P>::_middle_eigenvalue(long long x,
                                                      long long y,
                                                      const std::vector<float>& gx,
                                                      const std::vector<float>& gy,
                                                      const std::vector<float>& gt) const {
    // Gaussian window weights exp(-(dx² + dy²)), computed in double and kept as floats.
    static const std::array<float, 25> weights = [] {
        std::array<float, 25> w{};
        for (int dx = -2; dx <= 2; ++dx) {
            for (int dy = -2; dy <= 2; ++dy) {
                w[static_cast<std::size_t>((dx + 2) * 5 + dy + 2)] =
                    static_cast<float>(std::exp(-static_cast<double>(dx * dx + dy * dy)));
            }
        }
        return w;
    }();
    const long long width = size(0) + 2;
    Eigen::Matrix<float, 3, 3> M = Eigen::Matrix<float, 3, 3>::Zero();
    // Float accumulation: dx outer, dy inner, each entry summed in this order.
    for (int dx = -2; dx <= 2; ++dx) {
        for (int dy = -2; dy <= 2; ++dy) {
            const float g = weights[static_cast<std::size_t>((dx + 2) * 5 + dy + 2)];
            const std::size_t i = static_cast<std::size_t>((y + dy + 1) * width + (x + dx + 1));
            const float G[3] = {gx[i], gy[i], gt[i]};
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    M(r, c) += (g * G[r]) * G[c];
                }
            }
        }
    }
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix<float, 3, 3>> solver(M);
    return solver.eigenvalues()(1);
}

template <typename C, typename F, typename P>
void TrajectoryTracking<C, F, P>::_normalise_structure(long long t, double mean) {
    // A frame without structure (mean 0) or without interior pixels has structure 0; a rounding
    // negative eigenvalue gives 0 rather than leaving [0, 1].
    const bool usable = mean > 0.0 && std::isfinite(mean);
    double* frame = structure_tensor_map.frame_data(t);
    const std::size_t count = static_cast<std::size_t>(size(0) * size(1));
    for (std::size_t i = 0; i < count; ++i) {
        const double value = usable ? 1.0 - std::exp(-frame[i] / mean) : 0.0;
        frame[i] = (value >= 0.0 && value <= 1.0) ? value : 0.0;
    }
}

}  // namespace gma
}  // namespace vorada
