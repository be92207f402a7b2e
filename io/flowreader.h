#pragma once

#include <string>

#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// Reads one Middlebury .flo file into frame t of a two-channel signal (u to channel 0, v to 1).
/// Raises VoradaError with a "read_flow_file: PATH: ..." message on every failure: a file that
/// does not start with the .flo tag, a flow of another size than the signal's frames, a NaN or
/// infinite value (naming the pixel); the points read before a failure keep their new values.
void read_optical_flow(VideoSignal<double, 2>& signal, std::string path, unsigned long long t);

}  // namespace gma
}  // namespace vorada
