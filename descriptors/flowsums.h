#pragma once
// Per-frame sums of the optical flow and of its reliability over a region's points, with the
// points counted once per frame. The motion term reads both for the same frames of the same
// region: one record holds them, so a measure reaches them with one look-up instead of two, and
// the count both would keep twice is kept once. Each sum is added in the order a per-frame sum
// of the one signal alone would add it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <vector>

#include "common/errors.h"
#include "descriptors/descriptorbase.h"
#include "descriptors/descriptormanager.h"
#include "descriptors/runpool.h"
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

/// The flow's two components (in the flow signal's own type) and the reliability at one point.
template <typename FlowValue>
struct PointMotion {
    FlowValue flow_x = 0;
    FlowValue flow_y = 0;
    double reliability = 0;
};

/// The flow and its reliability at every point of a partition's point store, in store order.
/// A leaf's points lie together in the store, so its sums read one short run here instead of
/// two values at each point, far apart in two volumes; the tree asks for leaves' sums in merge
/// order, all over the video, and those reads were the larger part of computing them.
template <typename FlowValue>
class PointMotionTable {
  public:
    using Entry = PointMotion<FlowValue>;

    /// Gathers the values at `points`; a point outside either signal throws.
    template <typename FlowSignal, typename ReliabilitySignal>
    void build(const std::vector<StoredPoint>& points,
               const FlowSignal& flow,
               const ReliabilitySignal& reliability) {
        entries.clear();
        entries.reserve(points.size());
        for (const StoredPoint& point : points) {
            if (!flow.contains(point.x, point.y, point.t) ||
                !reliability.contains(point.x, point.y, point.t)) {
                entries.clear();
                throw VoradaError("Region point outside its frame span or the signal");
            }
            const auto* vector = flow.at(point.x, point.y, point.t);
            entries.push_back(
                Entry{vector[0], vector[1], reliability.at(point.x, point.y, point.t)[0]});
        }
        base = points.data();
    }
    bool empty() const { return entries.empty(); }
    /// The values of the stored points [begin, end), or nullptr unless all of them are indexed.
    const Entry* find(const StoredPoint* begin, const StoredPoint* end) const {
        const std::less_equal<const StoredPoint*> not_after;
        if (!base || !not_after(base, begin) || !not_after(begin, end) ||
            !not_after(end, base + entries.size())) {
            return nullptr;
        }
        return entries.data() + (begin - base);
    }

  private:
    const StoredPoint* base = nullptr;
    std::vector<Entry> entries;
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
inline std::size_t stored_frames(const FlowSumsView& view) {
    return view.frames.size();
}

/// A region's frame span as the per-frame storages keep it, in 32 bits; `absent` marks a place
/// without a record.
struct FrameSpan {
    static constexpr std::int32_t absent = -0x7FFFFFFF - 1;
    std::int32_t first_frame = absent;
    std::int32_t last_frame = 0;

    bool present() const { return first_frame != absent; }
    std::size_t frames() const {
        return last_frame >= first_frame ? static_cast<std::size_t>(last_frame - first_frame + 1)
                                         : 0;
    }
    /// Takes a computed span, or throws when 32 bits do not hold it.
    void set(long long first, long long last) {
        const long long limit = 0x7FFFFFFF;
        if (first <= -limit || first > limit || last <= -limit || last > limit) {
            throw VoradaError("Frame index out of range for the per-frame sums");
        }
        first_frame = static_cast<std::int32_t>(first);
        last_frame = static_cast<std::int32_t>(last);
    }
};

/// A merged region's per-frame record from its children's, each obtained through the manager
/// (computed first if missing): `reset(first, last)` sizes the record over the union of the
/// children's spans, then `add(part, j, k)` adds frame j of each child's record into frame k,
/// child by child in the order of the children list.
template <typename D,
          typename Signal,
          typename Region,
          typename Children,
          typename Reset,
          typename Add>
void add_children_frames(Signal& signal,
                         const Children& children,
                         const typename D::Parameters& parameters,
                         DescriptorManager* manager,
                         Reset reset,
                         Add add) {
    using View = typename D::type;
    // Views into the manager's pools, which stay in place while other regions are stored.
    View parts[2];
    std::vector<View> more;  // only for regions with more than two children
    long long first = 1000000000;
    long long last = -1;
    std::size_t n = 0;
    for (auto* child : children) {
        const View part =
            manager->calc_descriptor<D>(signal, static_cast<Region&>(*child), parameters);
        if (n < 2) {
            parts[n] = part;
        } else {
            more.push_back(part);
        }
        ++n;
        first = part.first_frame < first ? part.first_frame : first;
        last = part.last_frame > last ? part.last_frame : last;
    }
    reset(first, last);
    for (std::size_t c = 0; c < n; ++c) {
        const View& part = c < 2 ? parts[c] : more[c - 2];
        if (part.last_frame < part.first_frame) {
            continue;
        }
        const std::size_t span = static_cast<std::size_t>(part.last_frame - part.first_frame + 1);
        const std::size_t offset = static_cast<std::size_t>(part.first_frame - first);
        for (std::size_t j = 0; j < span && j < stored_frames(part); ++j) {
            add(part, j, offset + j);
        }
    }
}

/// How the manager keeps flow sums: per slot the frame span and one run of frames in a pool,
/// so a region's whole record is one look-up away from its slot.
class FlowSumsStorage {
  public:
    using result = FlowSumsView;

    /// `repack_at`: the frames the pool holds, at the least, before it is repacked.
    explicit FlowSumsStorage(std::size_t repack_at = std::size_t(1) << 18)
        : repack_above(repack_at) {}

    bool has(std::uint32_t slot) const { return slot < entries.size() && entries[slot].present(); }
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

    std::size_t repack_above;  ///< frames

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
    using PointTable = PointMotionTable<typename FlowSignal::value_type>;
    struct Parameters {
        const ReliabilitySignal* reliability = nullptr;
        /// When set, the points it indexes are read from it instead of the two signals.
        const PointTable* points = nullptr;
    };
    using capacity_error = VoradaError;
    static const char* name() { return "flow_sums"; }

    FlowSumsValues value;

    template <typename Region>
    void calculate(FlowSignal& flow,
                   Region& region,
                   const Parameters& parameters,
                   DescriptorManager* manager);
    template <typename Region, typename Children>
    void recursive_calculate(FlowSignal& flow,
                             Region& region,
                             const Children& children,
                             const Parameters& parameters,
                             DescriptorManager* manager);

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
void FlowSums<FlowSignal, ReliabilitySignal>::calculate(FlowSignal& flow,
                                                        Region& region,
                                                        const Parameters& parameters,
                                                        DescriptorManager* /*manager*/) {
    const ReliabilitySignal* reliability = parameters.reliability;
    if (!reliability) {
        throw VoradaError("Flow sums need a reliability signal");
    }
    _reset(region.first_frame, region.last_frame);
    const long long frames = static_cast<long long>(value.frames.size());
    auto add = [&](long long t, double flow_x, double flow_y, double point_reliability) {
        const long long k = t - value.first_frame;
        if (k < 0 || k >= frames) {
            throw VoradaError("Region point outside its frame span or the signal");
        }
        FlowFrame& frame = value.frames[static_cast<std::size_t>(k)];
        frame.flow_x += flow_x;
        frame.flow_y += flow_y;
        frame.reliability += point_reliability;
        frame.points += 1;
    };
    for_each_region_run(region, [&](const auto* begin, const auto* end) {
        using Stored = std::remove_cv_t<std::remove_pointer_t<decltype(begin)>>;
        if constexpr (std::is_same<Stored, StoredPoint>::value) {
            const auto* motion = parameters.points ? parameters.points->find(begin, end) : nullptr;
            if (motion) {
                for (const StoredPoint* point = begin; point != end; ++point, ++motion) {
                    add(point->t, motion->flow_x, motion->flow_y, motion->reliability);
                }
                return;
            }
        }
        for (auto stored = begin; stored != end; ++stored) {
            const Coordinate point = as_coordinate(*stored);
            if (!flow.contains(point(0), point(1), point(2)) ||
                !reliability->contains(point(0), point(1), point(2))) {
                throw VoradaError("Region point outside its frame span or the signal");
            }
            const auto* vector = flow.at(point(0), point(1), point(2));
            add(point(2), vector[0], vector[1], reliability->at(point(0), point(1), point(2))[0]);
        }
    });
}

template <typename FlowSignal, typename ReliabilitySignal>
template <typename Region, typename Children>
void FlowSums<FlowSignal, ReliabilitySignal>::recursive_calculate(FlowSignal& flow,
                                                                  Region& /*region*/,
                                                                  const Children& children,
                                                                  const Parameters& parameters,
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
