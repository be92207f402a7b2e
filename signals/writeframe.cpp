#include "common/errors.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

// Placeholder until the image library writes files.
template <>
void VideoSignal<double, 3>::write_frame(const std::string&, unsigned long long) {
    throw VoradaNotImplemented("write_frame");
}

}  // namespace gma
}  // namespace vorada
