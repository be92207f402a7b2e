#pragma once
// The plan of a clip-mode run: the frame range cut into clips of at most N frames, and also at
// every shot boundary that the input folder records, so that no clip spans two shots.

#include <cstdint>
#include <string>
#include <vector>

namespace vorada {
namespace clips {

/// One run of frames of one kind, as the input folder's shot list gives it.
struct ShotSegment {
    std::uint64_t first = 0, last = 0;  ///< frame numbers, inclusive
    bool blank = false;
};

/// One clip of the plan.
struct Clip {
    std::uint64_t index = 0;    ///< 0, 1, 2, … in frame order
    std::uint64_t first = 0;    ///< frame number of the first frame
    std::uint64_t last = 0;     ///< frame number of the last frame, inclusive
    std::uint64_t segment = 0;  ///< shot segment id; clips of different segments are never linked

    std::uint64_t frames() const { return last - first + 1; }
};

struct Plan {
    std::uint64_t first_frame = 0, last_frame = 0;  ///< the run's range, inclusive
    std::vector<Clip> clips;

    std::uint64_t frames() const { return last_frame - first_frame + 1; }
};

/// Name of the shot list in a prepared input folder.
extern const char* const shot_list_name;

/// Reads a shot list ("first last kind" lines, kind `shot` or `blank`, in frame order, without
/// gaps or overlaps; `#` starts a comment). Throws VoradaFileError in one line on a malformed file.
std::vector<ShotSegment> read_shot_list(const std::string& path);

/// Cuts first…last into clips of at most `clip_frames` frames within each segment. Segments are
/// numbered in frame order; frames the list does not cover form segments of their own.
Plan make_plan(std::uint64_t first_frame,
               std::uint64_t last_frame,
               std::uint64_t clip_frames,
               const std::vector<ShotSegment>& segments);

/// The plan for an input folder: its shot list if it has one, else the range as one shot.
Plan plan_clips(const std::string& input_directory,
                std::uint64_t first_frame,
                std::uint64_t last_frame,
                std::uint64_t clip_frames);

/// Folder of clip `index` inside an output folder: OUT/clips/IIII.
std::string clip_directory(const std::string& output_directory, std::uint64_t index);

}  // namespace clips
}  // namespace vorada
