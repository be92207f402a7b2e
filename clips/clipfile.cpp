#include "clips/clipfile.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <type_traits>

#include "common/errors.h"
#include "io/atomicfile.h"

namespace vorada {
namespace clips {

const char* const clip_summary_name = "regions.bin";

namespace {

constexpr char magic[8] = {'V', 'S', 'E', 'G', 'C', 'L', 'I', 'P'};
constexpr std::uint64_t version = 1;
constexpr std::uint64_t header_bytes = 8 + 8 + 12 * 8 + 3 * 8;
constexpr std::uint64_t region_fixed_bytes = 4 + 4 + 8 + 8 + 8;
constexpr std::uint64_t frame_bytes = 4 * 8;
constexpr std::uint64_t colour_bytes = 4 * 8;  // three channels and a weight
constexpr std::uint64_t link_bytes = 8;

class Out {
  public:
    template <typename T>
    void put(T value) {
        static_assert(std::is_arithmetic<T>::value, "plain numbers only");
        const std::size_t at = bytes.size();
        bytes.resize(at + sizeof(T));
        std::memcpy(bytes.data() + at, &value, sizeof(T));
    }
    std::vector<char> bytes;
};

class In {
  public:
    In(const std::string& file_path, std::vector<char> content)
        : path(file_path), bytes(std::move(content)) {}
    template <typename T>
    T get() {
        need(sizeof(T));
        T value;
        std::memcpy(&value, bytes.data() + at, sizeof(T));
        at += sizeof(T);
        return value;
    }
    /// Throws unless `count` items of `size` bytes remain.
    void need(std::uint64_t count, std::uint64_t size = 1) const {
        const std::uint64_t left = bytes.size() - at;
        if (count > left / size || count * size > left)
            fail("truncated (needs " + std::to_string(count) + " × " + std::to_string(size) +
                 " bytes at offset " + std::to_string(at) + ", " + std::to_string(left) + " left)");
    }
    std::uint64_t left() const { return bytes.size() - at; }
    [[noreturn]] void fail(const std::string& reason) const { throw VoradaFileError(path, reason); }

  private:
    std::string path;
    std::vector<char> bytes;
    std::uint64_t at = 0;
};

void check_summary(const ClipSummary& s, const std::function<void(const std::string&)>& fail) {
    if (s.width == 0 || s.height == 0 || s.frames == 0)
        fail("empty clip");
    if (s.num_colors == 0)
        fail("no colours per signature");
    if (s.regions.size() > s.leaves + s.merges)
        fail("more regions than the clip's tree holds");
    std::uint64_t previous = 0;
    for (std::size_t i = 0; i < s.regions.size(); ++i) {
        const ClipRegion& r = s.regions[i];
        const std::string which = "region " + std::to_string(r.label) + ": ";
        if (i > 0 && r.label <= previous)
            fail(which + "labels not ascending");
        previous = r.label;
        if (r.label >= s.leaves + s.merges)
            fail(which + "label beyond the clip's tree");
        if (r.first_frame < 0 || r.last_frame < r.first_frame ||
            static_cast<std::uint64_t>(r.last_frame) >= s.frames)
            fail(which + "span outside the clip");
        if (r.frames.size() != static_cast<std::uint64_t>(r.last_frame - r.first_frame + 1))
            fail(which + "frame records do not match its span");
        if (r.colours.size() != r.weights.size() || r.colours.size() > s.num_colors)
            fail(which + "bad colour signature size");
    }
    std::set<std::uint32_t> labels;
    for (const ClipRegion& r : s.regions) labels.insert(r.label);
    for (const auto& link : s.links)
        if (link.first >= link.second || !labels.count(link.first) || !labels.count(link.second))
            fail("link " + std::to_string(link.first) + "-" + std::to_string(link.second) +
                 " is not between two listed regions, lower label first");
}

}  // namespace

void write_clip_summary(const std::string& path, const ClipSummary& s) {
    check_summary(s, [&](const std::string& why) {
        throw VoradaError("write_clip_summary: " + path + ": " + why);
    });
    Out out;
    out.bytes.insert(out.bytes.end(), magic, magic + 8);
    out.put<std::uint64_t>(version);
    for (std::uint64_t value :
         {s.clip, s.segment, s.first_frame, s.frames, s.width, s.height, s.leaves, s.merges,
          s.num_colors, s.run_voxels, static_cast<std::uint64_t>(s.regions.size()),
          static_cast<std::uint64_t>(s.links.size())})
        out.put(value);
    out.put(s.color_scale);
    out.put(s.motion_scale);
    out.put(s.area_fraction);
    for (const ClipRegion& r : s.regions) {
        out.put(r.label);
        out.put(static_cast<std::uint32_t>(r.colours.size()));
        out.put(r.area);
        out.put(r.first_frame);
        out.put(r.last_frame);
        for (const gma::FlowFrame& f : r.frames) {
            out.put(f.flow_x);
            out.put(f.flow_y);
            out.put(f.reliability);
            out.put(f.points);
        }
        for (const Eigen::Vector3d& c : r.colours)
            for (int k = 0; k < 3; ++k) out.put(c(k));
        for (double w : r.weights) out.put(w);
    }
    for (const auto& link : s.links) {
        out.put(link.first);
        out.put(link.second);
    }
    io::write_file_atomically(path, out.bytes.data(), out.bytes.size());
}

ClipSummary read_clip_summary(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw VoradaFileNotFound(path);
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0)
        throw VoradaFileError(path, "cannot be read");
    if (static_cast<std::uint64_t>(size) < header_bytes)
        throw VoradaFileError(path,
                              "too short for a clip summary (" + std::to_string(size) + " bytes)");
    std::vector<char> content(static_cast<std::size_t>(size));
    file.seekg(0);
    if (!file.read(content.data(), size))
        throw VoradaFileError(path, "cannot be read");
    if (std::memcmp(content.data(), magic, 8) != 0)
        throw VoradaFileError(path, "not a clip summary (bad magic)");
    In in(path, std::move(content));
    for (int i = 0; i < 8; ++i) in.get<char>();
    const std::uint64_t file_version = in.get<std::uint64_t>();
    if (file_version != version)
        in.fail("clip summary version " + std::to_string(file_version) + ", this program reads " +
                std::to_string(version));
    ClipSummary s;
    s.clip = in.get<std::uint64_t>();
    s.segment = in.get<std::uint64_t>();
    s.first_frame = in.get<std::uint64_t>();
    s.frames = in.get<std::uint64_t>();
    s.width = in.get<std::uint64_t>();
    s.height = in.get<std::uint64_t>();
    s.leaves = in.get<std::uint64_t>();
    s.merges = in.get<std::uint64_t>();
    s.num_colors = in.get<std::uint64_t>();
    s.run_voxels = in.get<std::uint64_t>();
    const std::uint64_t region_count = in.get<std::uint64_t>();
    const std::uint64_t link_count = in.get<std::uint64_t>();
    s.color_scale = in.get<double>();
    s.motion_scale = in.get<double>();
    s.area_fraction = in.get<double>();
    if (s.leaves + s.merges < s.leaves || s.leaves > 0xffffffffull ||
        s.leaves + s.merges > 0xffffffffull)
        in.fail("label counts beyond 32 bits");
    // The smallest a region record can be is its fixed part plus one frame.
    in.need(region_count, region_fixed_bytes + frame_bytes);
    s.regions.resize(region_count);
    for (ClipRegion& r : s.regions) {
        r.label = in.get<std::uint32_t>();
        const std::uint32_t colour_count = in.get<std::uint32_t>();
        r.area = in.get<std::uint64_t>();
        r.first_frame = in.get<std::int64_t>();
        r.last_frame = in.get<std::int64_t>();
        if (r.first_frame < 0 || r.last_frame < r.first_frame ||
            static_cast<std::uint64_t>(r.last_frame) >= s.frames)
            in.fail("region " + std::to_string(r.label) + ": span outside the clip");
        const std::uint64_t span = static_cast<std::uint64_t>(r.last_frame - r.first_frame) + 1;
        in.need(span, frame_bytes);
        r.frames.resize(span);
        for (gma::FlowFrame& f : r.frames) {
            f.flow_x = in.get<double>();
            f.flow_y = in.get<double>();
            f.reliability = in.get<double>();
            f.points = in.get<double>();
        }
        if (colour_count > s.num_colors)
            in.fail("region " + std::to_string(r.label) + ": more colours than num_colors");
        in.need(colour_count, colour_bytes);
        r.colours.resize(colour_count);
        for (Eigen::Vector3d& c : r.colours)
            for (int k = 0; k < 3; ++k) c(k) = in.get<double>();
        r.weights.resize(colour_count);
        for (double& w : r.weights) w = in.get<double>();
    }
    in.need(link_count, link_bytes);
    s.links.resize(link_count);
    for (auto& link : s.links) {
        link.first = in.get<std::uint32_t>();
        link.second = in.get<std::uint32_t>();
    }
    if (in.left() != 0)
        in.fail(std::to_string(in.left()) + " bytes after the last link");
    check_summary(s, [&](const std::string& why) { in.fail(why); });
    return s;
}

}  // namespace clips
}  // namespace vorada
