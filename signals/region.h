#pragma once
// Regions of the x,y,t lattice: SpaceRegion (a labelled point list),
// HierarchicalRegion (place in the binary partition tree) and Trajectory (frame span).
//
// Point lists are compact views. A leaf's list is a range of the partition's shared coordinate
// store (or, for a region made on its own, an array it owns). A merged region stores no
// coordinates: while it has no parent its list stands for its first child's points followed by
// its second child's, found by descending the tree; once it becomes a child its list is empty,
// because its parent now stands for those points.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "common/errors.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// A voxel position as point lists store it: three 32-bit numbers, half a Coordinate. A run's
/// lists hold every voxel once.
struct StoredPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t t = 0;

    StoredPoint() = default;
    /// The point at `c`; a coordinate beyond 32 bits throws.
    explicit StoredPoint(const Coordinate& c)
        : x(_narrow(c(0))), y(_narrow(c(1))), t(_narrow(c(2))) {}
    Coordinate coordinate() const { return Coordinate(x, y, t); }

  private:
    static std::int32_t _narrow(long long v) {
        if (v < INT32_MIN || v > INT32_MAX) {
            throw VoradaError("Region: a point lies beyond the coordinates a region can hold");
        }
        return static_cast<std::int32_t>(v);
    }
};

/// The coordinate of a stored point (a Coordinate stands for itself).
inline const Coordinate& as_coordinate(const Coordinate& point) {
    return point;
}
inline Coordinate as_coordinate(const StoredPoint& point) {
    return point.coordinate();
}
/// The stored form of `point` for a list of `Stored` values.
template <typename Stored>
Stored to_stored(const Coordinate& point) {
    return Stored(point);
}

/// The coordinate list of a region: a range of coordinates stored elsewhere, an owned array, or
/// (for a merged top-level region) a virtual list of `size()` points reached through the tree.
template <typename CoordinateType>
class RegionPointList {
  public:
    using value_type = CoordinateType;

    RegionPointList() = default;
    RegionPointList(const RegionPointList& other) { copy_from(other); }
    RegionPointList& operator=(const RegionPointList& other) {
        if (this != &other) {
            clear();
            copy_from(other);
        }
        return *this;
    }
    ~RegionPointList() { clear(); }

    /// Number of points of the list.
    std::uint64_t size() const { return count_bits & count_mask; }
    bool empty() const { return size() == 0; }
    /// True when the list stands for points held by the region's children.
    bool is_virtual() const { return stored == nullptr && size() != 0; }
    /// The stored points (none for a virtual list).
    const CoordinateType* stored_begin() const { return stored; }
    const CoordinateType* stored_end() const { return stored ? stored + size() : stored; }

    /// Appends a coordinate; a list that refers to shared storage is copied first.
    void push_back(const CoordinateType& point) {
        if (is_virtual()) {
            throw VoradaError("Region: cannot append a point to a merged region");
        }
        const std::uint64_t n = size();
        if (!owns() || n == capacity_for(n)) {
            const std::uint64_t grown = n == 0 ? 1 : (owns() ? 2 * n : capacity_for(n));
            reallocate(grown == n ? 2 * n : grown);
        }
        const_cast<CoordinateType*>(stored)[n] = point;
        count_bits = _count(n + 1) | owned_bit;
    }
    /// Empties the list (and frees what it owns).
    void clear() {
        if (owns()) {
            ::operator delete(const_cast<CoordinateType*>(stored));
        }
        stored = nullptr;
        count_bits = 0;
    }
    /// Makes the list refer to `n` points stored elsewhere (the partition's coordinate store).
    void assign_shared(const CoordinateType* points, std::uint64_t n) {
        clear();
        stored = n ? points : nullptr;
        count_bits = _count(n);
    }
    /// Makes the list a virtual list of `n` points held by the region's children.
    void assign_virtual(std::uint64_t n) {
        clear();
        count_bits = _count(n);
    }

  private:
    // The owned array's capacity is implicit: the smallest power of two not below the size.
    // 32 bits, so that with a 32-bit label the list and label share 16 bytes.
    static constexpr std::uint32_t owned_bit = std::uint32_t(1) << 31;
    static constexpr std::uint32_t count_mask = owned_bit - 1;

    static std::uint32_t _count(std::uint64_t n) {
        if (n > count_mask) {
            throw VoradaError("Region: more points than a region can hold");
        }
        return static_cast<std::uint32_t>(n);
    }

    bool owns() const { return (count_bits & owned_bit) != 0; }
    static std::uint64_t capacity_for(std::uint64_t n) {
        std::uint64_t capacity = 1;
        while (capacity < n) {
            capacity *= 2;
        }
        return n == 0 ? 0 : capacity;
    }
    void reallocate(std::uint64_t capacity) {
        const std::uint64_t n = size();
        CoordinateType* grown =
            static_cast<CoordinateType*>(::operator new(capacity * sizeof(CoordinateType)));
        if (n) {
            std::memcpy(static_cast<void*>(grown), stored, n * sizeof(CoordinateType));
        }
        clear();
        stored = grown;
        count_bits = _count(n) | owned_bit;
    }
    void copy_from(const RegionPointList& other) {
        if (other.owns() && other.size()) {
            stored = nullptr;
            count_bits = 0;
            const std::uint64_t n = other.size();
            CoordinateType* copy = static_cast<CoordinateType*>(
                ::operator new(capacity_for(n) * sizeof(CoordinateType)));
            std::memcpy(static_cast<void*>(copy), other.stored, n * sizeof(CoordinateType));
            stored = copy;
            count_bits = _count(n) | owned_bit;
        } else {
            stored = other.stored;
            count_bits = _count(other.size());
        }
    }

    const CoordinateType* stored = nullptr;
    std::uint32_t count_bits = 0;
};

/// A labelled list of lattice points; a region *is* its list.
template <typename CoordinateType, int Dimensions, typename Label, typename CoordinateList>
class SpaceRegion : public CoordinateList {
  public:
    using coordinate_type = CoordinateType;
    static constexpr int dimensions = Dimensions;

    Label label = 0;  ///< position in the region store

    explicit SpaceRegion(Label region_label = 0) : label(region_label) {}
    SpaceRegion(const SpaceRegion& other) = default;
    SpaceRegion& operator=(const SpaceRegion&) = delete;
    // Not virtual: regions are never destroyed through a base pointer, and a run holds millions.
    ~SpaceRegion() = default;
};

/// Two child slots of a merged region (first, second); a leaf has none.
template <typename RegionPointer>
class ChildPair {
  public:
    std::size_t size() const { return slots[0] ? (slots[1] ? 2 : 1) : 0; }
    bool empty() const { return slots[0] == nullptr; }
    RegionPointer operator[](std::size_t i) const { return slots[i]; }
    RegionPointer& operator[](std::size_t i) { return slots[i]; }
    const RegionPointer* begin() const { return slots; }
    const RegionPointer* end() const { return slots + size(); }
    /// Fills the next free slot.
    void push_back(RegionPointer child) {
        if (slots[1]) {
            throw VoradaError("Region: a merged region has at most two children");
        }
        slots[slots[0] ? 1 : 0] = child;
    }

  private:
    RegionPointer slots[2] = {nullptr, nullptr};
};

/// A region with its place in the binary partition tree.
template <typename CoordinateType, int Dimensions, typename Label, typename CoordinateList>
class HierarchicalRegion : public SpaceRegion<CoordinateType, Dimensions, Label, CoordinateList> {
    using Base = SpaceRegion<CoordinateType, Dimensions, Label, CoordinateList>;

  public:
    HierarchicalRegion* parent = nullptr;     ///< the region this one was merged into
    ChildPair<HierarchicalRegion*> children;  ///< first and second child of a merged region

    explicit HierarchicalRegion(Label region_label = 0) : Base(region_label) {}
    /// A copy with the same children, which then report the copy as their parent.
    HierarchicalRegion(const HierarchicalRegion& other) : Base(other), children(other.children) {
        for (HierarchicalRegion* child : children) {
            child->parent = this;
        }
    }
    HierarchicalRegion& operator=(const HierarchicalRegion&) = delete;
    ~HierarchicalRegion() = default;

    /// Makes this fresh region the parent of `first` then `second` (a null one is skipped): its
    /// list becomes theirs in that order, and a child that is itself merged loses its list.
    void _init(HierarchicalRegion* first, HierarchicalRegion* second) {
        if (!this->empty() || !children.empty()) {
            throw VoradaError("Region: _init needs a fresh region");
        }
        if (first && first == second) {
            throw VoradaError("Region: _init needs two distinct regions");
        }
        for (HierarchicalRegion* child : {first, second}) {
            if (child && (child->parent || child == this)) {
                throw VoradaError("Region: _init needs regions without a parent");
            }
        }
        std::uint64_t points = 0;
        for (HierarchicalRegion* child : {first, second}) {
            if (!child) {
                continue;
            }
            children.push_back(child);
            child->parent = this;
            points += child->size();
            if (!child->children.empty()) {
                child->clear();
            }
        }
        this->assign_virtual(points);
    }
};

/// Region type of the tree: a hierarchical region with its frame span. `Signal` names the
/// signal the trajectory lives in; nothing of it is stored.
template <typename Signal>
class Trajectory
    : public HierarchicalRegion<Coordinate, 3, std::uint32_t, RegionPointList<StoredPoint>> {
    using Base = HierarchicalRegion<Coordinate, 3, std::uint32_t, RegionPointList<StoredPoint>>;

  public:
    using SpaceRegionType = SpaceRegion<Coordinate, 3, std::uint32_t, RegionPointList<StoredPoint>>;
    using HierarchicalRegionType = Base;

    // 32 bits: a run holds far fewer frames (see the driver's frame limit).
    std::int32_t first_frame = 1000000000;  ///< smallest t of the region's voxels
    std::int32_t last_frame = -1;           ///< largest t of the region's voxels

    explicit Trajectory(unsigned long long region_label = 0) : Base(_label(region_label)) {}
    Trajectory(const Trajectory& other) = default;
    Trajectory& operator=(const Trajectory&) = delete;
    ~Trajectory() = default;

    /// Appends a voxel and widens the frame span to include it.
    void add_point(const Coordinate& point) {
        this->push_back(StoredPoint(point));
        const auto t = static_cast<std::int32_t>(point(2));
        first_frame = t < first_frame ? t : first_frame;
        last_frame = t > last_frame ? t : last_frame;
    }

  private:
    static std::uint32_t _label(unsigned long long label) {
        if (label > UINT32_MAX) {
            throw VoradaError("Region: label beyond 32 bits");
        }
        return static_cast<std::uint32_t>(label);
    }
};

/// Visits the stored point lists that make up `region`, as `visit(begin, end)`: a region with
/// stored points stands for its whole subtree; otherwise its children are visited, first before
/// second, down to the leaves. Walks the tree through the parent links, without recursion
/// (trees can be very deep).
template <typename Region, typename Visitor>
void for_each_region_run(const Region& region, Visitor visit) {
    using Node = typename std::remove_pointer<decltype(region.parent)>::type;
    const Node* root = &region;
    const Node* node = root;
    for (;;) {
        while (node->stored_begin() == node->stored_end() && !node->children.empty()) {
            node = node->children[0];
        }
        visit(node->stored_begin(), node->stored_end());
        for (;;) {
            if (node == root) {
                return;
            }
            const Node* parent = node->parent;
            if (parent->children.size() == 2 && parent->children[0] == node) {
                node = parent->children[1];
                break;
            }
            node = parent;
        }
    }
}

/// Visits every voxel of `region` exactly once, in the order of for_each_region_run.
template <typename Region, typename Visitor>
void for_each_region_point(const Region& region, Visitor visit) {
    for_each_region_run(region, [&visit](const auto* begin, const auto* end) {
        for (auto point = begin; point != end; ++point) {
            visit(as_coordinate(*point));
        }
    });
}

/// Visits the region's own coordinate list in order (a merged region without a parent: every
/// voxel of the region; a merged child: nothing).
template <typename Region, typename Visitor>
void for_each_own_point(const Region& region, Visitor visit) {
    if (region.is_virtual()) {
        for_each_region_point(region, visit);
        return;
    }
    for (auto point = region.stored_begin(); point != region.stored_end(); ++point) {
        visit(as_coordinate(*point));
    }
}

}  // namespace gma
}  // namespace vorada
