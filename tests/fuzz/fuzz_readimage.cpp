// libFuzzer target for partition, mask and YUV files. The first byte picks the container and
// the file name; a read either fails with one of the library's or Magick++'s errors, leaving the
// container as it was, or gives a container of consistent size (a mask of only the values the
// grey file holds as non-zero).

// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on

#include <cstdio>
#include <string>

#include "common/errors.h"
#include "image/imagepartition.h"
#include "io/readimage.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

template <typename Container>
bool read(const std::string& path, Container& container) {
    try {
        vorada::io::ReadImage(path).read(container);
        return true;
    } catch (const vorada::BacktracedVoradaException&) {
    } catch (const Magick::Exception&) {
    }
    return false;
}

template <typename Container>
void check_channels(const Container& container, std::size_t channels) {
    const auto extents = container.channels[0].extent_list();
    for (std::size_t c = 1; c < channels; ++c) {
        fuzz::check(container.channels[c].extent_list() == extents);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char* names[] = {"f.prl", "f.png", "f.pgm", "f.ppm", "f.bmp", "f.tif"};
    static const bool ready = [] {
        Magick::InitializeMagick(nullptr);
        // Small images only: the fuzzer should spend its time on the readers, not on decoding.
        Magick::ResourceLimits::width(256);
        Magick::ResourceLimits::height(256);
        Magick::ResourceLimits::area(1 << 16);
        Magick::ResourceLimits::memory(1 << 24);
        Magick::ResourceLimits::disk(0);
        return true;
    }();
    if (!ready || size == 0) {
        return 0;
    }
    const std::string path = fuzz::scratch("fuzz_readimage", names[data[0] % 6]);
    fuzz::write_file(path, data + 1, size - 1);
    switch (data[0] / 6 % 3) {
        case 0: {
            vorada::ImaVol<unsigned int, 1, 2> partition;
            partition.channels[0].resize(std::vector<unsigned long long>{3, 2});
            if (!read(path, partition)) {
                fuzz::check(partition.channels[0].num_elements() == 6);
            }
            break;
        }
        case 1: {
            vorada::ImaVolMask<2> mask;
            vorada::ImageGray<unsigned char> grey;
            const bool as_mask = read(path, mask);
            if (as_mask && read(path, grey)) {
                fuzz::check(mask.channels[0].extent_list() == grey.channels[0].extent_list());
                for (std::size_t i = 0; i < grey.channels[0].num_elements(); ++i) {
                    fuzz::check(mask.channels[0].data()[i] == (grey.channels[0].data()[i] != 0));
                }
            }
            break;
        }
        default: {
            vorada::ImageYUV<unsigned char> yuv;
            if (read(path, yuv)) {
                check_channels(yuv, 3);
            }
            break;
        }
    }
    std::remove(path.c_str());
    return 0;
}
