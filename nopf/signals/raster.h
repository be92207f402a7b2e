#pragma once
// Raster order, written once: every point of a box with x fastest, then y, then t. Relabelling,
// region filling, adjacency, painting and label files all depend on this order.

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

}  // namespace gma
}  // namespace vorada
