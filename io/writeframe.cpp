#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "image/import_export.h"
#include "io/imagewritequeue.h"
#include "io/writeimage.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

template <>
void VideoSignal<double, 3>::write_frame(const std::string& path,
                                         unsigned long long t,
                                         io::ImageWriteQueue* queue) {
    if (this->color_space != RGB) {
        throw BacktracedVoradaException("Cannot save a different colorspace other than RGB");
    }
    const unsigned long long pixel_count = this->width * this->height;
    if (t >= static_cast<unsigned long long>(this->size(2)) ||
        pixel_count > static_cast<unsigned long long>(this->size(0) * this->size(1))) {
        throw VoradaError("write_frame: frame " + std::to_string(t) + " of " +
                          std::to_string(this->width) + "x" + std::to_string(this->height) +
                          " lies outside a video of " + std::to_string(this->size(0)) + "x" +
                          std::to_string(this->size(1)) + "x" + std::to_string(this->size(2)));
    }
    // Values outside 0-255 are clamped rather than wrapped to their low 8 bits, so an
    // out-of-range colour saturates instead of turning into an unrelated one.
    const double* frame = this->frame_data(static_cast<long long>(t));
    std::vector<double> clamped(frame, frame + 3 * pixel_count);
    for (double& value : clamped) {
        value = std::isnan(value) ? 0.0 : std::min(255.0, std::max(0.0, value));
    }
    ImageRGB<unsigned char> image(this->width, this->height);
    import_from<unsigned char, double>(image, clamped.data(), clamped.size(), BUFFER_RGB);
    if (queue) {
        queue->write(path, std::move(image));
    } else {
        io::WriteImage(path).write(image);
    }
}

}  // namespace gma
}  // namespace vorada
