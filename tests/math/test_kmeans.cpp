#include <gtest/gtest.h>

#include <vector>

#include "math/inlinevector.h"
#include "math/kmeans.h"

namespace {

using Colour = Eigen::Vector3d;
using vorada::math::statistics::KMeans;

void expect_colour(const Colour& actual, const Colour& expected) {
    EXPECT_NEAR(actual(0), expected(0), 1e-12);
    EXPECT_NEAR(actual(1), expected(1), 1e-12);
    EXPECT_NEAR(actual(2), expected(2), 1e-12);
}

TEST(KMeans, RefusesAtLeastAsManyClustersAsPoints) {
    KMeans<Colour> kmeans(0.001, 500);
    kmeans.centroids = {Colour(7, 7, 7)};
    kmeans.calculate({Colour(1, 0, 0), Colour(2, 0, 0)}, 2);
    EXPECT_EQ(kmeans.status, -1);
    ASSERT_EQ(kmeans.centroids.size(), 1u);
    expect_colour(kmeans.centroids[0], Colour(7, 7, 7));
    KMeans<Colour> none(0.001, 500);
    none.calculate({Colour(1, 0, 0), Colour(2, 0, 0)}, 0);
    EXPECT_EQ(none.status, -1);
}

// Seeds: A (largest norm), then B or C, both sqrt(109) from A; the earlier one wins.
//   A = (10, 0)   B = (0, 3)   C = (0, -3)   E = (4, -3)
// With B seeded, E joins A and C joins B: centroids (7, -1.5) and (0, 0).
// With C seeded (C listed first), E and B join C instead.
TEST(KMeans, FarthestFirstSeedingPrefersTheEarlierPointOnTies) {
    const Colour a(10, 0, 0), b(0, 3, 0), c(0, -3, 0), e(4, -3, 0);
    KMeans<Colour> kmeans(0.001, 500);
    kmeans.calculate({a, b, c, e}, 2);
    ASSERT_EQ(kmeans.centroids.size(), 2u);
    expect_colour(kmeans.centroids[0], Colour(7, -1.5, 0));
    expect_colour(kmeans.centroids[1], Colour(0, 0, 0));
    EXPECT_DOUBLE_EQ(kmeans.weights(0), 0.5);
    EXPECT_DOUBLE_EQ(kmeans.weights(1), 0.5);

    KMeans<Colour> swapped(0.001, 500);
    swapped.calculate({a, c, b, e}, 2);
    expect_colour(swapped.centroids[0], a);
    expect_colour(swapped.centroids[1], Colour(4.0 / 3.0, -1, 0));
    EXPECT_DOUBLE_EQ(swapped.weights(0), 0.25);
    EXPECT_DOUBLE_EQ(swapped.weights(1), 0.75);
}

TEST(KMeans, FirstSeedIsPointZeroWhenAllNormsAreZero) {
    KMeans<Colour> kmeans(0.001, 500);
    kmeans.calculate({Colour(0, 0, 0), Colour(0, 0, 0), Colour(0, 0, 0)}, 2);
    // Every point equals the first seed, so the second seed is point 0 again and stays empty.
    expect_colour(kmeans.centroids[0], Colour(0, 0, 0));
    EXPECT_DOUBLE_EQ(kmeans.weights(0), 1.0);
    EXPECT_DOUBLE_EQ(kmeans.weights(1), 1.0 / 3.0);
}

TEST(KMeans, NeverStopsAfterTheFirstAssignment) {
    // An epsilon this large would stop at any later check; the seeds (10) and (0) must still
    // be updated once, moving the second to the mean of 0 and 1.
    KMeans<Colour> kmeans(10.0, 500);
    kmeans.calculate({Colour(0, 0, 0), Colour(1, 0, 0), Colour(10, 0, 0)}, 2);
    expect_colour(kmeans.centroids[0], Colour(10, 0, 0));
    expect_colour(kmeans.centroids[1], Colour(0.5, 0, 0));
    EXPECT_DOUBLE_EQ(kmeans.weights(0), 1.0 / 3.0);
    EXPECT_DOUBLE_EQ(kmeans.weights(1), 2.0 / 3.0);
    // With no iterations allowed the single update still happens.
    KMeans<Colour> once(0.001, 0);
    once.calculate({Colour(0, 0, 0), Colour(1, 0, 0), Colour(10, 0, 0)}, 2);
    expect_colour(once.centroids[1], Colour(0.5, 0, 0));
}

TEST(KMeans, EmptyClusterMovesToZeroWithOnePointOfWeight) {
    // Two distinct colours for three clusters: the third seed repeats point 0 and attracts
    // nothing, because ties go to the earlier centroid.
    KMeans<Colour> kmeans(0.001, 500);
    kmeans.calculate({Colour(1, 1, 1), Colour(1, 1, 1), Colour(1, 1, 1), Colour(2, 2, 2)}, 3);
    expect_colour(kmeans.centroids[0], Colour(2, 2, 2));
    expect_colour(kmeans.centroids[1], Colour(1, 1, 1));
    expect_colour(kmeans.centroids[2], Colour(0, 0, 0));
    EXPECT_DOUBLE_EQ(kmeans.weights(0), 0.25);
    EXPECT_DOUBLE_EQ(kmeans.weights(1), 0.75);
    EXPECT_DOUBLE_EQ(kmeans.weights(2), 0.25);
}

TEST(KMeans, NegativeEpsilonIsReplaced) {
    KMeans<Colour> kmeans(-1.0, 500);
    kmeans.calculate({Colour(0, 0, 0), Colour(1, 0, 0), Colour(10, 0, 0)}, 2);
    EXPECT_EQ(kmeans.epsilon, 0.001);
}

TEST(InlineVector, GrowsFromInlineToHeapKeepingElements) {
    vorada::math::InlineVector<Colour, 2> list;
    for (int k = 0; k < 9; ++k) {
        list.push_back(Colour(k, -k, 2 * k));
        ASSERT_EQ(list.size(), static_cast<std::size_t>(k + 1));
        for (int m = 0; m <= k; ++m) {
            ASSERT_EQ(list[static_cast<std::size_t>(m)], Colour(m, -m, 2 * m));
        }
    }
    vorada::math::InlineVector<Colour, 2> copy = list;
    copy[0] = Colour(5, 5, 5);
    EXPECT_EQ(list[0], Colour(0, 0, 0));
    vorada::math::InlineVector<Colour, 2> moved = std::move(copy);
    EXPECT_EQ(moved.size(), 9u);
    EXPECT_EQ(moved[8], Colour(8, -8, 16));
    moved = list;
    moved.push_back(moved[0]);
    EXPECT_EQ(moved[9], Colour(0, 0, 0));
    vorada::math::InlineVector<double, 2> small(2, 1.5);
    vorada::math::InlineVector<double, 2> target(5, 2.0);
    target = std::move(small);
    EXPECT_EQ(target.size(), 2u);
    EXPECT_EQ(target[1], 1.5);
}

}  // namespace
