#include "clips/join.h"

#include <boost/filesystem.hpp>

#include "common/errors.h"

namespace vorada {
namespace clips {

std::string clips_directory(const std::string& output_directory) {
    return output_directory + "/clips";
}

JoinReport join_clips(const Plan& /*plan*/, const JoinSettings& /*settings*/) {
    throw VoradaNotImplemented("join_clips");
}

void remove_clip_folders(const std::string& output_directory) {
    boost::filesystem::remove_all(clips_directory(output_directory));
}

}  // namespace clips
}  // namespace vorada
