#include "driver/cueimages.h"

#include "signals/raster.h"

namespace vorada {
namespace gma {

VideoSignal<double, 3> convert_map_to_image(VideoSignal<double, 1>& map) {
    VideoSignal<double, 3> image(map.size(0), map.size(1), map.size(2));
    image.color_space = RGB;
    for_each_point(map, [&](long long x, long long y, long long t) {
        const double value = 255 * map.at(x, y, t)[0];
        double* pixel = image.at(x, y, t);
        pixel[0] = value;
        pixel[1] = value;
        pixel[2] = value;
    });
    return image;
}

}  // namespace gma
}  // namespace vorada
