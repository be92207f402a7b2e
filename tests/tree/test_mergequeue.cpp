#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "tree/mergequeue.h"

namespace vorada {
namespace testing {
namespace {

using gma::QueuedLink;

struct ByDistanceThenLabels {
    bool operator()(const QueuedLink& a, const QueuedLink& b) const {
        return std::make_tuple(a.distance, a.first, a.second()) <
               std::make_tuple(b.distance, b.first, b.second());
    }
};
// Live while both labels are marked alive.
struct BothAlive {
    const std::vector<char>* alive;
    bool operator()(const QueuedLink& k) const { return (*alive)[k.first] && (*alive)[k.second()]; }
};
using Queue = gma::MergeQueue<ByDistanceThenLabels, BothAlive>;
using Key = std::tuple<double, std::uint32_t, std::uint32_t, int>;

Key key_of(const QueuedLink& link) {
    return Key{link.distance, link.first, link.second(), static_cast<int>(link.state())};
}

TEST(MergeQueue, KeyKeepsLabelsAndStateApart) {
    const std::uint32_t largest = QueuedLink::label_limit - 1;
    const QueuedLink link(2.5, largest, largest - 1, QueuedLink::bound_from_second);
    EXPECT_EQ(sizeof(QueuedLink), 16u);
    EXPECT_EQ(link.first, largest);
    EXPECT_EQ(link.second(), largest - 1);
    EXPECT_EQ(link.state(), QueuedLink::bound_from_second);
    EXPECT_EQ(QueuedLink(1, 3, 0, QueuedLink::exact).second(), 0u);
}

// Random pushes (with many equal distances), regions dying as merges would make them, pops and
// re-pushes of the popped key with a larger distance; every pop must be the smallest live key
// of an ordered-set model, down to the last live key.
TEST(MergeQueue, PopsInTheOrderOfAnOrderedSetOfLiveKeys) {
    for (std::size_t batch : {1u, 7u, 64u, 65536u}) {
        std::mt19937 random(20261207);
        std::vector<char> alive(400, 1);
        Queue queue(BothAlive{&alive}, batch);
        std::set<Key> model;
        auto drop_dead = [&] {
            for (auto it = model.begin(); it != model.end();) {
                it = alive[std::get<1>(*it)] && alive[std::get<2>(*it)] ? std::next(it)
                                                                        : model.erase(it);
            }
        };
        auto push = [&](const QueuedLink& k) {
            queue.push(k);
            model.insert(key_of(k));
        };
        std::vector<QueuedLink> first_keys;
        std::uint32_t pairs = 0;
        for (std::uint32_t a = 0; a < 200; ++a) {
            for (std::uint32_t b = a + 1; b < 200 && b < a + 6; ++b) {
                first_keys.emplace_back(static_cast<double>(random() % 50), a, b,
                                        QueuedLink::State(pairs++ % 3));
                model.insert(key_of(first_keys.back()));
            }
        }
        queue.push_all(std::move(first_keys));
        std::uint32_t next_label = 200;
        for (int step = 0; step < 3000 && !model.empty(); ++step) {
            const int action = static_cast<int>(random() % 4);
            if (action == 0 && next_label < alive.size()) {
                // A new region with links to a few live ones.
                const std::uint32_t fresh = next_label++;
                std::set<std::uint32_t> others;
                for (int k = 0; k < 3; ++k) {
                    others.insert(static_cast<std::uint32_t>(random() % fresh));
                }
                for (std::uint32_t other : others) {
                    if (alive[other]) {
                        push(QueuedLink(static_cast<double>(random() % 50), fresh, other,
                                        QueuedLink::bound_from_first));
                    }
                }
            } else if (action == 1) {
                alive[random() % next_label] = 0;  // a merged region: its keys go stale
                drop_dead();
            } else {
                QueuedLink popped;
                ASSERT_TRUE(queue.pop(popped));
                ASSERT_EQ(key_of(popped), *model.begin()) << "batch " << batch << " step " << step;
                model.erase(model.begin());
                if (action == 3 && popped.state() != QueuedLink::exact) {
                    push(QueuedLink(popped.distance + 0.5, popped.first, popped.second(),
                                    QueuedLink::exact));
                }
            }
        }
        // The live rest, in order.
        std::vector<Key> rest;
        for (QueuedLink k; queue.pop(k);) {
            rest.push_back(key_of(k));
        }
        EXPECT_EQ(rest, std::vector<Key>(model.begin(), model.end()));
        EXPECT_TRUE(queue.empty());
    }
}

// Keys die one at a time while twice as many far keys are pushed: the waiting storage stays
// nearly full of live keys. Dropping the dead ones whenever it is full must not turn into a scan
// of every waiting key after every few pushes.
TEST(MergeQueue, ScansForDeadKeysArePaidForByThePushes) {
    struct CountingAlive {
        const std::vector<char>* alive;
        std::size_t* checks;
        bool operator()(const QueuedLink& k) const {
            ++*checks;
            return (*alive)[k.first] && (*alive)[k.second()];
        }
    };
    const std::uint32_t initial = 20000;
    const std::uint32_t steps = 5000;
    std::vector<char> alive(2 * initial + 4 * steps, 1);
    std::size_t checks = 0;
    gma::MergeQueue<ByDistanceThenLabels, CountingAlive> queue(CountingAlive{&alive, &checks}, 64);
    std::vector<QueuedLink> keys;
    keys.reserve(initial);
    for (std::uint32_t i = 0; i < initial; ++i) {
        keys.emplace_back(i, 2 * i, 2 * i + 1, QueuedLink::exact);
    }
    queue.push_all(std::move(keys));
    std::uint32_t fresh = 2 * initial;
    for (std::uint32_t step = 0; step < steps; ++step) {
        QueuedLink popped;
        ASSERT_TRUE(queue.pop(popped));
        ASSERT_EQ(popped.distance, static_cast<double>(step));
        alive[2 * (initial - 1 - step)] = 0;  // a far key dies
        for (int k = 0; k < 2; ++k, fresh += 2) {
            queue.push(QueuedLink(1e9 + fresh, fresh, fresh + 1, QueuedLink::exact));
        }
    }
    const std::size_t operations = initial + 3 * steps;
    EXPECT_LT(checks, 8 * operations);
}

}  // namespace
}  // namespace testing
}  // namespace vorada
