#pragma once
// Per-frame sums and counts of one signal over a region's points: the reference the flow sums
// are checked against. Sums and counts (not means) are kept so that a merged region's value is
// the exact frame-wise sum of its children's.

#include <Eigen/Core>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "descriptors/descriptorbase.h"
#include "descriptors/descriptormanager.h"
#include "descriptors/flowsums.h"
#include "descriptors/runpool.h"
#include "math/inlinevector.h"
#include "signals/region.h"

namespace vorada {
namespace gma {

/// Per-frame sums and counts as a descriptor computes them. Entry k of `sums` and `counts`
/// belongs to frame first_frame + k; both have last_frame − first_frame + 1 entries (none when
/// last_frame < first_frame).
template <int N>
struct MotionMeanValues {
    using Vector = Eigen::Matrix<double, N, 1, Eigen::DontAlign>;

    math::InlineVector<Vector, 2> sums;
    math::InlineVector<unsigned long long, 2> counts;
    long long first_frame = 0;
    long long last_frame = 0;
};

/// The same values as stored by the descriptor manager: views into its pools.
template <int N>
struct MotionMeanType {
    using Vector = typename MotionMeanValues<N>::Vector;

    ConstSpan<Vector> sums;
    ConstSpan<std::uint32_t> counts;
    long long first_frame = 0;
    long long last_frame = 0;
};

template <int N>
std::size_t stored_frames(const MotionMeanType<N>& view) {
    return view.sums.size();
}

/// How the manager keeps per-frame sums: per region its frame span and one run of sums and
/// one of counts in pools; a count is at most the points of one frame, so 32 bits hold it.
template <int N>
class MotionMeanStorage {
  public:
    using result = MotionMeanType<N>;
    using Vector = typename MotionMeanValues<N>::Vector;

    bool has(std::uint32_t slot) const { return slot < entries.size() && entries[slot].present(); }
    result get(std::uint32_t slot) const {
        const Entry& entry = entries[slot];
        result view;
        view.first_frame = entry.first_frame;
        view.last_frame = entry.last_frame;
        const std::size_t frames = _frames(entry);
        if (frames > 0) {
            view.sums = ConstSpan<Vector>(sum_pool.at(entry.sums), frames);
            view.counts = ConstSpan<std::uint32_t>(count_pool.at(entry.counts), frames);
        }
        return view;
    }
    result put(std::uint32_t slot, MotionMeanValues<N>&& values) {
        FrameSpan span;
        span.set(values.first_frame, values.last_frame);
        if (entries.size() <= slot) {
            entries.resize(slot + 1);
        }
        Entry& entry = entries[slot];
        static_cast<FrameSpan&>(entry) = span;
        const std::size_t frames = _frames(entry);
        if (values.sums.size() != frames || values.counts.size() != frames) {
            entry.first_frame = FrameSpan::absent;
            throw VoradaError("Per-frame sums do not match their frame span");
        }
        entry.sums = sum_pool.allocate(frames);
        entry.counts = count_pool.allocate(frames);
        live += frames;
        Vector* sums = frames ? sum_pool.at(entry.sums) : nullptr;
        std::uint32_t* counts = frames ? count_pool.at(entry.counts) : nullptr;
        for (std::size_t k = 0; k < frames; ++k) {
            if (values.counts[k] > 0xFFFFFFFFull) {
                sum_pool.free(entry.sums, frames);
                count_pool.free(entry.counts, frames);
                live -= frames;
                entry.first_frame = FrameSpan::absent;
                throw VoradaError("Too many points in one frame of a region");
            }
            sums[k] = values.sums[k];
            counts[k] = static_cast<std::uint32_t>(values.counts[k]);
        }
        return get(slot);
    }
    /// Frees a region's runs. When enough of the pools is then free (see
    /// RunPool::worth_repacking), the live runs are repacked, which moves them: views of any
    /// region are valid only until the next release.
    void clear(std::uint32_t slot) {
        Entry& entry = entries[slot];
        const std::size_t frames = _frames(entry);
        sum_pool.free(entry.sums, frames);
        count_pool.free(entry.counts, frames);
        live -= frames;
        entry = Entry();
        if (sum_pool.reserved() > repack_above && sum_pool.worth_repacking(live)) {
            sum_pool.repack([this](auto move) {
                for (Entry& kept : entries) {
                    if (kept.present()) {
                        move(kept.sums, _frames(kept));
                    }
                }
            });
            count_pool.repack([this](auto move) {
                for (Entry& kept : entries) {
                    if (kept.present()) {
                        move(kept.counts, _frames(kept));
                    }
                }
            });
        }
    }

  private:
    struct Entry : FrameSpan {
        typename RunPool<Vector>::Run sums = RunPool<Vector>::none;
        RunPool<std::uint32_t>::Run counts = RunPool<std::uint32_t>::none;
    };
    static std::size_t _frames(const Entry& entry) { return entry.frames(); }

    static constexpr std::size_t repack_above = std::size_t(1) << 18;  ///< frames

    std::vector<Entry> entries;
    RunPool<Vector> sum_pool;
    RunPool<std::uint32_t> count_pool;
    std::size_t live = 0;  ///< frames in runs in use
};

/// Per-frame sums and counts of an N-channel signal, stored as "motion_mean".
template <typename Signal>
class TemporalMean : public DescriptorBase {
  public:
    static constexpr int channels = Signal::channels;
    using type = MotionMeanType<channels>;
    using storage = MotionMeanStorage<channels>;
    struct Parameters {};
    using ColorMeanDescriptorParameters = Parameters;
    using capacity_error = VoradaError;
    static const char* name() { return "motion_mean"; }

    MotionMeanValues<channels> value;

    /// Sums the signal over the trajectory's points, frame by frame.
    template <typename Region>
    void calculate(Signal& signal,
                   Region& region,
                   const Parameters& parameters,
                   DescriptorManager* manager);
    /// Adds the children's sums and counts frame by frame, each child taken as a Region.
    template <typename Region, typename Children>
    void recursive_calculate(Signal& signal,
                             Region& region,
                             const Children& children,
                             const Parameters& parameters,
                             DescriptorManager* manager);

  private:
    void _reset(long long first, long long last);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename Signal>
void TemporalMean<Signal>::_reset(long long first, long long last) {
    value.first_frame = first;
    value.last_frame = last;
    // A region without points has last < first and gets no entries.
    const long long frames = last >= first ? last - first + 1 : 0;
    value.sums.assign(static_cast<std::size_t>(frames), MotionMeanValues<channels>::Vector::Zero());
    value.counts.assign(static_cast<std::size_t>(frames), 0ULL);
}

template <typename Signal>
template <typename Region>
void TemporalMean<Signal>::calculate(Signal& signal,
                                     Region& region,
                                     const Parameters& /*parameters*/,
                                     DescriptorManager* /*manager*/) {
    _reset(region.first_frame, region.last_frame);
    const long long frames = static_cast<long long>(value.counts.size());
    for_each_region_point(region, [&](const Coordinate& point) {
        const long long k = point(2) - value.first_frame;
        if (k < 0 || k >= frames || !signal.contains(point(0), point(1), point(2))) {
            throw VoradaError("Region point outside its frame span or the signal");
        }
        const auto* samples = signal.at(point(0), point(1), point(2));
        auto& sum = value.sums[static_cast<std::size_t>(k)];
        for (int c = 0; c < channels; ++c) {
            sum(c) += samples[c];
        }
        ++value.counts[static_cast<std::size_t>(k)];
    });
}

template <typename Signal>
template <typename Region, typename Children>
void TemporalMean<Signal>::recursive_calculate(Signal& signal,
                                               Region& /*region*/,
                                               const Children& children,
                                               const Parameters& parameters,
                                               DescriptorManager* manager) {
    add_children_frames<TemporalMean, Signal, Region>(
        signal, children, parameters, manager,
        [this](long long first, long long last) { _reset(first, last); },
        [this](const type& part, std::size_t j, std::size_t k) {
            for (int c = 0; c < channels; ++c) {
                value.sums[k](c) += part.sums[j](c);
            }
            value.counts[k] += part.counts[j];
        });
}

}  // namespace gma
}  // namespace vorada
