#pragma once
// Output of one segmentation: every region painted in its own random colour, one PNG per frame,
// and the raw label file "frames.sgm" (X, Y, T, then every voxel's label, unsigned 64-bit).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/errors.h"
#include "io/atomicfile.h"
#include "io/imagewritequeue.h"
#include "io/writeimage.h"
#include "signals/labelindexmap.h"
#include "signals/videosignal.h"

namespace vorada {
namespace gma {

/// Most distinct labels a segmentation can show: one distinct three-byte colour each.
constexpr std::size_t max_segmentation_colors = 16777216;

/// Compact colour index of every voxel (raster order): labels numbered 0, 1, 2, … by first
/// appearance. `color_count` receives the number of distinct labels K.
template <typename LabelSignal>
std::vector<std::uint32_t> compact_segment_indices(const LabelSignal& labels,
                                                   std::size_t& color_count) {
    LabelIndexMap compact;
    compact.reserve_dense(dense_label_bound(labels.values));
    std::vector<std::uint32_t> indices(labels.values.size());
    std::uint32_t next_index = 0;
    for (std::size_t v = 0; v < labels.values.size(); ++v) {
        unsigned long long index = compact.find(labels.values[v]);
        if (index == LabelIndexMap::absent) {
            if (next_index == max_segmentation_colors) {
                throw VoradaError(
                    "Segmentation: more than 16777216 regions, too many for distinct colours");
            }
            index = next_index++;
            compact.insert(labels.values[v], index);
        }
        indices[v] = static_cast<std::uint32_t>(index);
    }
    color_count = next_index;
    return indices;
}

/// K distinct colours, three bytes each (channel 0, 1, 2), each byte `draw() % 256` in channel
/// order; a candidate equal to an earlier colour is drawn again whole.
inline std::vector<std::uint8_t> draw_segment_colors(std::size_t count,
                                                     const std::function<int()>& draw = std::rand) {
    if (count > max_segmentation_colors) {
        throw VoradaError(
            "Segmentation: more than 16777216 regions, too many for distinct colours");
    }
    std::vector<std::uint8_t> colors(3 * count);
    std::unordered_set<std::uint32_t> used;
    used.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        for (;;) {
            const std::uint8_t c0 = static_cast<std::uint8_t>(draw() % 256);
            const std::uint8_t c1 = static_cast<std::uint8_t>(draw() % 256);
            const std::uint8_t c2 = static_cast<std::uint8_t>(draw() % 256);
            const std::uint32_t key = (std::uint32_t(c0) << 16) | (std::uint32_t(c1) << 8) | c2;
            if (used.insert(key).second) {
                colors[3 * i] = c0;
                colors[3 * i + 1] = c1;
                colors[3 * i + 2] = c2;
                break;
            }
        }
    }
    return colors;
}

/// Frame t of the segmentation as an 8-bit RGB image: every pixel the colour of its compact
/// index (pixel i of the frame is voxel t·X·Y + i).
template <typename VideoType>
ImageRGB<unsigned char> paint_segment_frame(const VideoType& video,
                                            const std::vector<std::uint32_t>& indices,
                                            const std::vector<std::uint8_t>& colors,
                                            unsigned long long t) {
    const auto frame_points = static_cast<std::size_t>(video.size(0) * video.size(1));
    const std::size_t pixel_count = static_cast<std::size_t>(video.width * video.height);
    if (indices.size() != video.point_count() ||
        t >= static_cast<unsigned long long>(video.size(2)) || pixel_count > frame_points) {
        throw VoradaError("Segmentation: the label volume and the video differ in size");
    }
    ImageRGB<unsigned char> image(video.width, video.height);
    unsigned char* red = image.channels[0].data();
    unsigned char* green = image.channels[1].data();
    unsigned char* blue = image.channels[2].data();
    const std::uint32_t* frame = indices.data() + static_cast<std::size_t>(t) * frame_points;
    for (std::size_t i = 0; i < pixel_count; ++i) {
        const std::uint8_t* color = &colors[3 * static_cast<std::size_t>(frame[i])];
        red[i] = color[0];
        green[i] = color[1];
        blue[i] = color[2];
    }
    return image;
}

/// Writes directory + "/frames.sgm": width, height, frames of `video`, then every label of
/// `labels` in storage order, all unsigned 64-bit in native byte order, in one block.
template <typename LabelSignal, typename VideoType>
void write_label_file(const LabelSignal& labels,
                      const VideoType& video,
                      const std::string& directory) {
    const std::string path = directory + "/frames.sgm";
    const std::uint64_t header[3] = {video.width, video.height, video.frames};
    if (labels.values.size() != video.width * video.height * video.frames) {
        throw VoradaError("Segmentation: the label volume and the video differ in size");
    }
    // Under a temporary name until complete: a cut file never passes for a segmentation.
    io::AtomicFile file(path);
    file.bypass_cache();  // written once, read by others later: no use keeping it in memory
    file.write(header, sizeof(header));
    file.write(labels.values.data(), sizeof(std::uint64_t) * labels.values.size());
    file.commit();
}

/// Frame image name: directory + "/" + t zero-padded to five digits + ".png".
inline std::string segmentation_frame_path(const std::string& directory, unsigned long long t) {
    char name[32];
    std::snprintf(name, sizeof(name), "/%05llu.png", t);
    return directory + name;
}

/// Writes one segmentation of `current_labels` into `directory` (which must exist): a PNG per
/// frame with a random colour per region (colours follow first appearance in raster order and
/// continue the process's rand() sequence), then the label file frames.sgm. With a queue the
/// PNG files are written by the queue.
template <typename LabelSignal, typename VideoType>
void write_segmentation(const LabelSignal& current_labels,
                        const VideoType& video,
                        const std::string& directory,
                        io::ImageWriteQueue* queue = nullptr) {
    if (current_labels.size != video.size) {
        throw VoradaError("Segmentation: the label volume and the video differ in size");
    }
    if (queue && !queue->writes_images()) {
        write_label_file(current_labels, video, directory);
        return;
    }
    std::size_t color_count = 0;
    const std::vector<std::uint32_t> indices = compact_segment_indices(current_labels, color_count);
    const std::vector<std::uint8_t> colors = draw_segment_colors(color_count);
    for (long long t = 0; t < video.size(2); ++t) {
        const auto frame = static_cast<unsigned long long>(t);
        ImageRGB<unsigned char> image = paint_segment_frame(video, indices, colors, frame);
        const std::string path = segmentation_frame_path(directory, frame);
        if (queue) {
            queue->write(path, std::move(image));
        } else {
            io::WriteImage(path).write(image);
        }
    }
    write_label_file(current_labels, video, directory);
}

/// A segmentation written a frame at a time, for label volumes never whole in memory: the same
/// files write_segmentation writes for the whole volume (with a queue), given the number of
/// distinct labels beforehand (the colours are drawn at construction, as there).
class SegmentationFrameWriter {
  public:
    /// `label_count`: distinct labels of the whole volume; `queue` may not be null.
    SegmentationFrameWriter(const std::string& directory,
                            std::uint64_t width,
                            std::uint64_t height,
                            std::uint64_t frames,
                            std::size_t label_count,
                            io::ImageWriteQueue* queue)
        : folder(directory),
          frame_width(width),
          frame_height(height),
          frame_count(frames),
          writer(queue),
          file(directory + "/frames.sgm") {
        file.bypass_cache();  // written once, read by others later
        const std::uint64_t header[3] = {width, height, frames};
        file.write(header, sizeof(header));
        if (writes_images()) {
            colors = draw_segment_colors(label_count);
        }
    }

    /// Whether frame images are written (else write_frame needs no compact indices).
    bool writes_images() const { return writer->writes_images(); }

    /// The next frame: every pixel's label and, when images are written, its compact index
    /// (labels numbered by first appearance in raster order over the whole volume).
    void write_frame(const std::uint64_t* labels, const std::uint32_t* compact) {
        if (next_frame >= frame_count) {
            throw VoradaError("Segmentation: more frames than the volume has");
        }
        const std::size_t pixels = static_cast<std::size_t>(frame_width * frame_height);
        file.write(labels, sizeof(std::uint64_t) * pixels);
        if (writes_images()) {
            ImageRGB<unsigned char> image(frame_width, frame_height);
            unsigned char* red = image.channels[0].data();
            unsigned char* green = image.channels[1].data();
            unsigned char* blue = image.channels[2].data();
            for (std::size_t i = 0; i < pixels; ++i) {
                if (3 * std::size_t(compact[i]) >= colors.size()) {
                    throw VoradaError("Segmentation: more labels than announced");
                }
                const std::uint8_t* color = &colors[3 * static_cast<std::size_t>(compact[i])];
                red[i] = color[0];
                green[i] = color[1];
                blue[i] = color[2];
            }
            writer->write(segmentation_frame_path(folder, next_frame), std::move(image));
        }
        ++next_frame;
    }

    /// Gives frames.sgm its name once every frame is written.
    void commit() {
        if (next_frame != frame_count) {
            throw VoradaError("Segmentation: frames missing");
        }
        file.commit();
    }

  private:
    std::string folder;
    std::uint64_t frame_width, frame_height, frame_count;
    io::ImageWriteQueue* writer;
    io::AtomicFile file;
    std::vector<std::uint8_t> colors;
    std::uint64_t next_frame = 0;
};

}  // namespace gma
}  // namespace vorada
