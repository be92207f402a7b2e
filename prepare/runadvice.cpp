#include "prepare/runadvice.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "layout/memorylimit.h"

namespace vorada {
namespace prepare {
namespace {

// Clips shorter than this lose too much of the motion the merging relies on; fewer jobs with
// longer clips are better then.
constexpr unsigned long long shortest_useful_clip = 5;

double voxels(unsigned long long width, unsigned long long height, unsigned long long frames) {
    return static_cast<double>(width) * static_cast<double>(height) * static_cast<double>(frames);
}

std::string shots_note(const std::vector<ShotSegment>& segments) {
    std::ostringstream cuts, blanks;
    unsigned long long cut_count = 0, blank_count = 0;
    for (std::size_t k = 0; k < segments.size(); ++k) {
        if (segments[k].blank) {
            blanks << (blank_count ? ", " : "") << segments[k].first;
            blank_count += segments[k].last - segments[k].first + 1;
            if (segments[k].last > segments[k].first) {
                blanks << "-" << segments[k].last;
            }
        } else if (k > 0 && !segments[k - 1].blank) {
            cuts << (cut_count++ ? ", " : "") << segments[k].first;
        }
    }
    std::ostringstream note;
    if (cut_count > 0) {
        note << cut_count << (cut_count == 1 ? " shot cut" : " shot cuts") << " (before frame"
             << (cut_count == 1 ? " " : "s ") << cuts.str() << ")";
    }
    if (blank_count > 0) {
        note << (cut_count > 0 ? " and " : "")
             << (blank_count == 1 ? "blank frame " : "blank frames ") << blanks.str();
    }
    return note.str();
}

}  // namespace

VsegAdvice advise_vseg_command(const std::string& default_command,
                               unsigned long long width,
                               unsigned long long height,
                               unsigned long long frames,
                               const std::vector<ShotSegment>& segments,
                               const MachineRoom& room) {
    const double needed = layout::estimated_run_bytes(voxels(width, height, frames));
    const bool fits = needed <= room.memory_bytes;
    if (fits && segments.size() <= 1) {
        return {default_command, ""};
    }
    unsigned long long longest = 1;
    for (const ShotSegment& segment : segments) {
        longest = std::max(longest, segment.last - segment.first + 1);
    }
    std::ostringstream note;
    if (!fits) {
        note << "By vseg's estimate, frames 0 to " << frames - 1 << " of " << width << "x" << height
             << " need about " << layout::gibibytes(needed) << ", more than the "
             << layout::gibibytes(room.memory_bytes) << " vseg may use here (" << room.memory_source
             << ")";
    }
    const std::string shots = shots_note(segments);
    if (!shots.empty()) {
        note << (fits ? "Found " : "; found ") << shots << ", which a default run ignores ("
             << default_command << ")";
    }
    unsigned long long jobs = std::max(1u, room.cores), clip = 0;
    for (;; --jobs) {
        clip = layout::clip_frames_that_fit(width, height, jobs, room.memory_bytes);
        if (jobs == 1 || clip >= std::min(longest, shortest_useful_clip)) {
            break;
        }
    }
    if (clip == 0) {
        note << "; not even one frame fits: shrink the frames (--max-side)";
        return {default_command, note.str()};
    }
    clip = std::min(clip, longest);
    unsigned long long clips = 0;
    for (const ShotSegment& segment : segments) {
        clips += (segment.last - segment.first + clip) / clip;
    }
    jobs = std::min(jobs, std::max(1ull, clips));
    note << "; segment them in clip mode, " << clip << " frames a clip, " << jobs
         << " at a time, with:";
    return {default_command + " --clip-frames " + std::to_string(clip) + " --jobs " +
                std::to_string(jobs),
            note.str()};
}

}  // namespace prepare
}  // namespace vorada
