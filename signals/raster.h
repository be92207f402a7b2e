#pragma once
// Raster order, written once: every point of a box with x fastest, then y, then t. Relabelling,
// region filling, adjacency, painting and label files all depend on this order.

#include <cstddef>

namespace vorada {
namespace gma {

/// Calls visit(x, y, t) for every point of the signal's domain in raster order.
template <typename Signal, typename Visitor>
void for_each_point(const Signal& signal, Visitor&& visit) {
    for (long long t = signal.lower(2); t <= signal.upper(2); ++t) {
        for (long long y = signal.lower(1); y <= signal.upper(1); ++y) {
            for (long long x = signal.lower(0); x <= signal.upper(0); ++x) {
                visit(x, y, t);
            }
        }
    }
}

/// Number of frames of the signal's domain.
template <typename Signal>
std::size_t frame_count(const Signal& signal) {
    const long long frames = signal.upper(2) - signal.lower(2) + 1;
    return frames > 0 ? static_cast<std::size_t>(frames) : 0;
}

/// Calls visit(x, y, t) for every point of the k-th frame of the signal's domain, in raster
/// order: frames visited apart (on separate threads, say) cover what for_each_point does.
template <typename Signal, typename Visitor>
void for_each_frame_point(const Signal& signal, std::size_t k, Visitor&& visit) {
    const long long t = signal.lower(2) + static_cast<long long>(k);
    for (long long y = signal.lower(1); y <= signal.upper(1); ++y) {
        for (long long x = signal.lower(0); x <= signal.upper(0); ++x) {
            visit(x, y, t);
        }
    }
}

}  // namespace gma
}  // namespace vorada
