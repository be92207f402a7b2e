#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "math/emd.h"
#include "math/signature.h"

namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using vorada::VoradaError;
using vorada::math::Signature;
using vorada::math::optimization::EMD;
using vorada::math::optimization::flow_t;
using vorada::math::optimization::PerceptualDistance;
using Colour = Eigen::Vector3d;
using ColourSignature = Signature<Colour>;
using PerceptualEMD = EMD<PerceptualDistance<Colour>>;

ColourSignature make_signature(const std::vector<Colour>& colours,
                               const std::vector<double>& weights) {
    ColourSignature s;
    s.features = colours;
    s.weights = Eigen::Map<const Eigen::VectorXd>(weights.data(),
                                                  static_cast<Eigen::Index>(weights.size()));
    return s;
}

// Cost looked up in a table: channel 0 of a first-signature feature is its row, channel 1 of a
// second-signature feature its column. Lets a test pose any transport problem by hand.
struct TableDistance {
    const std::vector<std::vector<double>>* table = nullptr;
    double operator()(const Colour& a, const Colour& b) const {
        return (*table)[static_cast<std::size_t>(a(0))][static_cast<std::size_t>(b(1))];
    }
};

// Distance along channel 0 only: features become points on a line.
struct LineDistance {
    double operator()(const Colour& a, const Colour& b) const { return std::fabs(a(0) - b(0)); }
};

ColourSignature table_rows(const std::vector<double>& supply) {
    std::vector<Colour> features;
    for (std::size_t i = 0; i < supply.size(); ++i) {
        features.emplace_back(static_cast<double>(i), 0, 0);
    }
    return make_signature(features, supply);
}

ColourSignature table_columns(const std::vector<double>& demand) {
    std::vector<Colour> features;
    for (std::size_t j = 0; j < demand.size(); ++j) {
        features.emplace_back(0, static_cast<double>(j), 0);
    }
    return make_signature(features, demand);
}

ColourSignature random_signature(std::mt19937& random, std::size_t n, double total) {
    std::uniform_real_distribution<double> colour(0.0, 100.0);
    std::uniform_real_distribution<double> mass(0.05, 1.0);
    std::vector<Colour> features;
    std::vector<double> weights;
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        features.emplace_back(colour(random), colour(random) - 50, colour(random) - 50);
        weights.push_back(mass(random));
        sum += weights.back();
    }
    for (double& w : weights) {
        w *= total / sum;
    }
    return make_signature(features, weights);
}

TEST(PerceptualDistance, OneChannelDifferenceSaturatesWithItsWeight) {
    const PerceptualDistance<Colour> d(Colour(4.0, 1.0, 1.0));
    EXPECT_DOUBLE_EQ(d(Colour(3, 1, 2), Colour(3, 1, 2)), 0.0);
    // delta 0.5 in channel 0 with weight 4: 1 - exp(-0.5 * sqrt(4))
    EXPECT_DOUBLE_EQ(d(Colour(1.5, 0, 0), Colour(1.0, 0, 0)), 1.0 - std::exp(-1.0));
    EXPECT_LE(d(Colour(0, 0, 0), Colour(1e6, 1e6, 1e6)), 1.0);
    EXPECT_GT(d(Colour(0, 0, 0), Colour(1, 0, 0)), 0.0);
}

TEST(EMD, OneFeatureEachGivesTheGroundDistanceInSinglePrecision) {
    auto emd =
        std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(0.01, 0.02, 0.03)));
    const auto a = make_signature({Colour(50, 10, -20)}, {1.0});
    const auto b = make_signature({Colour(60, -5, 0)}, {1.0});
    const double expected = emd->ground_distance(a.features[0], b.features[0]);
    EXPECT_EQ(emd->_emd(a, b, nullptr), static_cast<float>(expected));
}

TEST(EMD, IdenticalSignaturesAreAtDistanceZero) {
    std::mt19937 random(7);
    auto emd =
        std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(0.05, 0.05, 0.05)));
    for (std::size_t n : {1u, 3u, 8u, 20u}) {
        const auto s = random_signature(random, n, 1.0);
        EXPECT_NEAR(emd->_emd(s, s, nullptr), 0.0f, 1e-6f) << n << " features";
    }
}

TEST(EMD, IsSymmetricWithinSinglePrecision) {
    std::mt19937 random(11);
    auto emd =
        std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(0.01, 0.01, 0.01)));
    for (int trial = 0; trial < 30; ++trial) {
        const auto a = random_signature(random, 1 + trial % 9, 1.0);
        const auto b = random_signature(random, 1 + (trial * 5) % 11, 1.0);
        const float ab = emd->_emd(a, b, nullptr);
        const float ba = emd->_emd(b, a, nullptr);
        EXPECT_NEAR(ab, ba, 1e-5f) << "trial " << trial;
        EXPECT_GT(ab, 0.0f);
        EXPECT_LT(ab, 1.0f);
    }
}

// Two sources, two sinks, balanced:
//
//            d0=0.3   d1=0.7
//   s0=0.5 |  0.1   |  0.6  |
//   s1=0.5 |  0.4   |  0.2  |
//
// With x the flow s0->d0 (0 <= x <= 0.3) the work is 0.46 - 0.7x, so x = 0.3:
// s0->d0 0.3, s0->d1 0.2, s1->d1 0.5, work 0.03 + 0.12 + 0.10 = 0.25.
TEST(EMD, SolvesTwoByTwoTransportByHand) {
    const std::vector<std::vector<double>> table = {{0.1, 0.6}, {0.4, 0.2}};
    auto emd = std::make_unique<EMD<TableDistance>>(TableDistance{&table});
    const auto rows = table_rows({0.5, 0.5});
    const auto columns = table_columns({0.3, 0.7});
    flow_t flows[3];
    const float distance = emd->_emd(rows, columns, flows);
    EXPECT_NEAR(distance, 0.25f, 1e-6f);

    double moved[2][2] = {{0, 0}, {0, 0}};
    const int entries = static_cast<int>(emd->row_count + emd->column_count - 1);
    double total = 0;
    for (int k = 0; k < entries; ++k) {
        moved[flows[k].from][flows[k].to] += flows[k].amount;
        total += flows[k].amount;
    }
    EXPECT_NEAR(total, 1.0, 1e-6);
    EXPECT_NEAR(moved[0][0], 0.3, 1e-6);
    EXPECT_NEAR(moved[0][1], 0.2, 1e-6);
    EXPECT_NEAR(moved[1][0], 0.0, 1e-6);
    EXPECT_NEAR(moved[1][1], 0.5, 1e-6);
}

// Three sources, three sinks, balanced (masses in tenths):
//
//            d0=0.4   d1=0.4   d2=0.2
//   s0=0.2 |  0.9   |  0.1   |  0.5  |
//   s1=0.5 |  0.2   |  0.8   |  0.3  |
//   s2=0.3 |  0.6   |  0.4   |  0.1  |
//
// The cheapest plan (checked over all plans in tenths):
//   s0->d1 0.2, s1->d0 0.4, s1->d2 0.1, s2->d1 0.2, s2->d2 0.1
//   work 0.02 + 0.08 + 0.03 + 0.08 + 0.01 = 0.22.
TEST(EMD, SolvesThreeByThreeTransportByHand) {
    const std::vector<std::vector<double>> table = {
        {0.9, 0.1, 0.5}, {0.2, 0.8, 0.3}, {0.6, 0.4, 0.1}};
    auto emd = std::make_unique<EMD<TableDistance>>(TableDistance{&table});
    EXPECT_NEAR(emd->_emd(table_rows({0.2, 0.5, 0.3}), table_columns({0.4, 0.4, 0.2}), nullptr),
                0.22f, 1e-6f);
    // The transposed problem has the same optimum.
    const std::vector<std::vector<double>> transposed = {
        {0.9, 0.2, 0.6}, {0.1, 0.8, 0.4}, {0.5, 0.3, 0.1}};
    auto other = std::make_unique<EMD<TableDistance>>(TableDistance{&transposed});
    EXPECT_NEAR(other->_emd(table_rows({0.4, 0.4, 0.2}), table_columns({0.2, 0.5, 0.3}), nullptr),
                0.22f, 1e-6f);
}

// Equal masses on a line under |a - b|: the distance is the area between the two cumulative
// distributions.
TEST(EMD, EqualMassesOnALineGiveTheAreaBetweenCumulativeDistributions) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> position(0.0, 10.0);
    std::uniform_real_distribution<double> mass(0.1, 1.0);
    auto emd = std::make_unique<EMD<LineDistance>>();
    for (int trial = 0; trial < 20; ++trial) {
        const std::size_t n = 1 + static_cast<std::size_t>(trial % 8);
        const std::size_t m = 1 + static_cast<std::size_t>((trial * 3) % 7);
        std::vector<std::pair<double, double>> a, b;  // position, normalised mass
        double sum_a = 0, sum_b = 0;
        for (std::size_t i = 0; i < n; ++i) {
            a.emplace_back(position(random), mass(random));
            sum_a += a.back().second;
        }
        for (std::size_t j = 0; j < m; ++j) {
            b.emplace_back(position(random), mass(random));
            sum_b += b.back().second;
        }
        std::vector<Colour> fa, fb;
        std::vector<double> wa, wb;
        for (auto& p : a) {
            p.second /= sum_a;
            fa.emplace_back(p.first, 0, 0);
            wa.push_back(p.second);
        }
        for (auto& p : b) {
            p.second /= sum_b;
            fb.emplace_back(p.first, 0, 0);
            wb.push_back(p.second);
        }
        // Signed events: +mass for a, -mass for b, swept left to right.
        std::vector<std::pair<double, double>> events;
        for (const auto& p : a) {
            events.emplace_back(p.first, p.second);
        }
        for (const auto& p : b) {
            events.emplace_back(p.first, -p.second);
        }
        std::sort(events.begin(), events.end());
        double area = 0, difference = 0;
        for (std::size_t k = 0; k + 1 < events.size(); ++k) {
            difference += events[k].second;
            area += std::fabs(difference) * (events[k + 1].first - events[k].first);
        }
        const float distance = emd->_emd(make_signature(fa, wa), make_signature(fb, wb), nullptr);
        EXPECT_NEAR(distance, area, 1e-5) << "trial " << trial;
    }
}

TEST(EMD, NearlyEqualTotalsAddNoDummy) {
    auto emd = std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(0.1, 0.1, 0.1)));
    const auto a = make_signature({Colour(1, 2, 3), Colour(4, 5, 6)}, {0.5, 0.5});
    const auto b = make_signature({Colour(1, 2, 4)}, {1.0 + 1e-12});
    emd->_emd(a, b, nullptr);
    EXPECT_EQ(emd->row_count, 2u);
    EXPECT_EQ(emd->column_count, 1u);
}

TEST(EMD, UnequalTotalsAddAZeroCostDummyAndDivideByTheSmallerTotal) {
    auto emd = std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(0.1, 0.1, 0.1)));
    const Colour source(10, 0, 0), near(12, 0, 0), far(30, 0, 0);
    const double near_distance = emd->ground_distance(source, near);
    // Supply 0.5 against demand 1.0: a dummy row feeds the far colour, the real mass goes to
    // the near one.
    const auto small = make_signature({source}, {0.5});
    const auto large = make_signature({near, far}, {0.5, 0.5});
    flow_t flows[4];
    EXPECT_NEAR(emd->_emd(small, large, flows), near_distance, 1e-6);
    EXPECT_EQ(emd->row_count, 2u);
    EXPECT_EQ(emd->column_count, 2u);
    EXPECT_EQ(flows[0].from, 0u);
    EXPECT_EQ(flows[0].to, 0u);
    EXPECT_FLOAT_EQ(flows[0].amount, 0.5f);
    // The other way round a dummy column takes the excess.
    EXPECT_NEAR(emd->_emd(large, small, nullptr), near_distance, 1e-6);
    EXPECT_EQ(emd->row_count, 2u);
    EXPECT_EQ(emd->column_count, 2u);
    // Scaling both by the same factor leaves the distance unchanged.
    const auto small3 = make_signature({source}, {1.5});
    const auto large3 = make_signature({near, far}, {1.5, 1.5});
    EXPECT_NEAR(emd->_emd(small3, large3, nullptr), near_distance, 1e-6);
}

TEST(EMD, ReusingTheSolverGivesTheSameAnswers) {
    std::mt19937 random(5);
    auto emd =
        std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(0.02, 0.02, 0.02)));
    const auto a = random_signature(random, 6, 1.0);
    const auto b = random_signature(random, 4, 0.7);
    const auto big = random_signature(random, 40, 1.3);
    const float first = emd->_emd(a, b, nullptr);
    emd->_emd(big, a, nullptr);
    emd->_emd(b, big, nullptr);
    EXPECT_EQ(emd->_emd(a, b, nullptr), first);
}

TEST(EMD, TwoHundredFiftyFiveFeaturesFitWithADummy) {
    std::mt19937 random(9);
    auto emd =
        std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(0.01, 0.01, 0.01)));
    const auto a = random_signature(random, 255, 1.0);
    const auto b = random_signature(random, 255, 0.9);
    const float distance = emd->_emd(a, b, nullptr);
    EXPECT_EQ(emd->column_count, 256u);
    EXPECT_GT(distance, 0.0f);
    EXPECT_LT(distance, 1.0f);
}

TEST(EMD, MoreThanTwoHundredFiftyFiveFeaturesAreRefused) {
    std::mt19937 random(9);
    const auto a = random_signature(random, 256, 1.0);
    const auto b = random_signature(random, 3, 1.0);
    auto emd = std::make_unique<PerceptualEMD>();
    for (const auto* first : {&a, &b}) {
        EXPECT_THAT(
            [&] { emd->_emd(*first, first == &a ? b : a, nullptr); },
            ThrowsMessage<VoradaError>(StrEq("emd: a signature has more than 255 features")));
    }
}

TEST(EMD, RejectsEmptyOrMismatchedSignatures) {
    auto emd = std::make_unique<PerceptualEMD>();
    const auto a = make_signature({Colour(1, 2, 3)}, {1.0});
    ColourSignature empty;
    EXPECT_THROW(emd->_emd(a, empty, nullptr), vorada::VoradaError);
    ColourSignature mismatched = make_signature({Colour(1, 2, 3), Colour(3, 2, 1)}, {1.0, 1.0});
    mismatched.weights.resize(1);
    EXPECT_THROW(emd->_emd(mismatched, a, nullptr), vorada::VoradaError);
}

TEST(EMDLowerBound, NeverExceedsTheSolverAndIsTightForSingleFeatures) {
    auto solver =
        std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(0.01, 0.02, 0.03)));
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> size(1, 6);
    std::uniform_int_distribution<int> balance(0, 2);
    for (int trial = 0; trial < 20000; ++trial) {
        // Equal totals, the usual case, and both sides heavier.
        const int kind = balance(random);
        const ColourSignature a = random_signature(random, size(random), kind == 1 ? 1.3 : 1.0);
        const ColourSignature b = random_signature(random, size(random), kind == 2 ? 1.7 : 1.0);
        const double bound = solver->lower_bound(a, b);
        const double value = static_cast<double>(solver->_emd(a, b, nullptr));
        ASSERT_LE(bound, value) << "trial " << trial;
        ASSERT_GE(bound, 0.0);
    }
    // One feature each: the whole mass moves at the one ground distance, which the bound
    // prices without the exponential, at most 3 % lower.
    for (const double far : {10.01, 11.0, 20.0, 30.0, 60.0, 200.0}) {
        const ColourSignature a = make_signature({Colour(10, 0, 0)}, {1.0});
        const ColourSignature b = make_signature({Colour(far, 0, 0)}, {1.0});
        const double r = std::sqrt(0.01 * (far - 10) * (far - 10));
        const double ground = 1.0 - std::exp(-r);
        EXPECT_GE(solver->lower_bound(a, b), 0.97 * ground) << far;
        EXPECT_LE(solver->lower_bound(a, b), ground) << far;
    }
}

TEST(EMDLowerBound, PricesTheLighterSideAtItsNearestColours) {
    auto solver = std::make_unique<PerceptualEMD>(PerceptualDistance<Colour>(Colour(1, 1, 1)));
    // The bound's price of a ground distance d, 1 − exp(−d), with exp(d) taken at its
    // Taylor polynomial of degree 3.
    const auto g = [](double d) { return 1.0 - 1.0 / (1.0 + d + d * d / 2 + d * d * d / 6); };
    // Rows at 0 and 10 against columns at 1 and 4 along channel 0: nearest columns cost g(1)
    // and g(6); nearest rows cost g(1) and g(4). Equal totals take the larger side.
    const ColourSignature rows = make_signature({Colour(0, 0, 0), Colour(10, 0, 0)}, {0.5, 0.5});
    const ColourSignature columns = make_signature({Colour(1, 0, 0), Colour(4, 0, 0)}, {0.5, 0.5});
    const double by_rows = 0.5 * g(1) + 0.5 * g(6);
    EXPECT_NEAR(solver->lower_bound(rows, columns), by_rows, 1e-5);
    // A heavier second signature: only the first side's mass surely moves, at g(1) and g(6).
    const ColourSignature heavy = make_signature({Colour(1, 0, 0), Colour(4, 0, 0)}, {1.0, 1.0});
    EXPECT_NEAR(solver->lower_bound(rows, heavy), by_rows, 1e-5);
    // A heavier first signature: the second side's mass, from 0 and 10 at g(1) and g(6), not
    // the first side's, from 1 and 4 at g(1) and g(4).
    EXPECT_NEAR(solver->lower_bound(heavy, rows), by_rows, 1e-5);
    EXPECT_EQ(solver->lower_bound(rows, rows), 0.0);
}

}  // namespace
