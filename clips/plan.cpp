#include "clips/plan.h"

#include <boost/filesystem.hpp>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "common/errors.h"

namespace vorada {
namespace clips {

const char* const shot_list_name = "shots.txt";

std::vector<ShotSegment> read_shot_list(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw VoradaFileNotFound(path);
    std::vector<ShotSegment> segments;
    std::string line;
    for (unsigned long line_number = 1; std::getline(in, line); ++line_number) {
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream fields(line);
        std::string first_text, last_text, kind, extra;
        if (!(fields >> first_text))
            continue;  // empty or comment
        auto bad = [&](const std::string& why) {
            return VoradaFileError(path, "line " + std::to_string(line_number) + ": " + why);
        };
        if (!(fields >> last_text >> kind) || (fields >> extra))
            throw bad("expected \"first last kind\"");
        auto number = [&](const std::string& text) {
            if (text.empty() || text.size() > 18 ||
                text.find_first_not_of("0123456789") != std::string::npos)
                throw bad("'" + text + "' is not a frame number");
            return std::stoull(text);
        };
        ShotSegment segment;
        segment.first = number(first_text);
        segment.last = number(last_text);
        if (kind != "shot" && kind != "blank")
            throw bad("kind '" + kind + "' is neither shot nor blank");
        segment.blank = kind == "blank";
        if (segment.last < segment.first)
            throw bad("last frame before first");
        if (!segments.empty() && segment.first != segments.back().last + 1)
            throw bad("segments must follow each other without gap or overlap");
        segments.push_back(segment);
    }
    if (in.bad())
        throw VoradaFileError(path, "cannot be read");
    if (segments.empty())
        throw VoradaFileError(path, "lists no segment");
    return segments;
}

Plan make_plan(std::uint64_t first_frame,
               std::uint64_t last_frame,
               std::uint64_t clip_frames,
               const std::vector<ShotSegment>& segments) {
    if (clip_frames == 0)
        throw VoradaError("make_plan: clips need at least one frame");
    if (last_frame < first_frame)
        throw VoradaError("make_plan: last frame before first");
    Plan plan;
    plan.first_frame = first_frame;
    plan.last_frame = last_frame;
    std::uint64_t segment_id = 0;
    auto cut = [&](std::uint64_t first, std::uint64_t last) {
        for (std::uint64_t start = first; start <= last; start += clip_frames) {
            Clip clip;
            clip.index = plan.clips.size();
            clip.first = start;
            clip.last = last - start + 1 > clip_frames ? start + clip_frames - 1 : last;
            clip.segment = segment_id;
            plan.clips.push_back(clip);
            if (clip.last == last)
                break;
        }
        ++segment_id;
    };
    // Walk the range; stretches no segment covers are segments of their own.
    std::uint64_t next = first_frame;
    for (const ShotSegment& segment : segments) {
        if (segment.last < next || next > last_frame)
            continue;
        if (segment.first > last_frame)
            break;
        if (segment.first > next) {
            cut(next, segment.first - 1);
            next = segment.first;
        }
        const std::uint64_t end = segment.last < last_frame ? segment.last : last_frame;
        cut(next, end);
        next = end + 1;
        if (end == last_frame)
            break;
    }
    if (next <= last_frame && (plan.clips.empty() || plan.clips.back().last < last_frame))
        cut(next, last_frame);
    return plan;
}

Plan plan_clips(const std::string& input_directory,
                std::uint64_t first_frame,
                std::uint64_t last_frame,
                std::uint64_t clip_frames) {
    const std::string path = input_directory + "/" + shot_list_name;
    std::vector<ShotSegment> segments;
    if (boost::filesystem::exists(path))
        segments = read_shot_list(path);
    return make_plan(first_frame, last_frame, clip_frames, segments);
}

std::string clip_directory(const std::string& output_directory, std::uint64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "%04llu", static_cast<unsigned long long>(index));
    return output_directory + "/clips/" + name;
}

}  // namespace clips
}  // namespace vorada
