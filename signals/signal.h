#pragma once
// Dense multi-channel signals on the (x, y, t) lattice. Values are channel-interleaved; points
// follow with x fastest, then y, then t, so one frame is one contiguous block laid out like the
// pixel buffer of an image.

#include <Eigen/Core>
#include <cstdint>
#include <vector>

#include "signals/colorspacetype.h"

namespace vorada {
namespace gma {

/// A lattice point (x, y, t): x the column, y the row, t the frame index.
using Coordinate = Eigen::Matrix<long long, 3, 1>;

/// Abstract signal: a value for every coordinate of its domain.
template <typename CoordinateType, typename Unit, typename ConstUnit>
class GenericSignal {
  public:
    virtual ~GenericSignal() = default;
    /// The unit (values) of one point of the domain; no bounds check.
    virtual Unit value_at_coord(const CoordinateType& coordinate) = 0;
};

/// The result of an access: the owning signal, the coordinate and a pointer to its N values.
template <typename Signal>
struct DiscreteSpaceUnit {
    using value_type = typename Signal::value_type;
    Signal* signal = nullptr;
    Coordinate coordinate = Coordinate::Zero();
    value_type* values = nullptr;

    value_type& operator[](int channel) const { return values[channel]; }
};

/// Holds the values of a box of the lattice with origin (0, 0, 0) and N values per point.
template <typename Index, typename Value, int Dimensions, int N>
class DiscreteSpaceSignal
    : public GenericSignal<Coordinate,
                           DiscreteSpaceUnit<DiscreteSpaceSignal<Index, Value, Dimensions, N>>,
                           DiscreteSpaceUnit<DiscreteSpaceSignal<Index, Value, Dimensions, N>>> {
    static_assert(Dimensions == 3, "signals live on the x, y, t lattice");

  public:
    using value_type = Value;
    using Unit = DiscreteSpaceUnit<DiscreteSpaceSignal>;
    static constexpr int channels = N;

    Coordinate size = Coordinate::Zero();        ///< (X, Y, T)
    Coordinate lower = Coordinate::Zero();       ///< smallest point of the domain
    Coordinate upper = Coordinate(-1, -1, -1);   ///< largest point of the domain
    Coordinate extents = Coordinate::Zero();     ///< shape of the value array
    Coordinate strides = Coordinate(N, 0, 0);    ///< in values: N, N·X, N·X·Y
    Coordinate index_base = Coordinate::Zero();  ///< subtracted from a point before striding
    std::vector<Value> values;                   ///< X·Y·T·N values
    DiscreteSpaceSignal* owner = this;           ///< carried by every unit handed out
    ColorSpaceType color_space = RGB;
    bool initialized = false;
    unsigned long long width = 0, height = 0, frames = 0;

    /// An empty signal (no points).
    DiscreteSpaceSignal() = default;
    /// A signal of X × Y × T points, every value zero.
    DiscreteSpaceSignal(long long x_size, long long y_size, long long t_size) {
        resize(x_size, y_size, t_size);
    }
    DiscreteSpaceSignal(const DiscreteSpaceSignal& other) { copy_from(other); }
    DiscreteSpaceSignal& operator=(const DiscreteSpaceSignal& other) {
        if (this != &other) {
            copy_from(other);
        }
        return *this;
    }
    /// Takes over the other signal's values; the other is left empty (no points).
    DiscreteSpaceSignal(DiscreteSpaceSignal&& other) noexcept { move_from(other); }
    DiscreteSpaceSignal& operator=(DiscreteSpaceSignal&& other) noexcept {
        if (this != &other) {
            move_from(other);
        }
        return *this;
    }
    ~DiscreteSpaceSignal() override = default;

    /// Resizes to X × Y × T with every value zero; color space and initialized flag unchanged.
    void resize(long long x_size, long long y_size, long long t_size) {
        size = Coordinate(x_size, y_size, t_size);
        lower = Coordinate::Zero();
        upper = Coordinate(x_size - 1, y_size - 1, t_size - 1);
        extents = size;
        strides = Coordinate(N, N * x_size, N * x_size * y_size);
        index_base = Coordinate::Zero();
        values.assign(static_cast<std::size_t>(x_size * y_size * t_size * N), Value(0));
        width = static_cast<unsigned long long>(x_size);
        height = static_cast<unsigned long long>(y_size);
        frames = static_cast<unsigned long long>(t_size);
    }

    Unit value_at_coord(const Coordinate& c) override {
        return Unit{this, c, values.data() + offset(c(0), c(1), c(2))};
    }

    /// Element number of channel 0 of point (x, y, t) in `values`.
    std::size_t offset(long long x, long long y, long long t) const {
        return static_cast<std::size_t>((x - index_base(0)) * strides(0) +
                                        (y - index_base(1)) * strides(1) +
                                        (t - index_base(2)) * strides(2));
    }
    /// Pointer to the N values of point (x, y, t); no bounds check.
    Value* at(long long x, long long y, long long t) { return values.data() + offset(x, y, t); }
    const Value* at(long long x, long long y, long long t) const {
        return values.data() + offset(x, y, t);
    }
    /// Pointer to the first value of frame t (a contiguous block of X·Y·N values).
    Value* frame_data(long long t) { return values.data() + offset(0, 0, t); }
    const Value* frame_data(long long t) const { return values.data() + offset(0, 0, t); }
    /// Number of points of the domain.
    std::size_t point_count() const { return values.size() / N; }
    /// True when the point lies in the domain.
    bool contains(long long x, long long y, long long t) const {
        return x >= lower(0) && y >= lower(1) && t >= lower(2) && x <= upper(0) && y <= upper(1) &&
               t <= upper(2);
    }

  private:
    // Everything but the values; `owner` always names this signal.
    void copy_geometry(const DiscreteSpaceSignal& other) {
        size = other.size;
        lower = other.lower;
        upper = other.upper;
        extents = other.extents;
        strides = other.strides;
        index_base = other.index_base;
        owner = this;
        color_space = other.color_space;
        initialized = other.initialized;
        width = other.width;
        height = other.height;
        frames = other.frames;
    }

    void move_from(DiscreteSpaceSignal& other) noexcept {
        copy_geometry(other);
        values = std::move(other.values);
        other.values.clear();
        other.size = other.extents = Coordinate::Zero();
        other.upper = Coordinate(-1, -1, -1);
        other.width = other.height = other.frames = 0;
        other.initialized = false;
    }

    void copy_from(const DiscreteSpaceSignal& other) {
        copy_geometry(other);
        values = other.values;
    }
};

}  // namespace gma
}  // namespace vorada
