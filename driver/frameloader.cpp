#include "common/errors.h"
#include "driver/pipeline.h"

namespace vorada {
namespace gma {

// Placeholder until frames are read through the image library.
void load_frames(Video&, const std::string&, unsigned long long, unsigned long long) {
    throw VoradaNotImplemented("frame reading");
}

}  // namespace gma
}  // namespace vorada
