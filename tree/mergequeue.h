#pragma once
// The queue of links waiting to be merged. An entry is a compact key: the link's distance (or a
// lower bound still to be measured), the labels of its two regions in link order, and how the
// distance was obtained. Keys below a threshold wait in a binary heap whose top is therefore
// the smallest key of all; the others wait unsorted and move to the heap in batches when it
// runs empty. Entries of merged regions are not searched out: the caller's liveness test drops
// them as they come up.

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
    QueuedLink(double link_distance, std::uint32_t first_label, std::uint32_t second_label,
               State state)
        : distance(link_distance), first(first_label), second_bits(second_label | (state << 30)) {}

    std::uint32_t second() const { return second_bits & (label_limit - 1); }
    State state() const { return static_cast<State>(second_bits >> 30); }

  private:
    std::uint32_t second_bits = 0;
};

/// Merge queue over QueuedLink keys. `Order` is a strict total order on keys (the link order);
/// `Live` tells whether a key's regions are both still unmerged. pop() hands out the smallest
/// live key.
template <typename Order, typename Live>
class MergeQueue {
  public:
    static constexpr std::size_t default_batch = 65536;
    /// A refill moves at least 1/batch_fraction of the deferred keys (8 to 32 measured alike on
    /// 4.5 M voxels; 32 holds the fewest keys in the heap).
    static constexpr std::size_t batch_fraction = 32;

    /// `batch`: how many deferred keys move to the heap at a time, at least.
    explicit MergeQueue(Live live_test, std::size_t batch = default_batch)
        : live(live_test), batch_size(batch ? batch : 1) {}

    /// Adds a key.
    void push(const QueuedLink& key) {
        if (everything_in_front || (has_threshold && Order()(key, threshold))) {
            front.push_back(key);
            std::push_heap(front.begin(), front.end(), After());
            return;
        }
        if (deferred.size() == deferred.capacity()) {
            // Dead keys make room before the storage grows.
            _drop_dead(deferred);
        }
        deferred.push_back(key);
    }
    /// Adds many keys at once (the links of the first partition), taking over their storage
    /// when the queue is empty.
    void push_all(std::vector<QueuedLink>&& keys) {
        if (front.empty() && deferred.empty() && !everything_in_front && !has_threshold) {
            deferred = std::move(keys);
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
                if (deferred.empty()) {
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

    /// Empties the queue and returns its live keys in order.
    std::vector<QueuedLink> drain() {
        std::vector<QueuedLink> keys;
        keys.swap(front);
        keys.insert(keys.end(), deferred.begin(), deferred.end());
        std::vector<QueuedLink>().swap(deferred);
        _drop_dead(keys);
        std::sort(keys.begin(), keys.end(), Order());
        everything_in_front = false;
        has_threshold = false;
        return keys;
    }

    /// Number of keys held, dead ones included.
    std::size_t size() const { return front.size() + deferred.size(); }
    bool empty() const { return front.empty() && deferred.empty(); }

  private:
    // Heap order: the smallest key on top.
    struct After {
        bool operator()(const QueuedLink& a, const QueuedLink& b) const { return Order()(b, a); }
    };

    void _drop_dead(std::vector<QueuedLink>& keys) const {
        keys.erase(std::remove_if(keys.begin(), keys.end(),
                                  [this](const QueuedLink& key) { return !live(key); }),
                   keys.end());
    }

    // Moves the smallest live deferred keys to the heap, `batch_size` of them or a fraction of
    // all, whichever is more; the rest stay above them. A refill reads every deferred key, so
    // with batches of one fixed size the refills of a run would grow with the square of its
    // links.
    void _refill() {
        _drop_dead(deferred);
        auto end_of_batch = deferred.end();
        const std::size_t batch = std::max(batch_size, deferred.size() / batch_fraction);
        if (batch < deferred.size()) {
            end_of_batch = deferred.begin() + static_cast<std::ptrdiff_t>(batch);
            std::nth_element(deferred.begin(), end_of_batch, deferred.end(), Order());
            threshold = *end_of_batch;
            has_threshold = true;
        } else {
            everything_in_front = true;
        }
        front.insert(front.end(), deferred.begin(), end_of_batch);
        std::make_heap(front.begin(), front.end(), After());
        deferred.erase(deferred.begin(), end_of_batch);
        if (deferred.capacity() > 4 * deferred.size() + batch_size) {
            deferred.shrink_to_fit();
        }
    }

    Live live;
    std::size_t batch_size;
    std::vector<QueuedLink> front;     ///< binary heap of the keys below `threshold`
    std::vector<QueuedLink> deferred;  ///< the other keys, unsorted
    QueuedLink threshold;
    bool has_threshold = false;        ///< false: every new key is deferred (nothing in front yet)
    bool everything_in_front = false;  ///< the last refill took every deferred key
};

}  // namespace gma
}  // namespace vorada
