#pragma once

#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// A grey RGB video of the map's size: every channel of a point is 255 × the map's value there
/// (neither clamped nor rounded; maps in 0-1 give 0-255).
VideoSignal<double, 3> convert_map_to_image(VideoSignal<double, 1>& map);

}  // namespace gma
}  // namespace vorada
