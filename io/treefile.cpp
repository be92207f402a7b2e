#include "io/treefile.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "common/errors.h"

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "tree files are written in the machine's byte order, which must be little-endian"
#endif

namespace vorada {
namespace io {

namespace {

constexpr char tree_magic[8] = {'V', 'S', 'E', 'G', 'B', 'P', 'T', '1'};
constexpr std::size_t leaf_chunk = 1 << 16;

struct Header {
    char magic[8];
    std::uint64_t width, height, frames, leaf_count, merge_count, reserved;
};
static_assert(sizeof(Header) == tree_file_header_bytes, "header layout");

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

TreeFileWriter::TreeFileWriter(const std::string& path, std::uint64_t width, std::uint64_t height,
                               std::uint64_t frames, const std::uint64_t* leaves,
                               std::uint64_t leaf_count)
    : final_path(path), temporary(path + ".partial") {
    if (leaf_count > std::numeric_limits<std::uint32_t>::max()) {
        throw VoradaFileError(path, "more leaves than a tree file can number");
    }
    unfinished = std::make_unique<UnfinishedFile>(temporary);
    file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        throw VoradaFileError(temporary, std::string("cannot open for writing: ") +
                                             std::strerror(errno));
    }
    Header header{};
    std::memcpy(header.magic, tree_magic, sizeof(tree_magic));
    header.width = width;
    header.height = height;
    header.frames = frames;
    header.leaf_count = leaf_count;
    if (std::fwrite(&header, sizeof(header), 1, file) != 1) {
        _fail("could not be written completely", errno);
    }
    const std::uint64_t voxels = width * height * frames;
    std::vector<std::uint32_t> chunk;
    chunk.reserve(leaf_chunk + 1);
    for (std::uint64_t start = 0; start < voxels; start += leaf_chunk) {
        const std::uint64_t end = std::min<std::uint64_t>(voxels, start + leaf_chunk);
        chunk.clear();
        for (std::uint64_t v = start; v < end; ++v) {
            if (leaves[v] >= leaf_count) {
                _fail("voxel " + std::to_string(v) + " has leaf " + std::to_string(leaves[v]) +
                      " of " + std::to_string(leaf_count));
            }
            chunk.push_back(static_cast<std::uint32_t>(leaves[v]));
        }
        if (end == voxels && voxels % 2) {
            chunk.push_back(0);
        }
        if (std::fwrite(chunk.data(), sizeof(std::uint32_t), chunk.size(), file) != chunk.size()) {
            _fail("could not be written completely", errno);
        }
    }
}

TreeFileWriter::~TreeFileWriter() {
    if (file) {
        std::fclose(file);
        std::remove(temporary.c_str());
    }
}

void TreeFileWriter::_fail(const std::string& reason, int error) {
    // A failed write says why (a full disk, say).
    const std::string cause = error != 0 ? std::string(": ") + std::strerror(error) : "";
    std::fclose(file);
    file = nullptr;
    std::remove(temporary.c_str());
    throw VoradaFileError(temporary, reason + cause);
}

void TreeFileWriter::add(const TreeMerge& merge) {
    if (!file) {
        throw VoradaError("Tree file: merge added after the file was finished");
    }
    if (std::fwrite(&merge, sizeof(merge), 1, file) != 1) {
        _fail("could not be written completely", errno);
    }
    ++merge_count;
}

void TreeFileWriter::finish() {
    if (!file) {
        throw VoradaError("Tree file: finished twice");
    }
    if (std::fseek(file, offsetof(Header, merge_count), SEEK_SET) != 0 ||
        std::fwrite(&merge_count, sizeof(merge_count), 1, file) != 1) {
        _fail("could not be written completely", errno);
    }
    // The data reach the disk before the name does (see AtomicFile).
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0 && flushed;
    file = nullptr;
    if (!closed) {
        const std::string cause = std::strerror(errno);
        std::remove(temporary.c_str());
        throw VoradaFileError(temporary, "could not be written completely: " + cause);
    }
    if (std::rename(temporary.c_str(), final_path.c_str()) != 0) {
        const std::string reason = std::string("cannot rename into place: ") + std::strerror(errno);
        std::remove(temporary.c_str());
        throw VoradaFileError(final_path, reason);
    }
    unfinished.reset();
}

TreeFile read_tree_file(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw VoradaFileNotFound(path);
    }
    auto corrupt = [&path](const std::string& reason) { return VoradaFileError(path, reason); };
    if (std::fseek(file.get(), 0, SEEK_END) != 0) {
        throw corrupt("cannot be read");
    }
    const long end = std::ftell(file.get());
    std::rewind(file.get());
    if (end < 0) {
        throw corrupt("cannot be read");
    }
    const auto size = static_cast<std::uint64_t>(end);
    Header header{};
    if (size < sizeof(header) || std::fread(&header, sizeof(header), 1, file.get()) != 1) {
        throw corrupt("not a tree file (shorter than its header)");
    }
    if (std::memcmp(header.magic, tree_magic, sizeof(tree_magic)) != 0) {
        throw corrupt("not a tree file (wrong magic number)");
    }
    // The products are checked for overflow: a header whose product wraps to a small number
    // would pass for a small video.
    const std::uint64_t limit = std::uint64_t(1) << 40;
    std::uint64_t area = 0;
    std::uint64_t voxels = 0;
    if (header.width == 0 || header.height == 0 || header.frames == 0 ||
        __builtin_mul_overflow(header.width, header.height, &area) || area > limit ||
        __builtin_mul_overflow(area, header.frames, &voxels) || voxels > limit) {
        throw corrupt("implausible video size in the header");
    }
    if (header.leaf_count == 0 || header.leaf_count > voxels ||
        header.merge_count >= header.leaf_count) {
        throw corrupt("implausible leaf or merge count in the header");
    }
    const std::uint64_t expected = tree_file_merges_offset(voxels) + sizeof(TreeMerge) * header.merge_count;
    if (size < expected) {
        throw corrupt("truncated: " + std::to_string(size) + " bytes, the header announces " +
                      std::to_string(expected));
    }
    if (size > expected) {
        throw corrupt(std::to_string(size - expected) + " bytes beyond the announced end");
    }
    TreeFile tree;
    tree.width = header.width;
    tree.height = header.height;
    tree.frames = header.frames;
    tree.leaf_count = header.leaf_count;
    tree.leaves.resize(static_cast<std::size_t>(voxels + voxels % 2));
    tree.merges.resize(static_cast<std::size_t>(header.merge_count));
    if (std::fread(tree.leaves.data(), sizeof(std::uint32_t), tree.leaves.size(), file.get()) !=
            tree.leaves.size() ||
        std::fread(tree.merges.data(), sizeof(TreeMerge), tree.merges.size(), file.get()) !=
            tree.merges.size()) {
        throw corrupt("cannot be read");
    }
    tree.leaves.resize(static_cast<std::size_t>(voxels));
    for (std::size_t v = 0; v < tree.leaves.size(); ++v) {
        if (tree.leaves[v] >= header.leaf_count) {
            throw corrupt("voxel " + std::to_string(v) + " names leaf " +
                          std::to_string(tree.leaves[v]) + ", beyond the " +
                          std::to_string(header.leaf_count) + " leaves");
        }
    }
    // Each merge joins two regions present at that moment into the next label.
    std::vector<unsigned char> merged(static_cast<std::size_t>(header.leaf_count + header.merge_count), 0);
    for (std::size_t i = 0; i < tree.merges.size(); ++i) {
        const TreeMerge& merge = tree.merges[i];
        const std::uint64_t label = header.leaf_count + i;
        if (merge.label != label || merge.first >= label || merge.second >= label ||
            merge.first == merge.second || merged[merge.first] || merged[merge.second] ||
            merge.regions != header.leaf_count - 1 - i || std::isnan(merge.distance)) {
            throw corrupt("merge " + std::to_string(i) + " is inconsistent with the ones before it");
        }
        merged[merge.first] = 1;
        merged[merge.second] = 1;
    }
    return tree;
}

namespace {

constexpr std::uint32_t no_parent = std::numeric_limits<std::uint32_t>::max();

}  // namespace

std::uint64_t merges_for_regions(const TreeFile& tree, std::uint64_t regions) {
    const std::uint64_t fewest = tree.leaf_count - tree.merges.size();
    if (regions > tree.leaf_count || regions < fewest) {
        throw VoradaError("The tree holds " + std::to_string(tree.leaf_count) + " down to " +
                          std::to_string(fewest) + " regions; " + std::to_string(regions) +
                          " is not among them");
    }
    return tree.leaf_count - regions;
}

std::uint64_t merges_below_distance(const TreeFile& tree, double distance) {
    std::uint64_t merges = 0;
    while (merges < tree.merges.size() && tree.merges[merges].distance < distance) {
        ++merges;
    }
    return merges;
}

MergeReplay::MergeReplay(const TreeFile& tree_file) : tree(tree_file) {
    parent.assign(static_cast<std::size_t>(tree.leaf_count + tree.merges.size()), no_parent);
    for (const TreeMerge& merge : tree.merges) {
        parent[merge.first] = merge.label;
        parent[merge.second] = merge.label;
    }
}

void MergeReplay::labels_after(std::uint64_t merges, std::vector<unsigned long long>& labels) {
    // Parents have higher labels than their children, so one pass from the top down gives
    // every label its region after the cut.
    const auto present = static_cast<std::uint32_t>(tree.leaf_count + merges);
    top.resize(present);
    for (std::uint32_t label = present; label-- > 0;) {
        const std::uint32_t up = parent[label];
        top[label] = up < present ? top[up] : label;
    }
    labels.resize(tree.leaves.size());
    for (std::size_t v = 0; v < labels.size(); ++v) {
        labels[v] = top[tree.leaves[v]];
    }
}

}  // namespace io
}  // namespace vorada
