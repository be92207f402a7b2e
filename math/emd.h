#pragma once
// Earth Mover's Distance between two signatures: the transportation simplex with Russell's
// initial basis. All state has fixed capacity and lives in the object, so a call allocates
// nothing; the object is large (about 1.1 MB) and meant to be long-lived.

#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "common/errors.h"

namespace vorada {
namespace math {
namespace optimization {

/// One entry of the optional flow output: mass moved from feature `from` of the first
/// signature to feature `to` of the second.
struct flow_t {
    unsigned long long from;
    unsigned long long to;
    float amount;
};

/// Ground distance between colour values: 1 - exp(-sqrt(sum_k w_k (a_k - b_k)^2)), in [0, 1).
template <typename Feature>
struct PerceptualDistance {
    Eigen::Vector3d channel_weights = Eigen::Vector3d::Ones();

    PerceptualDistance() = default;
    explicit PerceptualDistance(const Eigen::Vector3d& weights) : channel_weights(weights) {}

    double operator()(const Feature& a, const Feature& b) const {
        return from_weighted_square(weighted_square(a, b));
    }

    /// The weighted squared colour difference under the root; the distance grows with it.
    double weighted_square(const Feature& a, const Feature& b) const {
        const double d0 = a(0) - b(0);
        const double d1 = a(1) - b(1);
        const double d2 = a(2) - b(2);
        return channel_weights(0) * (d0 * d0) + channel_weights(1) * (d1 * d1) +
               channel_weights(2) * (d2 * d2);
    }
    static double from_weighted_square(double square) { return 1.0 - std::exp(-std::sqrt(square)); }
    /// A lower bound of from_weighted_square without the exponential: exp(r) is at least its
    /// Taylor polynomial of degree 3, so 1 − exp(−r) is at least 1 − 1 / that polynomial.
    static double below_weighted_square(double square) {
        const double r = std::sqrt(square);
        return 1.0 - 1.0 / (1.0 + r * (1.0 + r * (0.5 + r * (1.0 / 6.0))));
    }
};

namespace detail {
/// Writes the three-line warning about basic variables that could not be reached.
void emd_warn_potentials();
}  // namespace detail

/// Transportation simplex over at most 255 x 255 features (one dummy row or column fits).
template <typename GroundDistance>
class EMD {
  public:
    using ground_distance_type = GroundDistance;
    static constexpr std::size_t max_features = 255;
    static constexpr std::size_t max_size = 256;
    static constexpr std::size_t pool_size = 512;
    static constexpr int none = -1;

    /// A basic variable: cell (i, j), its flow and the links to the next basic variable of the
    /// same row and of the same column (pool positions, `none` at the end).
    struct BasicVariable {
        unsigned long long i;
        unsigned long long j;
        double flow;
        int next_in_row;
        int next_in_column;
    };

    GroundDistance ground_distance;
    unsigned long long row_count = 0;
    unsigned long long column_count = 0;
    double cost[max_size][max_size];
    BasicVariable basis_pool[pool_size];
    int pool_end = 0;
    int entering = none;
    bool is_basic[max_size][max_size];
    int row_heads[max_size];
    int column_heads[max_size];
    double max_weight = 0;
    double max_cost = 0;

    explicit EMD(const GroundDistance& distance = GroundDistance()) : ground_distance(distance) {}
    EMD(const EMD&) = delete;
    EMD& operator=(const EMD&) = delete;

    /// The distance between two signatures, in single precision. When flow is not null, one
    /// entry per non-zero flow between real features is written to it, in basis order; it must
    /// have room for row_count + column_count - 1 entries. A signature with more than 255
    /// features, or a solver step that finds no way on, throws VoradaError.
    template <typename SignatureType>
    float _emd(const SignatureType& first, const SignatureType& second, flow_t* flow);

    /// A lower bound of _emd(first, second) that needs no transport problem: the mass of the
    /// lighter signature (of either, when the totals agree) priced at the ground distance to its
    /// nearest feature on the other side, divided by that mass. Every transport plan pays at
    /// least this; a margin covers the solver's rounding, so the bound never exceeds its
    /// result. Oversized or empty signatures give 0 (the solver reports them).
    template <typename SignatureType>
    double lower_bound(const SignatureType& first, const SignatureType& second) const;

    /// A bound lowered by what the solver's own inexactness may take off its result: its flows
    /// meet the masses to within 1e-10 of the total and its result is rounded to single
    /// precision. A relative and an absolute margin cover both; the result is at least 0.
    static double with_rounding_margin(double bound) {
        const double lowered = bound * (1.0 - 1e-5) - 1e-12;
        return lowered > 0 ? lowered : 0;
    }

    /// Russell's approximation: fills the initial basis from supply and demand (both consumed).
    void russel(double* supply, double* demand);

  private:
    // Russell's reduced costs; working storage of one call, kept here to stay off the stack.
    double delta[max_size][max_size];

    struct Masses {
        double supply = 0;
        double demand = 0;
    };
    // Russell's working state: the maxima of the rows and columns still open, and which are.
    struct RussellState {
        double row_max[max_size];
        double column_max[max_size];
        unsigned long long open_rows[max_size];
        unsigned long long open_columns[max_size];
        std::size_t open_row_count = 0;
        std::size_t open_column_count = 0;
    };

    template <std::size_t R, std::size_t C, typename SignatureType>
    double _lower_bound(const SignatureType& first,
                        const SignatureType& second,
                        bool use_rows,
                        bool use_columns,
                        double supply_total,
                        double demand_total) const;
    template <typename SignatureType>
    void _check_signatures(const SignatureType& first, const SignatureType& second);
    template <typename SignatureType>
    void _fill_costs(const SignatureType& first, const SignatureType& second);
    template <typename SignatureType>
    Masses _balance_masses(const SignatureType& first,
                           const SignatureType& second,
                           double* supply,
                           double* demand);
    void _reset_basis();
    void _optimize();
    double _transported_cost(std::size_t first_size, std::size_t second_size, flow_t* flow) const;

    void _russell_reduced_costs(RussellState& state);
    bool _cheapest_open_cell(const RussellState& state,
                             unsigned long long& best_i,
                             unsigned long long& best_j) const;
    static void _erase_open(unsigned long long* list, std::size_t& count, unsigned long long value);
    void _close_row(RussellState& state, unsigned long long closed);
    void _close_column(RussellState& state, unsigned long long closed);

    void _add_basic(int record, unsigned long long i, unsigned long long j, double flow);
    void _remove_basic(int record);
    void _find_potentials(double* u, double* v) const;
    bool _find_cycle(int* cycle, int* length) const;
    bool _extend_cycle(int* cycle, int length, bool* used, int* result_length) const;
    void _pivot(unsigned long long i, unsigned long long j);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename GroundDistance>
template <typename SignatureType>
float EMD<GroundDistance>::_emd(const SignatureType& first,
                                const SignatureType& second,
                                flow_t* flow) {
    _check_signatures(first, second);
    _fill_costs(first, second);
    double supply[max_size];
    double demand[max_size];
    const Masses masses = _balance_masses(first, second, supply, demand);
    _reset_basis();
    max_weight = masses.supply > masses.demand ? masses.supply : masses.demand;
    russel(supply, demand);
    entering = pool_end++;
    const float divisor =
        static_cast<float>(masses.supply < masses.demand ? masses.supply : masses.demand);
    if (row_count > 1 && column_count > 1) {
        _optimize();
    }
    return static_cast<float>(
        _transported_cost(first.features.size(), second.features.size(), flow) / divisor);
}

// Sizes the problem on the two signatures; oversized ones are refused.
template <typename GroundDistance>
template <typename SignatureType>
void EMD<GroundDistance>::_check_signatures(const SignatureType& first,
                                            const SignatureType& second) {
    const std::size_t first_size = first.features.size();
    const std::size_t second_size = second.features.size();
    if (first_size > max_features || second_size > max_features) {
        throw VoradaError("emd: a signature has more than 255 features");
    }
    if (static_cast<std::size_t>(first.weights.size()) != first_size ||
        static_cast<std::size_t>(second.weights.size()) != second_size) {
        throw VoradaError("emd: a signature needs exactly one weight per feature");
    }
    if (first_size == 0 || second_size == 0) {
        throw VoradaError("emd: a signature has no features");
    }
    row_count = first_size;
    column_count = second_size;
}

// The ground distance of every pair of features, and its maximum.
template <typename GroundDistance>
template <typename SignatureType>
void EMD<GroundDistance>::_fill_costs(const SignatureType& first, const SignatureType& second) {
    max_cost = 0;
    for (std::size_t i = 0; i < row_count; ++i) {
        for (std::size_t j = 0; j < column_count; ++j) {
            const double c = ground_distance(first.features[i], second.features[j]);
            cost[i][j] = c;
            if (c > max_cost) {
                max_cost = c;
            }
        }
    }
}

// Supply and demand from the weights; unequal masses get a zero-cost dummy row or column that
// absorbs the excess.
template <typename GroundDistance>
template <typename SignatureType>
typename EMD<GroundDistance>::Masses EMD<GroundDistance>::_balance_masses(
    const SignatureType& first, const SignatureType& second, double* supply, double* demand) {
    Masses masses;
    for (std::size_t i = 0; i < row_count; ++i) {
        supply[i] = first.weights[i];
        masses.supply += supply[i];
    }
    for (std::size_t j = 0; j < column_count; ++j) {
        demand[j] = second.weights[j];
        masses.demand += demand[j];
    }
    if (std::fabs(masses.supply - masses.demand) >= 1e-10 * masses.supply) {
        if (masses.supply < masses.demand) {
            for (std::size_t j = 0; j < column_count; ++j) {
                cost[row_count][j] = 0;
            }
            supply[row_count] = masses.demand - masses.supply;
            ++row_count;
        } else {
            for (std::size_t i = 0; i < row_count; ++i) {
                cost[i][column_count] = 0;
            }
            demand[column_count] = masses.supply - masses.demand;
            ++column_count;
        }
    }
    return masses;
}

// An empty basis. Only the rows and columns of this problem are reset; the rest is never read.
template <typename GroundDistance>
void EMD<GroundDistance>::_reset_basis() {
    for (std::size_t i = 0; i < row_count; ++i) {
        for (std::size_t j = 0; j < column_count; ++j) {
            is_basic[i][j] = false;
        }
        row_heads[i] = none;
    }
    for (std::size_t j = 0; j < column_count; ++j) {
        column_heads[j] = none;
    }
    pool_end = 0;
}

// Transportation simplex: pivots on the most negative reduced cost until none is left (at
// most 999 pivots).
template <typename GroundDistance>
void EMD<GroundDistance>::_optimize() {
    double u[max_size];
    double v[max_size];
    for (std::size_t i = 0; i < row_count; ++i) {
        u[i] = 0;
    }
    for (std::size_t j = 0; j < column_count; ++j) {
        v[j] = 0;
    }
    for (int pivots = 0; pivots < 999; ++pivots) {
        _find_potentials(u, v);
        bool any_free = false;
        double smallest = INFINITY;
        unsigned long long best_i = 0;
        unsigned long long best_j = 0;
        for (std::size_t i = 0; i < row_count; ++i) {
            for (std::size_t j = 0; j < column_count; ++j) {
                if (is_basic[i][j]) {
                    continue;
                }
                any_free = true;
                const double reduced = cost[i][j] - u[i] - v[j];
                if (reduced < smallest) {
                    smallest = reduced;
                    best_i = i;
                    best_j = j;
                }
            }
        }
        if (!any_free) {
            throw VoradaError("emd: Unexpected error in isOptimal.");
        }
        if (smallest >= -1e-10 * max_cost) {
            return;
        }
        _pivot(best_i, best_j);
    }
}

// The cost of the flows between real features, listed in `flow` when it is not null.
template <typename GroundDistance>
double EMD<GroundDistance>::_transported_cost(std::size_t first_size,
                                              std::size_t second_size,
                                              flow_t* flow) const {
    double total = 0;
    for (int record = 0; record < pool_end; ++record) {
        const BasicVariable& b = basis_pool[record];
        if (record == entering || b.i >= first_size || b.j >= second_size || b.flow == 0) {
            continue;
        }
        total += b.flow * cost[b.i][b.j];
        if (flow != nullptr) {
            *flow++ = flow_t{b.i, b.j, static_cast<float>(b.flow)};
        }
    }
    return total;
}

template <typename GroundDistance>
template <typename SignatureType>
double EMD<GroundDistance>::lower_bound(const SignatureType& first,
                                        const SignatureType& second) const {
    const std::size_t rows = first.features.size();
    const std::size_t columns = second.features.size();
    if (rows == 0 || columns == 0 || rows > max_features || columns > max_features ||
        static_cast<std::size_t>(first.weights.size()) != rows ||
        static_cast<std::size_t>(second.weights.size()) != columns) {
        return 0;
    }
    double supply_total = 0;
    double demand_total = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        supply_total += first.weights[i];
    }
    for (std::size_t j = 0; j < columns; ++j) {
        demand_total += second.weights[j];
    }
    // The same test as the solver's: within it no dummy is added and both sides move whole.
    const bool balanced = std::fabs(supply_total - demand_total) < 1e-10 * supply_total;
    const bool use_rows = balanced || supply_total < demand_total;
    const bool use_columns = balanced || demand_total < supply_total;

    // Signatures of up to four colours (all but the largest runs) take a path whose loops the
    // compiler lays out in full.
    // clang-format off
    switch (rows <= 4 && columns <= 4 ? 4 * (rows - 1) + (columns - 1) : 16) {
#define VORADA_EMD_SMALL(R, C)                                                                     \
    case 4 * (R - 1) + (C - 1):                                                                    \
        return _lower_bound<R, C>(first, second, use_rows, use_columns, supply_total,             \
                                  demand_total);
        VORADA_EMD_SMALL(1, 1) VORADA_EMD_SMALL(1, 2) VORADA_EMD_SMALL(1, 3) VORADA_EMD_SMALL(1, 4)
        VORADA_EMD_SMALL(2, 1) VORADA_EMD_SMALL(2, 2) VORADA_EMD_SMALL(2, 3) VORADA_EMD_SMALL(2, 4)
        VORADA_EMD_SMALL(3, 1) VORADA_EMD_SMALL(3, 2) VORADA_EMD_SMALL(3, 3) VORADA_EMD_SMALL(3, 4)
        VORADA_EMD_SMALL(4, 1) VORADA_EMD_SMALL(4, 2) VORADA_EMD_SMALL(4, 3) VORADA_EMD_SMALL(4, 4)
#undef VORADA_EMD_SMALL
        default:
            return _lower_bound<0, 0>(first, second, use_rows, use_columns, supply_total,
                                      demand_total);
    }
    // clang-format on
}

// The bound for R × C features, or for the sizes of the signatures when R and C are 0.
template <typename GroundDistance>
template <std::size_t R, std::size_t C, typename SignatureType>
double EMD<GroundDistance>::_lower_bound(const SignatureType& first,
                                         const SignatureType& second,
                                         bool use_rows,
                                         bool use_columns,
                                         double supply_total,
                                         double demand_total) const {
    const std::size_t rows = R ? R : first.features.size();
    const std::size_t columns = C ? C : second.features.size();
    // Nearest features by the squared difference, which orders them as the distance does, so
    // only the nearest ones need the exponential.
    double row_nearest[R ? R : max_size];
    double column_nearest[C ? C : max_size];
    std::fill(row_nearest, row_nearest + rows, INFINITY);
    std::fill(column_nearest, column_nearest + columns, INFINITY);
    for (std::size_t i = 0; i < rows; ++i) {
        for (std::size_t j = 0; j < columns; ++j) {
            const double square =
                ground_distance.weighted_square(first.features[i], second.features[j]);
            row_nearest[i] = std::min(row_nearest[i], square);
            column_nearest[j] = std::min(column_nearest[j], square);
        }
    }
    double row_bound = 0;
    double column_bound = 0;
    if (use_rows) {
        for (std::size_t i = 0; i < rows; ++i) {
            row_bound += first.weights[i] * GroundDistance::below_weighted_square(row_nearest[i]);
        }
        row_bound /= supply_total;
    }
    if (use_columns) {
        for (std::size_t j = 0; j < columns; ++j) {
            column_bound +=
                second.weights[j] * GroundDistance::below_weighted_square(column_nearest[j]);
        }
        column_bound /= demand_total;
    }
    return with_rounding_margin(std::max(row_bound, column_bound));
}

template <typename GroundDistance>
void EMD<GroundDistance>::russel(double* supply, double* demand) {
    RussellState state;
    _russell_reduced_costs(state);
    unsigned long long i = 0;
    unsigned long long j = 0;
    while ((state.open_row_count > 0 || state.open_column_count > 0) &&
           _cheapest_open_cell(state, i, j)) {
        double amount;
        if (std::fabs(supply[i] - demand[j]) <= 1e-10 * max_weight || supply[i] < demand[j]) {
            amount = supply[i];
            supply[i] = 0;
            demand[j] -= amount;
        } else {
            amount = demand[j];
            demand[j] = 0;
            supply[i] -= amount;
        }
        _add_basic(pool_end++, i, j, amount);
        if (supply[i] == 0 && state.open_row_count > 1) {
            _close_row(state, i);
        } else {
            _close_column(state, j);
        }
    }
}

// Every row and column open; row and column maxima of the costs rounded to single precision,
// and the reduced costs cost − row maximum − column maximum.
template <typename GroundDistance>
void EMD<GroundDistance>::_russell_reduced_costs(RussellState& state) {
    state.open_row_count = row_count;
    state.open_column_count = column_count;
    for (std::size_t i = 0; i < row_count; ++i) {
        state.open_rows[i] = i;
        state.row_max[i] = -INFINITY;
        for (std::size_t j = 0; j < column_count; ++j) {
            const double c = static_cast<double>(static_cast<float>(cost[i][j]));
            if (c >= state.row_max[i]) {
                state.row_max[i] = c;
            }
        }
    }
    for (std::size_t j = 0; j < column_count; ++j) {
        state.open_columns[j] = j;
        state.column_max[j] = -INFINITY;
        for (std::size_t i = 0; i < row_count; ++i) {
            const double c = static_cast<double>(static_cast<float>(cost[i][j]));
            if (c >= state.column_max[j]) {
                state.column_max[j] = c;
            }
        }
    }
    for (std::size_t i = 0; i < row_count; ++i) {
        for (std::size_t j = 0; j < column_count; ++j) {
            delta[i][j] = cost[i][j] - state.row_max[i] - state.column_max[j];
        }
    }
}

// The open cell of smallest reduced cost; ties keep the first in row-major order.
template <typename GroundDistance>
bool EMD<GroundDistance>::_cheapest_open_cell(const RussellState& state,
                                              unsigned long long& best_i,
                                              unsigned long long& best_j) const {
    double smallest = INFINITY;
    bool found = false;
    for (std::size_t r = 0; r < state.open_row_count; ++r) {
        for (std::size_t c = 0; c < state.open_column_count; ++c) {
            const double d = delta[state.open_rows[r]][state.open_columns[c]];
            if (d < smallest) {
                smallest = d;
                best_i = state.open_rows[r];
                best_j = state.open_columns[c];
                found = true;
            }
        }
    }
    return found;
}

// Removes `value` from an open list, keeping the order of the rest.
template <typename GroundDistance>
void EMD<GroundDistance>::_erase_open(unsigned long long* list,
                                      std::size_t& count,
                                      unsigned long long value) {
    std::size_t k = 0;
    while (k < count && list[k] != value) {
        ++k;
    }
    for (; k + 1 < count; ++k) {
        list[k] = list[k + 1];
    }
    --count;
}

// Closes a row whose supply is used up; columns whose maximum sat in it get their maximum
// recomputed over the open rows.
template <typename GroundDistance>
void EMD<GroundDistance>::_close_row(RussellState& state, unsigned long long closed) {
    _erase_open(state.open_rows, state.open_row_count, closed);
    for (std::size_t c = 0; c < state.open_column_count; ++c) {
        const unsigned long long j = state.open_columns[c];
        if (state.column_max[j] != cost[closed][j]) {
            continue;
        }
        const double old_max = state.column_max[j];
        state.column_max[j] = -INFINITY;
        for (std::size_t r = 0; r < state.open_row_count; ++r) {
            if (cost[state.open_rows[r]][j] >= state.column_max[j]) {
                state.column_max[j] = cost[state.open_rows[r]][j];
            }
        }
        const double diff = old_max - state.column_max[j];
        if (std::fabs(diff) < 1e-10 * max_cost) {
            for (std::size_t r = 0; r < state.open_row_count; ++r) {
                delta[state.open_rows[r]][j] += diff;
            }
        }
    }
}

// Closes a column whose demand is met; the same for the rows whose maximum sat in it.
template <typename GroundDistance>
void EMD<GroundDistance>::_close_column(RussellState& state, unsigned long long closed) {
    _erase_open(state.open_columns, state.open_column_count, closed);
    for (std::size_t r = 0; r < state.open_row_count; ++r) {
        const unsigned long long i = state.open_rows[r];
        if (state.row_max[i] != cost[i][closed]) {
            continue;
        }
        const double old_max = state.row_max[i];
        state.row_max[i] = -INFINITY;
        for (std::size_t c = 0; c < state.open_column_count; ++c) {
            if (cost[i][state.open_columns[c]] >= state.row_max[i]) {
                state.row_max[i] = cost[i][state.open_columns[c]];
            }
        }
        const double diff = old_max - state.row_max[i];
        if (std::fabs(diff) < 1e-10 * max_cost) {
            for (std::size_t c = 0; c < state.open_column_count; ++c) {
                delta[i][state.open_columns[c]] += diff;
            }
        }
    }
}

template <typename GroundDistance>
void EMD<GroundDistance>::_add_basic(int record,
                                     unsigned long long i,
                                     unsigned long long j,
                                     double flow) {
    BasicVariable& b = basis_pool[record];
    b.i = i;
    b.j = j;
    b.flow = flow;
    b.next_in_row = row_heads[i];
    b.next_in_column = column_heads[j];
    row_heads[i] = record;
    column_heads[j] = record;
    is_basic[i][j] = true;
}

template <typename GroundDistance>
void EMD<GroundDistance>::_remove_basic(int record) {
    BasicVariable& b = basis_pool[record];
    is_basic[b.i][b.j] = false;
    int* link = &row_heads[b.i];
    while (*link != record) {
        link = &basis_pool[*link].next_in_row;
    }
    *link = b.next_in_row;
    link = &column_heads[b.j];
    while (*link != record) {
        link = &basis_pool[*link].next_in_column;
    }
    *link = b.next_in_column;
}

template <typename GroundDistance>
void EMD<GroundDistance>::_find_potentials(double* u, double* v) const {
    // The basis is a spanning tree over rows and columns, so every potential follows from its
    // one neighbour towards column 0 and the visiting order does not change the values.
    bool row_found[max_size];
    bool column_found[max_size];
    for (std::size_t i = 0; i < row_count; ++i) {
        row_found[i] = false;
    }
    for (std::size_t j = 0; j < column_count; ++j) {
        column_found[j] = false;
    }
    // Queue entries: columns as j, rows as max_size + i.
    std::size_t queue[2 * max_size];
    std::size_t head = 0;
    std::size_t tail = 0;
    v[0] = 0;
    column_found[0] = true;
    queue[tail++] = 0;
    std::size_t found = 1;
    while (head < tail) {
        const std::size_t node = queue[head++];
        if (node < max_size) {
            const std::size_t j = node;
            for (int r = column_heads[j]; r != none; r = basis_pool[r].next_in_column) {
                const std::size_t i = basis_pool[r].i;
                if (!row_found[i]) {
                    u[i] = cost[i][j] - v[j];
                    row_found[i] = true;
                    queue[tail++] = max_size + i;
                    ++found;
                }
            }
        } else {
            const std::size_t i = node - max_size;
            for (int r = row_heads[i]; r != none; r = basis_pool[r].next_in_row) {
                const std::size_t j = basis_pool[r].j;
                if (!column_found[j]) {
                    v[j] = cost[i][j] - u[i];
                    column_found[j] = true;
                    queue[tail++] = j;
                    ++found;
                }
            }
        }
    }
    // Potentials that were not reached keep their values from the previous pivot (zero at
    // first).
    if (found < row_count + column_count) {
        detail::emd_warn_potentials();
    }
}

template <typename GroundDistance>
bool EMD<GroundDistance>::_extend_cycle(int* cycle,
                                        int length,
                                        bool* used,
                                        int* result_length) const {
    const BasicVariable& last = basis_pool[cycle[length - 1]];
    const bool along_row = (length - 1) % 2 == 0;
    if (!along_row && last.j == basis_pool[cycle[0]].j) {
        *result_length = length;
        return true;
    }
    int r = along_row ? row_heads[last.i] : column_heads[last.j];
    while (r != none) {
        if (!used[r]) {
            // The basis plus the entering cell holds a single cycle, so a cell reached once
            // and abandoned cannot lie on it: marks are never cleared.
            used[r] = true;
            cycle[length] = r;
            if (_extend_cycle(cycle, length + 1, used, result_length)) {
                return true;
            }
        }
        r = along_row ? basis_pool[r].next_in_row : basis_pool[r].next_in_column;
    }
    return false;
}

template <typename GroundDistance>
bool EMD<GroundDistance>::_find_cycle(int* cycle, int* length) const {
    bool used[pool_size];
    for (int r = 0; r < pool_end; ++r) {
        used[r] = false;
    }
    cycle[0] = entering;
    used[entering] = true;
    return _extend_cycle(cycle, 1, used, length);
}

template <typename GroundDistance>
void EMD<GroundDistance>::_pivot(unsigned long long i, unsigned long long j) {
    _add_basic(entering, i, j, 0.0);
    int cycle[pool_size];
    int length = 0;
    if (!_find_cycle(cycle, &length)) {
        throw VoradaError("emd: Unexpected error in findLoop!");
    }
    // The cells at odd positions lose flow; on ties the first of them in cycle order leaves.
    double theta = INFINITY;
    int leaving = 1;
    for (int k = 1; k < length; k += 2) {
        if (basis_pool[cycle[k]].flow < theta) {
            theta = basis_pool[cycle[k]].flow;
            leaving = k;
        }
    }
    for (int k = 0; k < length; ++k) {
        if (k % 2 == 0) {
            basis_pool[cycle[k]].flow += theta;
        } else {
            basis_pool[cycle[k]].flow -= theta;
        }
    }
    const int leaving_record = cycle[leaving];
    _remove_basic(leaving_record);
    entering = leaving_record;
}

extern template class EMD<PerceptualDistance<Eigen::Vector3d>>;

}  // namespace optimization
}  // namespace math
}  // namespace vorada
