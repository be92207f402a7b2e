// libFuzzer target for clip summaries: a read either fails with the reader's own error, naming
// the file, or returns a summary whose records fit the file and each other.

#include <cstring>
#include <string>

#include "clips/clipfile.h"
#include "common/errors.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::scratch("fuzz_clipfile", "regions.bin");
    fuzz::write_file(path, data, size);
    vorada::clips::ClipSummary summary;
    try {
        summary = vorada::clips::read_clip_summary(path);
    } catch (const vorada::VoradaFileError& error) {
        fuzz::check(std::strstr(error.what(), path.c_str()) != nullptr);
        return 0;
    }
    std::size_t bytes = 136 + 8 * summary.links.size();
    for (const vorada::clips::ClipRegion& region : summary.regions) {
        fuzz::check(region.frames.size() ==
                    static_cast<std::size_t>(region.last_frame - region.first_frame + 1));
        fuzz::check(region.colours.size() == region.weights.size());
        fuzz::check(region.colours.size() <= summary.num_colors);
        bytes += 32 + 32 * region.frames.size() + 32 * region.colours.size();
    }
    fuzz::check(bytes == size);
    return 0;
}
