#include "cut/labelformats.h"

#include "common/errors.h"
#include "image/imagegray.h"
#include "io/segmentation.h"
#include "io/writeimage.h"

namespace vorada {
namespace cut {

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

LabelFrameWriter::LabelFrameWriter(LabelFormat label_format,
                                   const std::string& directory,
                                   std::uint64_t width,
                                   std::uint64_t height,
                                   std::uint64_t frames)
    : format(label_format),
      folder(directory),
      frame_width(width),
      frame_height(height),
      frame_count(frames) {
    if (format == LabelFormat::npy) {
        // The shape is known beforehand: the header first, then the frames as they come.
        const std::string header = npy_header(frames, height, width);
        npy = std::make_unique<io::AtomicFile>(directory + "/labels.npy");
        npy->write(header.data(), header.size());
    } else if (format != LabelFormat::png16) {
        throw VoradaError("LabelFrameWriter: frames.sgm is written by the segmentation writer");
    }
}

LabelFrameWriter::~LabelFrameWriter() = default;

void LabelFrameWriter::write_frame(const std::uint32_t* compact) {
    if (next_frame >= frame_count) {
        throw VoradaError("LabelFrameWriter: more frames than the volume has");
    }
    const std::size_t pixels = static_cast<std::size_t>(frame_width * frame_height);
    if (format == LabelFormat::npy) {
        // Little-endian whatever the machine.
        bytes.resize(4 * pixels);
        for (std::size_t i = 0; i < pixels; ++i) {
            for (int b = 0; b < 4; ++b) {
                bytes[4 * i + b] = static_cast<unsigned char>(compact[i] >> (8 * b));
            }
        }
        npy->write(bytes.data(), bytes.size());
    } else {
        ImageGray<unsigned short> image(frame_width, frame_height);
        unsigned short* values = image.channels[0].data();
        for (std::size_t i = 0; i < pixels; ++i) {
            if (compact[i] >= max_png16_regions) {
                throw VoradaError(
                    "--format png16 holds at most 65535 regions, this cut has more "
                    "(use --format npy or sgm)");
            }
            values[i] = static_cast<unsigned short>(compact[i] + 1);
        }
        // Label images compress well at the cheaper setting.
        io::WriteImage(gma::segmentation_frame_path(folder, next_frame), io::fast_image_quality)
            .write(image);
    }
    ++next_frame;
}

void LabelFrameWriter::commit() {
    if (next_frame != frame_count) {
        throw VoradaError("LabelFrameWriter: frames missing");
    }
    if (npy) {
        npy->commit();
    }
}

}  // namespace cut
}  // namespace vorada
