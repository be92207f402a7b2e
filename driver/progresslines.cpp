#include "driver/progresslines.h"

namespace vorada {
namespace gma {

void ProgressLines::start(unsigned long long regions) {
    out << "Starting from " << regions << " regions " << std::endl;
}

void ProgressLines::merged(unsigned long long done, unsigned long long total) {
    ++since;
    if (static_cast<double>(since) >= static_cast<double>(total) * fraction) {
        out << "Done " << static_cast<int>(done * 100 / total) << "% " << std::endl;
        since = 0;
    }
}

}  // namespace gma
}  // namespace vorada
