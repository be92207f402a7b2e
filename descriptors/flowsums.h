#pragma once
// Per-frame sums of the optical flow and of its reliability over a region's points, with the
// points counted once per frame. The motion term reads both for the same frames of the same
// region: one record holds them, so a measure reaches them with one look-up instead of two, and
// the count both would keep twice is kept once. Each sum is the one TemporalMean gives on its
// own signal, added in the same order.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/errors.h"
#include "descriptors/descriptorbase.h"
#include "descriptors/descriptormanager.h"
#include "descriptors/runpool.h"
#include "descriptors/temporalmean.h"
#include "math/inlinevector.h"
#include "signals/region.h"

namespace vorada {
namespace gma {

/// One frame of a region's record: the flow's two components and the reliability summed over
/// the region's points in that frame, and the number of those points.
struct FlowFrame {
    double flow_x = 0;
    double flow_y = 0;
    double reliability = 0;
    double points = 0;  ///< a count, exact in a double
};

/// A region's frames first_frame … last_frame as a descriptor computes them (FlowSumsValues)
/// and as the manager hands them out (FlowSumsView, into its pool: valid until the next
/// release of any region).
struct FlowSumsValues {
    math::InlineVector<FlowFrame, 2> frames;
    long long first_frame = 0;
    long long last_frame = 0;
};
struct FlowSumsView {
    ConstSpan<FlowFrame> frames;
    long long first_frame = 0;
    long long last_frame = 0;
};
inline std::size_t stored_frames(const FlowSumsView& view) { return view.frames.size(); }

/// How the manager keeps flow sums: per slot the frame span and one run of frames in a pool,
/// so a region's whole record is one look-up away from its slot.
class FlowSumsStorage {
public:
    using result = FlowSumsView;

    bool has(std::uint32_t slot) const {
        return slot < entries.size() && entries[slot].present();
    }
    result get(std::uint32_t slot) const {
        const Entry& entry = entries[slot];
        result view;
        view.first_frame = entry.first_frame;
        view.last_frame = entry.last_frame;
        const std::size_t frames = entry.frames();
        if (frames > 0) {
            view.frames = ConstSpan<FlowFrame>(pool.at(entry.run), frames);
        }
        return view;
    }
    /// Hints that `slot`'s entry, and then its run, will be read soon.
    void prefetch_entry(std::uint32_t slot) const {
        if (slot < entries.size()) {
            __builtin_prefetch(&entries[slot]);
        }
    }
    void prefetch_run(std::uint32_t slot) const {
        if (has(slot) && entries[slot].frames() > 0) {
            const FlowFrame* run = pool.at(entries[slot].run);
            __builtin_prefetch(run);
            __builtin_prefetch(run + entries[slot].frames() - 1);
        }
    }
    result put(std::uint32_t slot, FlowSumsValues&& values) {
        FrameSpan span;
        span.set(values.first_frame, values.last_frame);
        if (entries.size() <= slot) {
            entries.resize(slot + 1);
        }
        Entry& entry = entries[slot];
        static_cast<FrameSpan&>(entry) = span;
        const std::size_t frames = entry.frames();
        if (values.frames.size() != frames) {
            entry.first_frame = FrameSpan::absent;
            throw VoradaError("Per-frame sums do not match their frame span");
        }
        entry.run = pool.allocate(frames);
        live += frames;
        if (frames > 0) {
            std::copy(values.frames.begin(), values.frames.end(), pool.at(entry.run));
        }
        return get(slot);
    }
    /// Frees a region's run; when enough of the pool is then free, the live runs are repacked
    /// (which moves them).
    void clear(std::uint32_t slot) {
        Entry& entry = entries[slot];
        const std::size_t frames = entry.frames();
        pool.free(entry.run, frames);
        live -= frames;
        entry = Entry();
        if (pool.reserved() > repack_above && pool.worth_repacking(live)) {
            pool.repack([this](auto move) {
                for (Entry& kept : entries) {
                    if (kept.present()) {
                        move(kept.run, kept.frames());
                    }
                }
            });
        }
    }

private:
    struct Entry : FrameSpan {
        RunPool<FlowFrame>::Run run = RunPool<FlowFrame>::none;
    };

    static constexpr std::size_t repack_above = std::size_t(1) << 18;  ///< frames

    std::vector<Entry> entries;
    RunPool<FlowFrame> pool;
    std::size_t live = 0;  ///< frames in runs in use
};

/// Stored as "flow_sums", on the flow signal; the reliability signal comes with the parameters.
template <typename FlowSignal, typename ReliabilitySignal>
class FlowSums : public DescriptorBase {
public:
    static_assert(FlowSignal::channels == 2 && ReliabilitySignal::channels == 1,
                  "flow sums take a two-channel flow and a one-channel reliability");
    using type = FlowSumsView;
    using storage = FlowSumsStorage;
    struct Parameters {
        const ReliabilitySignal* reliability = nullptr;
    };
    using capacity_error = VoradaError;
    static const char* name() { return "flow_sums"; }

    FlowSumsValues value;

    template <typename Region>
    void calculate(FlowSignal& flow, Region& region, const Parameters& parameters,
                   DescriptorManager* manager);
    template <typename Region, typename Children>
    void recursive_calculate(FlowSignal& flow, Region& region, const Children& children,
                             const Parameters& parameters, DescriptorManager* manager);

private:
    void _reset(long long first, long long last) {
        value.first_frame = first;
        value.last_frame = last;
        const long long frames = last >= first ? last - first + 1 : 0;
        value.frames.assign(static_cast<std::size_t>(frames), FlowFrame());
    }
};

template <typename FlowSignal, typename ReliabilitySignal>
template <typename Region>
void FlowSums<FlowSignal, ReliabilitySignal>::calculate(FlowSignal& flow, Region& region,
                                                        const Parameters& parameters,
                                                        DescriptorManager* /*manager*/) {
    const ReliabilitySignal* reliability = parameters.reliability;
    if (!reliability) {
        throw VoradaError("Flow sums need a reliability signal");
    }
    _reset(region.first_frame, region.last_frame);
    const long long frames = static_cast<long long>(value.frames.size());
    for_each_region_point(region, [&](const Coordinate& point) {
        const long long k = point(2) - value.first_frame;
        if (k < 0 || k >= frames || !flow.contains(point(0), point(1), point(2)) ||
            !reliability->contains(point(0), point(1), point(2))) {
            throw VoradaError("Region point outside its frame span or the signal");
        }
        const auto* vector = flow.at(point(0), point(1), point(2));
        FlowFrame& frame = value.frames[static_cast<std::size_t>(k)];
        frame.flow_x += vector[0];
        frame.flow_y += vector[1];
        frame.reliability += reliability->at(point(0), point(1), point(2))[0];
        frame.points += 1;
    });
}

template <typename FlowSignal, typename ReliabilitySignal>
template <typename Region, typename Children>
void FlowSums<FlowSignal, ReliabilitySignal>::recursive_calculate(
    FlowSignal& flow, Region& /*region*/, const Children& children, const Parameters& parameters,
    DescriptorManager* manager) {
    add_children_frames<FlowSums, FlowSignal, Region>(
        flow, children, parameters, manager,
        [this](long long first, long long last) { _reset(first, last); },
        [this](const type& part, std::size_t j, std::size_t k) {
            FlowFrame& sum = value.frames[k];
            sum.flow_x += part.frames[j].flow_x;
            sum.flow_y += part.frames[j].flow_y;
            sum.reliability += part.frames[j].reliability;
            sum.points += part.frames[j].points;
        });
}

}  // namespace gma
}  // namespace vorada
