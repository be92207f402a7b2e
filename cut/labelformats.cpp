#include "cut/labelformats.h"

#include <algorithm>
#include <limits>

#include "common/errors.h"
#include "image/imagegray.h"
#include "io/atomicfile.h"
#include "io/segmentation.h"
#include "io/writeimage.h"

namespace vorada {
namespace cut {

namespace {

void write_png16(const std::vector<std::uint32_t>& compact,
                 std::size_t count,
                 const io::TreeFile& tree,
                 const std::string& directory) {
    if (count > max_png16_regions) {
        throw VoradaError("--format png16 holds at most 65535 regions, this cut has " +
                          std::to_string(count) + " (use --format npy or sgm)");
    }
    const std::size_t frame_points = static_cast<std::size_t>(tree.width * tree.height);
    ImageGray<unsigned short> image(tree.width, tree.height);
    unsigned short* pixels = image.channels[0].data();
    for (std::uint64_t t = 0; t < tree.frames; ++t) {
        const std::uint32_t* frame = compact.data() + t * frame_points;
        for (std::size_t i = 0; i < frame_points; ++i) {
            pixels[i] = static_cast<unsigned short>(frame[i] + 1);
        }
        // Label images compress well at the cheaper setting.
        io::WriteImage(gma::segmentation_frame_path(directory, t), io::fast_image_quality)
            .write(image);
    }
}

void write_npy(const std::vector<std::uint32_t>& compact,
               const io::TreeFile& tree,
               const std::string& directory) {
    const std::string header = npy_header(tree.frames, tree.height, tree.width);
    io::AtomicFile file(directory + "/labels.npy");
    file.write(header.data(), header.size());
    // Little-endian whatever the machine, a block at a time.
    std::vector<unsigned char> block;
    constexpr std::size_t block_values = std::size_t(1) << 18;
    for (std::size_t start = 0; start < compact.size(); start += block_values) {
        const std::size_t end = std::min(compact.size(), start + block_values);
        block.resize(4 * (end - start));
        for (std::size_t v = start; v < end; ++v) {
            unsigned char* bytes = &block[4 * (v - start)];
            for (int b = 0; b < 4; ++b) {
                bytes[b] = static_cast<unsigned char>(compact[v] >> (8 * b));
            }
        }
        file.write(block.data(), block.size());
    }
    file.commit();
}

}  // namespace

std::vector<std::uint32_t> compact_labels(const std::vector<unsigned long long>& labels,
                                          std::size_t label_bound,
                                          std::size_t& count) {
    constexpr std::uint32_t unseen = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> index_of(label_bound, unseen);
    std::vector<std::uint32_t> compact(labels.size());
    std::uint32_t next = 0;
    for (std::size_t v = 0; v < labels.size(); ++v) {
        std::uint32_t& index = index_of.at(static_cast<std::size_t>(labels[v]));
        if (index == unseen) {
            index = next++;
        }
        compact[v] = index;
    }
    count = next;
    return compact;
}

std::string npy_header(std::uint64_t frames, std::uint64_t height, std::uint64_t width) {
    std::string dictionary = "{'descr': '<i4', 'fortran_order': False, 'shape': (" +
                             std::to_string(frames) + ", " + std::to_string(height) + ", " +
                             std::to_string(width) + "), }";
    // Magic (6 bytes), version (2), header length (2), then the dictionary ended by a newline.
    const std::size_t unpadded = 10 + dictionary.size() + 1;
    dictionary.append((64 - unpadded % 64) % 64, ' ');
    dictionary += '\n';
    const auto length = static_cast<std::uint16_t>(dictionary.size());
    std::string header("\x93NUMPY\x01\x00", 8);
    header += static_cast<char>(length & 0xff);
    header += static_cast<char>(length >> 8);
    return header + dictionary;
}

void write_labels(LabelFormat format,
                  const std::vector<std::uint32_t>& compact,
                  std::size_t count,
                  const io::TreeFile& tree,
                  const std::string& directory) {
    if (format == LabelFormat::png16) {
        write_png16(compact, count, tree, directory);
    } else if (format == LabelFormat::npy) {
        write_npy(compact, tree, directory);
    } else {
        throw VoradaError("write_labels: frames.sgm is written by the segmentation writer");
    }
}

}  // namespace cut
}  // namespace vorada
