// libFuzzer target for tree files: a read either fails with the reader's own error or returns
// a tree whose leaves and merges are consistent, from a file no smaller than what it holds.

#include <cstring>
#include <string>

#include "common/errors.h"
#include "io/treefile.h"
#include "tests/fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::scratch("fuzz_treefile", "tree.bpt");
    fuzz::write_file(path, data, size);
    vorada::io::TreeFile tree;
    try {
        tree = vorada::io::read_tree_file(path);
    } catch (const vorada::VoradaFileError& error) {
        fuzz::check(std::strstr(error.what(), path.c_str()) != nullptr);
        return 0;
    }
    fuzz::check(tree.leaves.size() == tree.width * tree.height * tree.frames);
    fuzz::check(4 * tree.leaves.size() + 24 * tree.merges.size() <= size);
    fuzz::check(tree.merges.size() < tree.leaf_count);
    for (std::uint32_t leaf : tree.leaves) {
        fuzz::check(leaf < tree.leaf_count);
    }
    for (std::size_t i = 0; i < tree.merges.size(); ++i) {
        fuzz::check(tree.merges[i].label == tree.leaf_count + i);
        fuzz::check(tree.merges[i].first < tree.merges[i].label &&
                    tree.merges[i].second < tree.merges[i].label);
    }
    return 0;
}
