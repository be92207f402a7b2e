#pragma once
// Area: the number of points of a region; a merged region's is the sum of its children's.

#include "common/errors.h"
#include "descriptors/descriptorbase.h"
#include "descriptors/descriptormanager.h"
#include "signals/region.h"

namespace vorada {
namespace gma {

/// Point count of a region, stored as "absolute_area". The signal only selects the cache.
class Area : public DescriptorBase {
  public:
    using type = unsigned long long;
    struct Parameters {};
    using AreaDescriptorParameters = Parameters;
    using capacity_error = BacktracedVoradaException;
    static const char* name() { return "absolute_area"; }

    type value = 0;

    /// Counts the region's points.
    template <typename Signal, typename Region>
    void calculate(Signal& signal,
                   Region& region,
                   const Parameters& parameters,
                   DescriptorManager* manager);
    /// Sums the children's areas, each child taken as the children's own region type.
    template <typename Signal, typename Region, typename Children>
    void recursive_calculate(Signal& signal,
                             Region& region,
                             const Children& children,
                             const Parameters& parameters,
                             DescriptorManager* manager);
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename Signal, typename Region>
void Area::calculate(Signal& /*signal*/,
                     Region& region,
                     const Parameters& /*parameters*/,
                     DescriptorManager* /*manager*/) {
    value = 0;
    for_each_region_point(region, [this](const Coordinate&) { ++value; });
}

template <typename Signal, typename Region, typename Children>
void Area::recursive_calculate(Signal& signal,
                               Region& /*region*/,
                               const Children& children,
                               const Parameters& parameters,
                               DescriptorManager* manager) {
    value = 0;
    for (auto* child : children) {
        value += manager->calc_descriptor<Area>(signal, *child, parameters);
    }
}

}  // namespace gma
}  // namespace vorada
