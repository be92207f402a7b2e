#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "descriptors/colorsignature.h"
#include "tests/descriptors/regions.h"

namespace {

using vorada::gma::ColorMeanDescriptorParameters;
using vorada::gma::ColorSignature;
using vorada::gma::Coordinate;
using vorada::gma::DescriptorManager;
using vorada::gma::Video;
using vorada::testing::RegionForest;
using Colour = Eigen::Vector3d;
using Descriptor = ColorSignature<Video>;

ColorMeanDescriptorParameters colours(unsigned long long n, double weight = 0.01) {
    ColorMeanDescriptorParameters p;
    p.num_colors = n;
    p.channel_weights = Colour(weight, weight, weight);
    return p;
}

// Fusion written out plainly: every pair recomputed at every step.
void reference_fuse(std::vector<Colour>& c,
                    std::vector<double>& w,
                    const Colour& cw,
                    std::size_t limit) {
    while (c.size() > limit) {
        double best = 1e20;
        std::size_t bp = 0, bq = 0;
        for (std::size_t p = 0; p < c.size(); ++p) {
            for (std::size_t q = p + 1; q < c.size(); ++q) {
                double s = 0;
                for (int k = 0; k < 3; ++k) {
                    s += cw(k) * ((c[p](k) - c[q](k)) * (c[p](k) - c[q](k)));
                }
                const double cost = (1.0 - std::exp(-std::sqrt(s))) * (w[p] + w[q]);
                if (cost < best) {
                    best = cost;
                    bp = p;
                    bq = q;
                }
            }
        }
        Colour fused;
        for (int k = 0; k < 3; ++k) {
            fused(k) = (w[bp] * c[bp](k) + w[bq] * c[bq](k)) / (w[bp] + w[bq]);
        }
        const double weight = w[bp] + w[bq];
        c.erase(c.begin() + static_cast<long>(bq));
        c.erase(c.begin() + static_cast<long>(bp));
        w.erase(w.begin() + static_cast<long>(bq));
        w.erase(w.begin() + static_cast<long>(bp));
        c.push_back(fused);
        w.push_back(weight);
    }
}

class ColorSignatureTest : public ::testing::Test {
  protected:
    void paint(long long x, long long y, long long t, const Colour& c) {
        for (int k = 0; k < 3; ++k) {
            video.at(x, y, t)[k] = c(k);
        }
    }
    Video video{6, 2, 2};
    RegionForest forest;
    DescriptorManager manager;
};

TEST_F(ColorSignatureTest, OneColourGivesOneFeatureOfWeightOne) {
    for (long long x = 0; x < 3; ++x) {
        paint(x, 0, 0, Colour(50, 1, -2));
    }
    auto& leaf = forest.leaf({Coordinate(0, 0, 0), Coordinate(1, 0, 0), Coordinate(2, 0, 0)});
    manager.capacity = 1;
    const auto& s = manager.calc_descriptor<Descriptor>(video, leaf, colours(4));
    ASSERT_EQ(s.features.size(), 1u);
    EXPECT_EQ(s.features[0], Colour(50, 1, -2));
    EXPECT_EQ(s.weights[0], 1.0);
}

TEST_F(ColorSignatureTest, ExactSignatureListsDistinctColoursInLexicographicOrder) {
    paint(0, 0, 0, Colour(5, 0, 0));
    paint(1, 0, 0, Colour(1, 9, 9));
    paint(2, 0, 0, Colour(1, 2, 3));
    paint(3, 0, 0, Colour(5, 0, 0));
    auto& leaf = forest.leaf(
        {Coordinate(0, 0, 0), Coordinate(1, 0, 0), Coordinate(2, 0, 0), Coordinate(3, 0, 0)});
    manager.capacity = 1;
    const auto& s = manager.calc_descriptor<Descriptor>(video, leaf, colours(3));
    ASSERT_EQ(s.features.size(), 3u);
    EXPECT_EQ(s.features[0], Colour(1, 2, 3));
    EXPECT_EQ(s.features[1], Colour(1, 9, 9));
    EXPECT_EQ(s.features[2], Colour(5, 0, 0));
    EXPECT_EQ(s.weights[0], 0.25);
    EXPECT_EQ(s.weights[1], 0.25);
    EXPECT_EQ(s.weights[2], 0.5);
}

// Small leaves take a short list instead of the map; both must keep the map's rules: equal
// keys (0 and -0 among them) are one colour holding the value seen last.
TEST_F(ColorSignatureTest, SmallAndLargeLeavesKeepTheLastSeenValueOfEqualColours) {
    for (const long long points : {2, 6}) {
        SCOPED_TRACE(points);
        std::vector<Coordinate> coordinates;
        for (long long x = 0; x < points; ++x) {
            paint(x, 0, 1, Colour(x + 1 < points ? 0.0 : -0.0, 7, 7));
            coordinates.emplace_back(x, 0, 1);
        }
        DescriptorManager fresh;
        fresh.capacity = 1;
        RegionForest leaves;
        const auto s =
            fresh.calc_descriptor<Descriptor>(video, leaves.leaf(coordinates), colours(3));
        ASSERT_EQ(s.features.size(), 1u);
        EXPECT_TRUE(std::signbit(s.features[0](0)));
        EXPECT_EQ(s.weights[0], 1.0);
        EXPECT_EQ(s.area, static_cast<unsigned long long>(points));
    }
}

TEST_F(ColorSignatureTest, OneColourTooManySwitchesToKMeansOverAllPoints) {
    const std::vector<Colour> painted = {Colour(5, 0, 0), Colour(1, 9, 9), Colour(1, 2, 3),
                                         Colour(5, 0, 0)};
    std::vector<Coordinate> points;
    for (long long x = 0; x < 4; ++x) {
        paint(x, 1, 1, painted[static_cast<std::size_t>(x)]);
        points.emplace_back(x, 1, 1);
    }
    auto& leaf = forest.leaf(points);
    manager.capacity = 1;
    const auto& s = manager.calc_descriptor<Descriptor>(video, leaf, colours(2));
    vorada::math::statistics::KMeans<Colour> kmeans(0.001, 500);
    kmeans.calculate(painted, 2);
    ASSERT_EQ(s.features.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(s.features[k], kmeans.centroids[k]);
        EXPECT_EQ(s.weights[k], kmeans.weights(static_cast<Eigen::Index>(k)));
    }
    EXPECT_EQ(s.features[0], Colour(1, 9, 9));  // largest norm seeds first and stays alone
    EXPECT_EQ(s.weights[0], 0.25);
}

TEST_F(ColorSignatureTest, MergedChildrenWithFewColoursArePooledByArea) {
    paint(0, 0, 0, Colour(10, 0, 0));
    paint(1, 0, 0, Colour(10, 0, 0));
    paint(2, 0, 0, Colour(10, 0, 0));
    paint(3, 0, 0, Colour(20, 0, 0));
    auto& a = forest.leaf({Coordinate(0, 0, 0), Coordinate(1, 0, 0), Coordinate(2, 0, 0)});
    auto& b = forest.leaf({Coordinate(3, 0, 0)});
    auto& merged = forest.merge(a, b);
    manager.capacity = 3;
    const auto& s = manager.calc_descriptor<Descriptor>(video, merged, colours(2));
    ASSERT_EQ(s.features.size(), 2u);
    EXPECT_EQ(s.features[0], Colour(10, 0, 0));
    EXPECT_EQ(s.features[1], Colour(20, 0, 0));
    EXPECT_DOUBLE_EQ(s.weights[0], 0.75);
    EXPECT_DOUBLE_EQ(s.weights[1], 0.25);
    EXPECT_EQ(manager.stored_count(), 5u);  // both children's signatures and areas, and this
}

TEST(ColorSignatureFuse, EqualCostsFuseTheFirstPairInScanningOrder) {
    // Colours 0, 1, 2, 3 on channel 0 with equal weights: the neighbouring pairs tie.
    std::vector<Colour> c = {Colour(0, 0, 0), Colour(1, 0, 0), Colour(2, 0, 0), Colour(3, 0, 0)};
    std::vector<double> w = {0.25, 0.25, 0.25, 0.25};
    Descriptor::fuse(c, w, colours(3, 1.0));
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0], Colour(2, 0, 0));
    EXPECT_EQ(c[1], Colour(3, 0, 0));
    EXPECT_EQ(c[2], Colour(0.5, 0, 0));
    EXPECT_EQ(w[2], 0.5);
    // Next: (2,3) costs (1-e^-1)·0.5, cheaper than pairs with the heavier 0.5.
    Descriptor::fuse(c, w, colours(2, 1.0));
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[0], Colour(0.5, 0, 0));
    EXPECT_EQ(c[1], Colour(2.5, 0, 0));
    EXPECT_EQ(w[0], 0.5);
    EXPECT_EQ(w[1], 0.5);
}

TEST(ColorSignatureFuse, CachedTermsGiveBitIdenticalResults) {
    std::mt19937 random(21);
    std::uniform_real_distribution<double> channel(-60.0, 90.0);
    std::uniform_real_distribution<double> mass(0.01, 1.0);
    for (int trial = 0; trial < 25; ++trial) {
        const std::size_t n = 2 + static_cast<std::size_t>(trial % 12);
        std::vector<Colour> c;
        std::vector<double> w;
        for (std::size_t i = 0; i < n; ++i) {
            c.emplace_back(channel(random), channel(random), channel(random));
            w.push_back(mass(random));
        }
        // Repeat a colour now and then so that exact ties occur.
        if (trial % 3 == 0) {
            c[n - 1] = c[0];
            w[n - 1] = w[0];
        }
        const std::size_t limit = 1 + static_cast<std::size_t>(trial % 4);
        auto ref_c = c;
        auto ref_w = w;
        reference_fuse(ref_c, ref_w, Colour(0.02, 0.03, 0.01), limit);
        ColorMeanDescriptorParameters p;
        p.num_colors = limit;
        p.channel_weights = Colour(0.02, 0.03, 0.01);
        Descriptor::fuse(c, w, p);
        ASSERT_EQ(c.size(), ref_c.size());
        for (std::size_t i = 0; i < c.size(); ++i) {
            EXPECT_EQ(c[i], ref_c[i]) << "trial " << trial;
            EXPECT_EQ(w[i], ref_w[i]) << "trial " << trial;
        }
    }
}

TEST_F(ColorSignatureTest, ZeroColoursIsRefused) {
    auto& leaf = forest.leaf({Coordinate(0, 0, 0)});
    manager.capacity = 1;
    EXPECT_THROW(manager.calc_descriptor<Descriptor>(video, leaf, colours(0)), vorada::VoradaError);
    EXPECT_EQ(manager.stored_count(), 0u);
}

}  // namespace
