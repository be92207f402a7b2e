// libFuzzer target for clip indexes: against a fixed tree, a read either fails with the reader's
// own error, naming the index, or returns ranges that cover the tree; a replay of such an index
// fails the same way or gives, at every cut, regions that are labels of the tree.

#include <cstring>
#include <string>
#include <vector>

#include "common/errors.h"
#include "io/cliptree.h"
#include "io/treefile.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

// A 3×1 video of 4 frames: clip 0 holds frames 0–1 and leaves 0–2, clip 1 frames 2–3 and leaves
// 3–5; merge 0 is clip 0's, merges 1–2 clip 1's, merges 3–4 the join's.
const std::string& tree_path() {
    static const std::string path = [] {
        const std::string file = fuzz::scratch("fuzz_cliptree", "tree.bpt");
        const std::vector<std::uint64_t> leaf_map = {0, 1, 2, 1, 0, 2, 3, 4, 5, 5, 4, 3};
        vorada::io::TreeFileWriter writer(file, 3, 1, 4, leaf_map.data(), 6);
        for (const vorada::io::TreeMerge& merge :
             {vorada::io::TreeMerge{6, 0, 1, 5, 0.5}, vorada::io::TreeMerge{7, 3, 4, 4, 0.25},
              vorada::io::TreeMerge{8, 7, 5, 3, 2.0}, vorada::io::TreeMerge{9, 6, 8, 2, 1.0},
              vorada::io::TreeMerge{10, 9, 2, 1, 3.0}}) {
            writer.add(merge);
        }
        writer.finish();
        return file;
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::scratch("fuzz_cliptree", "clips.txt");
    fuzz::write_file(path, data, size);
    vorada::io::TreeFileReader reader(tree_path());
    vorada::io::ClipIndex index;
    try {
        index = vorada::io::read_clip_index(path, reader);
    } catch (const vorada::VoradaFileError& error) {
        fuzz::check(std::strstr(error.what(), path.c_str()) != nullptr);
        return 0;
    }
    std::uint64_t frames = 0, leaves = 0, merges = 0;
    for (const vorada::io::TreeClip& clip : index.clips) {
        fuzz::check(clip.first_frame == frames && clip.frames > 0);
        fuzz::check(clip.first_leaf == leaves && clip.first_merge == merges);
        frames += clip.frames;
        leaves += clip.leaves;
        merges += clip.merges;
    }
    fuzz::check(frames == 4 && leaves == 6 && merges + index.join_merges == 5);
    try {
        vorada::io::ClipReplay replay(reader, index, path);
        for (std::uint64_t cut = 0; cut <= 5; ++cut) {
            replay.cut(cut);
            for (std::uint64_t t = 0; t < 4; ++t) {
                for (const std::uint32_t region : replay.frame_regions(t)) {
                    fuzz::check(region < 11);
                }
            }
        }
    } catch (const vorada::VoradaFileError& error) {
        fuzz::check(std::strstr(error.what(), path.c_str()) != nullptr ||
                    std::strstr(error.what(), tree_path().c_str()) != nullptr);
    }
    return 0;
}
