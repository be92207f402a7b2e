#pragma once
// Colour signature of a region: its distinct colours with their frequencies (k-means when there
// are too many), or, for a merged region, the area-weighted pool of its children's colours with
// the closest pairs fused until few enough remain.

#include <Eigen/Core>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "common/errors.h"
#include "descriptors/area.h"
#include "descriptors/descriptorbase.h"
#include "descriptors/descriptormanager.h"
#include "descriptors/runpool.h"
#include "math/emd.h"
#include "math/inlinevector.h"
#include "math/kmeans.h"
#include "math/signature.h"
#include "signals/region.h"

namespace vorada {
namespace gma {

/// Parameters of the colour signature.
struct ColorMeanDescriptorParameters {
    /// Largest number of colours a signature keeps; at least 1.
    unsigned long long num_colors = 0;
    /// Per-channel factors of the perceptual distance used when fusing colours.
    Eigen::Vector3d channel_weights = Eigen::Vector3d::Ones();
};

/// A colour signature as the manager hands it out: views of its pool, and the region's area
/// (the mass the weights are fractions of), which the bound of the distance reads with it.
struct SignatureView
    : math::Signature<Eigen::Vector3d, ConstSpan<Eigen::Vector3d>, ConstSpan<double>> {
    unsigned long long area = 0;
};

/// How the manager keeps colour signatures: per label one entry, and per region one run in a
/// pool of doubles holding the area, the weights and the colours, so that a neighbour's
/// signature is one look-up and a few adjacent cache lines away.
class SignatureStorage {
  public:
    static constexpr bool indexed_by_label = true;
    using result = SignatureView;

    bool has(std::uint32_t label) const {
        return label < entries.size() && entries[label].size != absent;
    }
    result get(std::uint32_t label) const {
        const Entry& entry = entries[label];
        const double* run = pool.at(entry.run);
        result view;
        std::memcpy(&view.area, run, sizeof(view.area));
        view.weights = ConstSpan<double>(run + 1, entry.size);
        view.features = ConstSpan<Eigen::Vector3d>(
            reinterpret_cast<const Eigen::Vector3d*>(run + 1 + entry.size), entry.size);
        return view;
    }
    /// Hints that `label`'s entry, and then its run, will be read soon: look-ups of many
    /// scattered regions overlap when every entry is hinted first, then every run.
    void prefetch_entry(std::uint32_t label) const {
        if (label < entries.size()) {
            __builtin_prefetch(&entries[label]);
        }
    }
    void prefetch_run(std::uint32_t label) const {
        if (has(label)) {
            const double* run = pool.at(entries[label].run);
            __builtin_prefetch(run);
            __builtin_prefetch(run + _length(entries[label].size) - 1);
        }
    }
    template <typename Values>
    result put(std::uint32_t label, Values&& values) {
        const std::size_t size = values.features.size();
        if (static_cast<std::size_t>(values.weights.size()) != size) {
            throw VoradaError("A colour signature needs exactly one weight per colour");
        }
        if (size >= (absent - 1) / 4) {
            throw VoradaError("Too many colours in a signature");
        }
        if (entries.size() <= label) {
            entries.resize(static_cast<std::size_t>(label) + 1);
        }
        Entry& entry = entries[label];
        entry.run = pool.allocate(_length(size));
        entry.size = static_cast<std::uint32_t>(size);
        live += _length(size);
        double* run = pool.at(entry.run);
        std::memcpy(run, &values.area, sizeof(values.area));
        for (std::size_t i = 0; i < size; ++i) {
            run[1 + i] = values.weights[i];
            new (run + 1 + size + 3 * i) Eigen::Vector3d(values.features[i]);
        }
        return get(label);
    }
    /// Frees a region's run. When enough of the pool is then free (see RunPool::worth_repacking),
    /// the live runs are repacked, which moves them: views of any region are valid only until the
    /// next release.
    void clear(std::uint32_t label) {
        Entry& entry = entries[label];
        pool.free(entry.run, _length(entry.size));
        live -= _length(entry.size);
        entry = Entry();
        if (pool.reserved() > repack_above && pool.worth_repacking(live)) {
            pool.repack([this](auto move) {
                for (Entry& kept : entries) {
                    if (kept.size != absent) {
                        move(kept.run, _length(kept.size));
                    }
                }
            });
        }
    }

  private:
    static_assert(sizeof(Eigen::Vector3d) == 3 * sizeof(double),
                  "colours are three packed doubles");
    static_assert(sizeof(unsigned long long) == sizeof(double),
                  "the area takes one double's place");
    static constexpr std::uint32_t absent = 0xFFFFFFFFu;
    static constexpr std::size_t repack_above = std::size_t(1) << 20;  ///< doubles (8 MiB)
    static std::size_t _length(std::size_t size) { return 1 + 4 * size; }
    struct Entry {
        RunPool<double>::Run run = RunPool<double>::none;
        std::uint32_t size = absent;
    };
    std::vector<Entry> entries;
    RunPool<double> pool;
    std::size_t live = 0;  ///< doubles in runs in use
};

/// The colour signature of a region measured on a three-channel video, stored as "color_mean".
template <typename Signal>
class ColorSignature : public DescriptorBase {
  public:
    using Parameters = ColorMeanDescriptorParameters;
    /// Colours with weights summing to 1, as the manager hands them out (views of its pools).
    using type = SignatureStorage::result;
    using storage = SignatureStorage;
    /// The same while being computed, in inline lists (up to four colours need no heap).
    struct Values : math::Signature<Eigen::Vector3d,
                                    math::InlineVector<Eigen::Vector3d, 4>,
                                    math::InlineVector<double, 4>> {
        unsigned long long area = 0;
    };
    using capacity_error = VoradaError;
    static const char* name() { return "color_mean"; }

    Parameters parameters;
    Values value;

    /// Signature from the region's own points: exact when num_colors is not below the number of
    /// distinct colours (ascending lexicographic order), otherwise k-means over all points.
    template <typename Region>
    void calculate(Signal& signal,
                   Region& region,
                   const Parameters& descriptor_parameters,
                   DescriptorManager* manager);
    /// Pools the children's signatures weighted by area, then fuses the cheapest pairs.
    template <typename Region, typename Children>
    void recursive_calculate(Signal& signal,
                             Region& region,
                             const Children& children,
                             const Parameters& descriptor_parameters,
                             DescriptorManager* manager);

    /// Fuses pairs of the pooled lists until at most num_colors remain: the pair of smallest
    /// (perceptual distance) × (sum of weights) becomes its weighted mean, appended at the end.
    static void fuse(std::vector<Eigen::Vector3d>& colours,
                     std::vector<double>& weights,
                     const Parameters& descriptor_parameters);

  private:
    static void _check(const Parameters& descriptor_parameters);
    // Most leaves hold a voxel or two. For a region of at most this many own points whose
    // distinct colours need no k-means, calculate's result is found without its map.
    static constexpr std::size_t small_region = 4;
    template <typename Region>
    bool _calculate_small(Signal& signal, const Region& region);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename Signal>
void ColorSignature<Signal>::_check(const Parameters& descriptor_parameters) {
    if (descriptor_parameters.num_colors == 0) {
        throw VoradaError("A colour signature needs at least one colour");
    }
}

template <typename Signal>
template <typename Region>
void ColorSignature<Signal>::calculate(Signal& signal,
                                       Region& region,
                                       const Parameters& descriptor_parameters,
                                       DescriptorManager* /*manager*/) {
    _check(descriptor_parameters);
    parameters = descriptor_parameters;
    if (_calculate_small(signal, region)) {
        return;
    }
    std::vector<Eigen::Vector3d> colours;
    // Keyed by the channels compared lexicographically: occurrences and the colour itself.
    std::map<std::array<double, 3>, std::pair<unsigned long long, Eigen::Vector3d>> distinct;
    unsigned long long count = 0;
    for_each_own_point(region, [&](const Coordinate& point) {
        if (!signal.contains(point(0), point(1), point(2))) {
            throw VoradaError("Region point outside the signal");
        }
        const double* sample = signal.at(point(0), point(1), point(2));
        const Eigen::Vector3d colour(sample[0], sample[1], sample[2]);
        colours.push_back(colour);
        auto& entry = distinct[{sample[0], sample[1], sample[2]}];
        entry.first += 1;
        entry.second = colour;
        ++count;
    });
    value.features.clear();
    value.weights.clear();
    value.area = count;
    if (parameters.num_colors < distinct.size()) {
        math::statistics::KMeans<Eigen::Vector3d> kmeans(0.001, 500);
        kmeans.calculate(colours, static_cast<unsigned int>(parameters.num_colors));
        value.features.assign(kmeans.centroids.begin(), kmeans.centroids.end());
        value.weights.assign(kmeans.weights.data(), kmeans.weights.data() + kmeans.weights.size());
        return;
    }
    for (const auto& entry : distinct) {
        value.features.push_back(entry.second.second);
        value.weights.push_back(static_cast<double>(entry.second.first) /
                                static_cast<double>(count));
    }
}

// The map's result from a short list: distinct keys (channels, compared lexicographically) in
// ascending order, each with its count and the colour last seen for it. Colours with a NaN
// channel, which the map orders in its own way, are left to it.
template <typename Signal>
template <typename Region>
bool ColorSignature<Signal>::_calculate_small(Signal& signal, const Region& region) {
    if (region.is_virtual() || region.size() > small_region) {
        return false;
    }
    std::array<double, 3> keys[small_region];
    unsigned long long counts[small_region];
    Eigen::Vector3d colours[small_region];
    std::size_t distinct = 0;
    unsigned long long count = 0;
    for (auto stored = region.stored_begin(); stored != region.stored_end(); ++stored) {
        const Coordinate point = as_coordinate(*stored);
        if (!signal.contains(point(0), point(1), point(2))) {
            throw VoradaError("Region point outside the signal");
        }
        const double* sample = signal.at(point(0), point(1), point(2));
        const std::array<double, 3> key = {sample[0], sample[1], sample[2]};
        if (std::isnan(key[0]) || std::isnan(key[1]) || std::isnan(key[2])) {
            return false;
        }
        std::size_t i = 0;
        while (i < distinct && keys[i] < key) {
            ++i;
        }
        if (i == distinct || key < keys[i]) {
            for (std::size_t j = distinct; j > i; --j) {
                keys[j] = keys[j - 1];
                counts[j] = counts[j - 1];
                colours[j] = colours[j - 1];
            }
            keys[i] = key;
            counts[i] = 0;
            ++distinct;
        }
        counts[i] += 1;
        colours[i] = Eigen::Vector3d(sample[0], sample[1], sample[2]);
        ++count;
    }
    if (parameters.num_colors < distinct) {
        return false;
    }
    value.features.clear();
    value.weights.clear();
    value.area = count;
    for (std::size_t i = 0; i < distinct; ++i) {
        value.features.push_back(colours[i]);
        value.weights.push_back(static_cast<double>(counts[i]) / static_cast<double>(count));
    }
    return true;
}

template <typename Signal>
template <typename Region, typename Children>
void ColorSignature<Signal>::recursive_calculate(Signal& signal,
                                                 Region& /*region*/,
                                                 const Children& children,
                                                 const Parameters& descriptor_parameters,
                                                 DescriptorManager* manager) {
    _check(descriptor_parameters);
    parameters = descriptor_parameters;
    // The children's signatures may be computed here first (recursively), so the scratch
    // lists below are filled only once every child is known.
    math::InlineVector<std::pair<type, unsigned long long>, 2> parts;
    unsigned long long total = 0;
    for (auto* child : children) {
        Region& trajectory = static_cast<Region&>(*child);
        const type signature =
            manager->calc_descriptor<ColorSignature>(signal, trajectory, descriptor_parameters);
        const unsigned long long area =
            manager->calc_descriptor<Area>(signal, trajectory, Area::Parameters{});
        parts.push_back({signature, area});
        total += area;
    }
    value.area = total;
    // Scratch lists kept between calls: a run pools signatures at every one of its merges.
    static thread_local std::vector<Eigen::Vector3d> colours;
    static thread_local std::vector<double> weights;
    colours.clear();
    weights.clear();
    for (const auto& part : parts) {
        const type& signature = part.first;
        for (std::size_t i = 0; i < signature.features.size(); ++i) {
            colours.push_back(signature.features[i]);
            weights.push_back(static_cast<double>(part.second) * signature.weights[i] /
                              static_cast<double>(total));
        }
    }
    fuse(colours, weights, parameters);
    value.features.assign(colours.begin(), colours.end());
    value.weights.assign(weights.begin(), weights.end());
}

template <typename Signal>
void ColorSignature<Signal>::fuse(std::vector<Eigen::Vector3d>& colours,
                                  std::vector<double>& weights,
                                  const Parameters& descriptor_parameters) {
    if (colours.size() <= descriptor_parameters.num_colors) {
        return;
    }
    const math::optimization::PerceptualDistance<Eigen::Vector3d> perceptual(
        descriptor_parameters.channel_weights);
    // Entries keep a fixed id (a fused entry reuses its first member's id) so the perceptual
    // term of each pair is computed once; `order` is the list order of the ids.
    const std::size_t m = colours.size();
    static thread_local std::vector<Eigen::Vector3d> colour_of;
    static thread_local std::vector<double> weight_of;
    static thread_local std::vector<double> term;
    static thread_local std::vector<std::size_t> order;
    colour_of.assign(colours.begin(), colours.end());
    weight_of.assign(weights.begin(), weights.end());
    term.assign(m * m, 0.0);
    order.resize(m);
    for (std::size_t a = 0; a < m; ++a) {
        order[a] = a;
        for (std::size_t b = a + 1; b < m; ++b) {
            term[a * m + b] = term[b * m + a] = perceptual(colour_of[a], colour_of[b]);
        }
    }
    while (order.size() > descriptor_parameters.num_colors) {
        // The first minimal pair in scanning order (p outer, q inner) wins: only a strictly
        // smaller cost replaces the best.
        double best = 1e20;
        std::size_t best_p = 0;
        std::size_t best_q = 0;
        bool found = false;
        for (std::size_t p = 0; p < order.size(); ++p) {
            for (std::size_t q = p + 1; q < order.size(); ++q) {
                const std::size_t a = order[p];
                const std::size_t b = order[q];
                const double cost = term[a * m + b] * (weight_of[a] + weight_of[b]);
                if (cost < best) {
                    best = cost;
                    best_p = p;
                    best_q = q;
                    found = true;
                }
            }
        }
        if (!found) {
            break;  // fewer than two entries, or costs that are not numbers
        }
        const std::size_t a = order[best_p];
        const std::size_t b = order[best_q];
        const double wa = weight_of[a];
        const double wb = weight_of[b];
        const double sum = wa + wb;
        Eigen::Vector3d fused;
        for (int k = 0; k < 3; ++k) {
            fused(k) = (wa * colour_of[a](k) + wb * colour_of[b](k)) / sum;
        }
        order.erase(order.begin() + static_cast<std::ptrdiff_t>(best_q));
        order.erase(order.begin() + static_cast<std::ptrdiff_t>(best_p));
        colour_of[a] = fused;
        weight_of[a] = sum;
        for (std::size_t other : order) {
            term[a * m + other] = term[other * m + a] = perceptual(colour_of[a], colour_of[other]);
        }
        order.push_back(a);
    }
    colours.clear();
    weights.clear();
    for (std::size_t id : order) {
        colours.push_back(colour_of[id]);
        weights.push_back(weight_of[id]);
    }
}

}  // namespace gma
}  // namespace vorada
