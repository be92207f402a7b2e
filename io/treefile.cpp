#include "io/treefile.h"

#include <unistd.h>

#include <algorithm>
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
constexpr std::uint64_t merge_piece = 1 << 16;  // merges read at a time

struct Header {
    char magic[8];
    std::uint64_t width, height, frames, leaf_count, merge_count, reserved;
};
static_assert(sizeof(Header) == tree_file_header_bytes, "header layout");

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

TreeFileWriter::TreeFileWriter(const std::string& path,
                               std::uint64_t width,
                               std::uint64_t height,
                               std::uint64_t frames,
                               std::uint64_t leaves)
    : final_path(path),
      temporary(path + ".partial"),
      voxels(width * height * frames),
      leaf_total(leaves) {
    if (leaf_total > std::numeric_limits<std::uint32_t>::max()) {
        throw VoradaFileError(path, "more leaves than a tree file can number");
    }
    unfinished = std::make_unique<UnfinishedFile>(temporary);
    file = std::fopen(temporary.c_str(), "wb");
    if (!file) {
        throw VoradaFileError(temporary,
                              std::string("cannot open for writing: ") + std::strerror(errno));
    }
    Header header{};
    std::memcpy(header.magic, tree_magic, sizeof(tree_magic));
    header.width = width;
    header.height = height;
    header.frames = frames;
    header.leaf_count = leaf_total;
    if (std::fwrite(&header, sizeof(header), 1, file) != 1) {
        _fail("could not be written completely", errno);
    }
}

TreeFileWriter::TreeFileWriter(const std::string& path,
                               std::uint64_t width,
                               std::uint64_t height,
                               std::uint64_t frames,
                               const std::uint64_t* leaves,
                               std::uint64_t leaf_count)
    : TreeFileWriter(path, width, height, frames, leaf_count) {
    std::vector<std::uint32_t> chunk;
    chunk.reserve(leaf_chunk);
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
        add_leaves(chunk.data(), chunk.size());
    }
    _end_leaves();
}

void TreeFileWriter::add_leaves(const std::uint32_t* leaves, std::uint64_t count) {
    if (!file || leaves_ended) {
        throw VoradaError("Tree file: leaves added after the merges began");
    }
    if (count > voxels - leaves_written) {
        _fail("more leaves than the video has voxels");
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        if (leaves[i] >= leaf_total) {
            _fail("voxel " + std::to_string(leaves_written + i) + " has leaf " +
                  std::to_string(leaves[i]) + " of " + std::to_string(leaf_total));
        }
    }
    if (count && std::fwrite(leaves, sizeof(std::uint32_t), count, file) != count) {
        _fail("could not be written completely", errno);
    }
    leaves_written += count;
}

void TreeFileWriter::_end_leaves() {
    if (leaves_ended) {
        return;
    }
    if (leaves_written != voxels) {
        _fail("leaves of " + std::to_string(leaves_written) + " voxels of " +
              std::to_string(voxels) + " written");
    }
    const std::uint32_t padding = 0;
    if (voxels % 2 && std::fwrite(&padding, sizeof(padding), 1, file) != 1) {
        _fail("could not be written completely", errno);
    }
    leaves_ended = true;
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
    _end_leaves();
    if (std::fwrite(&merge, sizeof(merge), 1, file) != 1) {
        _fail("could not be written completely", errno);
    }
    ++merge_count;
}

void TreeFileWriter::finish() {
    if (!file) {
        throw VoradaError("Tree file: finished twice");
    }
    _end_leaves();
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

TreeFileReader::TreeFileReader(const std::string& file_path) : path(file_path) {
    file = std::fopen(path.c_str(), "rb");
    if (!file) {
        throw VoradaFileNotFound(path);
    }
    std::unique_ptr<std::FILE, FileCloser> guard(file);
    auto corrupt = [this](const std::string& reason) { return VoradaFileError(path, reason); };
    if (std::fseek(file, 0, SEEK_END) != 0) {
        throw corrupt("cannot be read");
    }
    const long end = std::ftell(file);
    std::rewind(file);
    if (end < 0) {
        throw corrupt("cannot be read");
    }
    const auto size = static_cast<std::uint64_t>(end);
    Header header{};
    if (size < sizeof(header) || std::fread(&header, sizeof(header), 1, file) != 1) {
        throw corrupt("not a tree file (shorter than its header)");
    }
    if (std::memcmp(header.magic, tree_magic, sizeof(tree_magic)) != 0) {
        throw corrupt("not a tree file (wrong magic number)");
    }
    // The products are checked for overflow: a header whose product wraps to a small number
    // would pass for a small video.
    const std::uint64_t limit = std::uint64_t(1) << 40;
    std::uint64_t area = 0;
    std::uint64_t voxel_count = 0;
    if (header.width == 0 || header.height == 0 || header.frames == 0 ||
        __builtin_mul_overflow(header.width, header.height, &area) || area > limit ||
        __builtin_mul_overflow(area, header.frames, &voxel_count) || voxel_count > limit) {
        throw corrupt("implausible video size in the header");
    }
    if (header.leaf_count == 0 || header.leaf_count > voxel_count ||
        header.merge_count >= header.leaf_count) {
        throw corrupt("implausible leaf or merge count in the header");
    }
    const std::uint64_t expected =
        tree_file_merges_offset(voxel_count) + sizeof(TreeMerge) * header.merge_count;
    if (size < expected) {
        throw corrupt("truncated: " + std::to_string(size) + " bytes, the header announces " +
                      std::to_string(expected));
    }
    if (size > expected) {
        throw corrupt(std::to_string(size - expected) + " bytes beyond the announced end");
    }
    header_width = header.width;
    header_height = header.height;
    header_frames = header.frames;
    leaves = header.leaf_count;
    merges = header.merge_count;
    guard.release();
}

TreeFileReader::~TreeFileReader() {
    if (file) {
        std::fclose(file);
    }
}

void TreeFileReader::read_leaves(std::uint64_t first, std::uint64_t count, std::uint32_t* out) {
    if (first > voxels() || count > voxels() - first) {
        throw VoradaError("Tree file: voxels " + std::to_string(first) + " + " +
                          std::to_string(count) + " beyond the video of " + path);
    }
    const std::uint64_t offset = tree_file_header_bytes + 4 * first;
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0 ||
        std::fread(out, sizeof(std::uint32_t), count, file) != count) {
        throw VoradaFileError(path, "cannot be read");
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        if (out[i] >= leaves) {
            throw VoradaFileError(path, "voxel " + std::to_string(first + i) + " names leaf " +
                                            std::to_string(out[i]) + ", beyond the " +
                                            std::to_string(leaves) + " leaves");
        }
    }
}

std::vector<TreeMerge> TreeFileReader::read_merges() {
    std::vector<TreeMerge> result;
    result.reserve(static_cast<std::size_t>(merges));
    // Each merge joins two regions present at that moment into the next label.
    std::vector<bool> merged(static_cast<std::size_t>(leaves + merges), false);
    read_merge_range(0, merges, [&](const TreeMerge* piece, std::size_t size, std::uint64_t start) {
        for (std::size_t i = 0; i < size; ++i) {
            const TreeMerge& merge = piece[i];
            const std::uint64_t label = leaves + start + i;
            if (merge.label != label || merge.first >= label || merge.second >= label ||
                merge.first == merge.second || merged[merge.first] || merged[merge.second] ||
                merge.regions != leaves - 1 - (start + i) || std::isnan(merge.distance)) {
                throw VoradaFileError(path, "merge " + std::to_string(start + i) +
                                                " is inconsistent with the ones before it");
            }
            merged[merge.first] = true;
            merged[merge.second] = true;
        }
        result.insert(result.end(), piece, piece + size);
        return true;
    });
    return result;
}

void TreeFileReader::read_merge_range(
    std::uint64_t first,
    std::uint64_t count,
    const std::function<bool(const TreeMerge*, std::size_t, std::uint64_t)>& take) {
    if (first > merges || count > merges - first) {
        throw VoradaError("Tree file: merges " + std::to_string(first) + " + " +
                          std::to_string(count) + " asked of the " + std::to_string(merges) +
                          " of " + path);
    }
    std::vector<TreeMerge> piece(static_cast<std::size_t>(std::min(count, merge_piece)));
    for (std::uint64_t done = 0; done < count; done += piece.size()) {
        const auto size =
            static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), count - done));
        const std::uint64_t start = first + done;
        const std::uint64_t offset = tree_file_merges_offset(voxels()) + sizeof(TreeMerge) * start;
        if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0 ||
            std::fread(piece.data(), sizeof(TreeMerge), size, file) != size) {
            throw VoradaFileError(path, "cannot be read");
        }
        if (!take(piece.data(), size, start)) {
            return;
        }
    }
}

TreeFile read_tree_file(const std::string& path) {
    TreeFileReader reader(path);
    TreeFile tree;
    tree.width = reader.width();
    tree.height = reader.height();
    tree.frames = reader.frames();
    tree.leaf_count = reader.leaf_count();
    tree.leaves.resize(static_cast<std::size_t>(reader.voxels()));
    reader.read_leaves(0, reader.voxels(), tree.leaves.data());
    tree.merges = reader.read_merges();
    return tree;
}

std::uint64_t merges_leaving(std::uint64_t leaves, std::uint64_t merges, std::uint64_t regions) {
    const std::uint64_t fewest = leaves - merges;
    if (regions > leaves || regions < fewest) {
        throw VoradaError("The tree holds " + std::to_string(leaves) + " down to " +
                          std::to_string(fewest) + " regions; " + std::to_string(regions) +
                          " is not among them");
    }
    return leaves - regions;
}

std::uint64_t merges_for_regions(const TreeFile& tree, std::uint64_t regions) {
    return merges_leaving(tree.leaf_count, tree.merges.size(), regions);
}

std::size_t merges_before(const TreeMerge* merges, std::size_t count, double distance) {
    std::size_t below = 0;
    while (below < count && merges[below].distance < distance) {
        ++below;
    }
    return below;
}

std::uint64_t merges_below_distance(const TreeFile& tree, double distance) {
    return merges_before(tree.merges.data(), tree.merges.size(), distance);
}

void labels_after(const TreeFile& tree,
                  std::uint64_t count,
                  std::vector<unsigned long long>& labels) {
    if (count > tree.merges.size()) {
        throw VoradaError("The tree holds " + std::to_string(tree.merges.size()) + " merges, not " +
                          std::to_string(count));
    }
    // Per label its parent after the cut, or none; parents have higher labels than their
    // children, so one pass from the top down turns it in place into every label's region.
    constexpr std::uint32_t no_parent = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> table(static_cast<std::size_t>(tree.leaf_count + tree.merges.size()),
                                     no_parent);
    for (std::size_t m = 0; m < count; ++m) {
        table[tree.merges[m].first] = tree.merges[m].label;
        table[tree.merges[m].second] = tree.merges[m].label;
    }
    const auto present = static_cast<std::uint32_t>(tree.leaf_count + count);
    table.resize(present);
    for (std::uint32_t label = present; label-- > 0;) {
        const std::uint32_t up = table[label];
        table[label] = up < present ? table[up] : label;
    }
    labels.resize(tree.leaves.size());
    for (std::size_t v = 0; v < labels.size(); ++v) {
        labels[v] = table[tree.leaves[v]];
    }
}

}  // namespace io
}  // namespace vorada
