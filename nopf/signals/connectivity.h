#pragma once
// Neighbourhoods used for the spatial adjacency of regions.

namespace vorada {
namespace gma {

/// Selects which voxels count as adjacent. 11: same frame, one step in exactly one of x and y
/// (the in-frame 4-neighbourhood), visited through the forward offsets (+1,0,0) then (0,+1,0).
enum ConnectivityType : int { IN_FRAME_4 = 11 };

}  // namespace gma
}  // namespace vorada
