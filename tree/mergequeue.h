#pragma once
// The queue of links waiting to be merged. An entry is a compact key: the link's distance (or a
// lower bound still to be measured), the labels of its two regions in link order, and how the
// distance was obtained. Keys below a threshold wait in a binary heap whose top is therefore
// the smallest key of all; the others wait unsorted in two tiers, the nearer few batches apart
// from the far rest, and move to the heap a batch at a time when it runs empty, so that a refill
// reads the near tier only. Entries of merged regions are not searched out: the caller's
// liveness test drops them as they come up.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace vorada {
namespace gma {

/// One queued link in 16 bytes: distance, first label, second label and a two-bit state.
class QueuedLink {
  public:
    /// How `distance` was obtained: measured, or a lower bound still to be measured from the
    /// first region (against the second) or from the second (against the first).
    enum State : std::uint32_t { exact = 0, bound_from_first = 1, bound_from_second = 2 };
    /// Labels must stay below this (the top two bits of the second label hold the state).
    static constexpr std::uint32_t label_limit = std::uint32_t(1) << 30;

    double distance = 0;
    std::uint32_t first = 0;

    QueuedLink() = default;
    QueuedLink(double link_distance,
               std::uint32_t first_label,
               std::uint32_t second_label,
               State state)
        : distance(link_distance), first(first_label), second_bits(second_label | (state << 30)) {}

    std::uint32_t second() const { return second_bits & (label_limit - 1); }
    State state() const { return static_cast<State>(second_bits >> 30); }

  private:
    std::uint32_t second_bits = 0;
};

/// The link order: distance, then the first label, then the second. Ties go to the lower labels
/// so every run merges in the same order.
struct QueuedLinkOrder {
    bool operator()(const QueuedLink& a, const QueuedLink& b) const {
        if (a.distance < b.distance) {
            return true;
        }
        if (b.distance < a.distance) {
            return false;
        }
        if (a.first != b.first) {
            return a.first < b.first;
        }
        return a.second() < b.second();
    }
};

/// Merge queue over QueuedLink keys. `Order` is a strict total order on keys (the link order);
/// `Live` tells whether a key's regions are both still unmerged. pop() hands out the smallest
/// live key.
template <typename Order, typename Live>
class MergeQueue {
  public:
    static constexpr std::size_t default_batch = 65536;
    /// A refill moves at least 1/batch_fraction of the waiting keys (8 to 32 measured alike on
    /// 4.5 M voxels; 32 holds the fewest keys in the heap).
    static constexpr std::size_t batch_fraction = 32;
    /// Batches the near tier holds when it is split off.
    static constexpr std::size_t near_batches = 8;

    /// `batch`: how many waiting keys move to the heap at a time, at least.
    explicit MergeQueue(Live live_test, std::size_t batch = default_batch)
        : live(live_test), batch_size(batch ? batch : 1) {}

    /// Adds a key.
    void push(const QueuedLink& key) {
        if (everything_in_front || (has_threshold && Order()(key, threshold))) {
            front.push_back(key);
            std::push_heap(front.begin(), front.end(), After());
            return;
        }
        if (waiting.size() == waiting.capacity()) {
            // Dead keys make room before the storage grows. When they make almost none, it
            // grows anyway: otherwise the next scan of every waiting key would come after a
            // few pushes, and the next after a few more. (Growing at every scan that frees
            // little would cost a run's peak memory for little time.)
            _drop_dead_waiting();
            if (waiting.size() > waiting.capacity() - waiting.capacity() / 64) {
                waiting.reserve(waiting.capacity() + waiting.capacity() / 8);
            }
        }
        waiting.push_back(key);
        if (!near_takes_all && !(has_far_threshold && Order()(key, far_threshold))) {
            // A far key: it takes the first near key's place, which moves to the end.
            std::swap(waiting[near_begin], waiting.back());
            ++near_begin;
        }
    }
    /// Adds many keys at once (the links of the first partition), taking over their storage
    /// when the queue is empty.
    void push_all(std::vector<QueuedLink>&& keys) {
        if (empty() && !everything_in_front && !has_threshold) {
            waiting = std::move(keys);
            near_begin = waiting.size();
            return;
        }
        for (const QueuedLink& key : keys) {
            push(key);
        }
        std::vector<QueuedLink>().swap(keys);
    }

    /// Takes the smallest live key into `next`, dropping the dead keys met on the way; false
    /// when no live key is left.
    bool pop(QueuedLink& next) {
        for (;;) {
            if (front.empty()) {
                if (waiting.empty()) {
                    return false;
                }
                _refill();
                continue;
            }
            std::pop_heap(front.begin(), front.end(), After());
            const QueuedLink key = front.back();
            front.pop_back();
            if (live(key)) {
                next = key;
                return true;
            }
        }
    }

    /// Empties the queue and frees its memory.
    void clear() {
        std::vector<QueuedLink>().swap(front);
        std::vector<QueuedLink>().swap(waiting);
        near_begin = 0;
        everything_in_front = false;
        has_threshold = false;
        has_far_threshold = false;
        near_takes_all = false;
    }

    /// Number of keys held, dead ones included.
    std::size_t size() const { return front.size() + waiting.size(); }
    bool empty() const { return front.empty() && waiting.empty(); }

  private:
    // Heap order: the smallest key on top.
    struct After {
        bool operator()(const QueuedLink& a, const QueuedLink& b) const { return Order()(b, a); }
    };
    using Iterator = std::vector<QueuedLink>::iterator;

    Iterator _drop_dead(Iterator first, Iterator last) const {
        return std::remove_if(first, last, [this](const QueuedLink& key) { return !live(key); });
    }
    void _drop_dead(std::vector<QueuedLink>& keys) const {
        keys.erase(_drop_dead(keys.begin(), keys.end()), keys.end());
    }
    // Drops the dead keys of both tiers, keeping the far ones before the near ones.
    void _drop_dead_waiting() {
        const auto near_start = waiting.begin() + static_cast<std::ptrdiff_t>(near_begin);
        const Iterator far_end = _drop_dead(waiting.begin(), near_start);
        const Iterator near_end = _drop_dead(near_start, waiting.end());
        near_begin = static_cast<std::size_t>(far_end - waiting.begin());
        waiting.erase(std::move(near_start, near_end, far_end), waiting.end());
    }
    // Puts the `count` smallest keys of [first, end of waiting) at its end, and returns the
    // smallest of the others (the key right before them). count < the range's size.
    QueuedLink _select_smallest(Iterator first, std::size_t count) {
        const auto boundary = waiting.end() - static_cast<std::ptrdiff_t>(count) - 1;
        std::nth_element(first, boundary, waiting.end(), After());
        return *boundary;
    }

    // Moves the smallest live waiting keys to the heap, `batch_size` of them or a fraction of
    // all, whichever is more; the rest stay above them. They come from the near tier, which
    // is split off the far one (near_batches batches) when it runs out: a split reads every
    // waiting key, so with batches of one fixed size the refills of a run would grow with the
    // square of its links, and with a split at every refill they would read each key many
    // times over.
    void _refill() {
        waiting.erase(
            _drop_dead(waiting.begin() + static_cast<std::ptrdiff_t>(near_begin), waiting.end()),
            waiting.end());
        const std::size_t batch = std::max(batch_size, waiting.size() / batch_fraction);
        if (near_begin == waiting.size()) {
            _drop_dead(waiting);
            const std::size_t span = near_batches * batch;
            if (span < waiting.size()) {
                far_threshold = _select_smallest(waiting.begin(), span);
                has_far_threshold = true;
                near_begin = waiting.size() - span;
            } else {
                near_begin = 0;  // few keys left: from now on all of them wait near
                has_far_threshold = false;
                near_takes_all = true;
            }
        }
        std::size_t taken = waiting.size() - near_begin;
        if (batch < taken) {
            threshold =
                _select_smallest(waiting.begin() + static_cast<std::ptrdiff_t>(near_begin), batch);
            has_threshold = true;
            taken = batch;
        } else if (has_far_threshold) {
            threshold = far_threshold;  // the near tier goes whole: the heap reaches the far one
            has_threshold = true;
        } else {
            everything_in_front = true;
        }
        front.insert(front.end(), waiting.end() - static_cast<std::ptrdiff_t>(taken),
                     waiting.end());
        std::make_heap(front.begin(), front.end(), After());
        waiting.resize(waiting.size() - taken);
        if (waiting.capacity() > 4 * waiting.size() + batch_size) {
            // Smaller storage, with room left for a quarter more before the next scan.
            std::vector<QueuedLink> kept;
            kept.reserve(waiting.size() + waiting.size() / 4);
            kept.assign(waiting.begin(), waiting.end());
            waiting.swap(kept);
        }
    }

    Live live;
    std::size_t batch_size;
    std::vector<QueuedLink> front;  ///< binary heap of the keys below `threshold`
    /// The other keys, unsorted: first the far tier (from `far_threshold` on; every key before
    /// the first split), from `near_begin` on the near tier (below `far_threshold`).
    std::vector<QueuedLink> waiting;
    std::size_t near_begin = 0;
    QueuedLink threshold;
    QueuedLink far_threshold;
    bool has_threshold = false;        ///< false: no key goes to the heap (nothing in front yet)
    bool has_far_threshold = false;    ///< whether keys below `far_threshold` wait near
    bool near_takes_all = false;       ///< every key not for the heap waits near
    bool everything_in_front = false;  ///< the last refill took every waiting key
};

}  // namespace gma
}  // namespace vorada
