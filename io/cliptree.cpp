#include "io/cliptree.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/errors.h"
#include "io/atomicfile.h"

namespace vorada {
namespace io {

namespace {

constexpr char index_magic[] = "vseg tree clips 1";
constexpr std::uint32_t none = 0xFFFFFFFFu;
// The longest line of an index: "clip", "frames", "leaves", "merges" and seven numbers.
constexpr std::uint64_t longest_line = 200;

// The words of a line, split at single spaces.
std::vector<std::string> words_of(const std::string& line) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = line.find(' ', start);
        words.push_back(line.substr(start, end - start));
        if (end == std::string::npos) {
            return words;
        }
        start = end + 1;
    }
}

// A decimal number of at most 19 digits (anything an index can hold), or false.
bool parse_count(const std::string& word, std::uint64_t& value) {
    if (word.empty() || word.size() > 19 ||
        !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    value = std::stoull(word);
    return true;
}

}  // namespace

std::uint64_t ClipIndex::clip_merges() const {
    return clips.empty() ? 0 : clips.back().first_merge + clips.back().merges;
}

std::string clip_index_text(const ClipIndex& index) {
    std::ostringstream text;
    text << index_magic << '\n';
    for (std::size_t c = 0; c < index.clips.size(); ++c) {
        const TreeClip& clip = index.clips[c];
        text << "clip " << c << " frames " << clip.first_frame << ' ' << clip.frames << " leaves "
             << clip.first_leaf << ' ' << clip.leaves << " merges " << clip.first_merge << ' '
             << clip.merges << '\n';
    }
    text << "join merges " << index.clip_merges() << ' ' << index.join_merges << '\n';
    return text.str();
}

void write_clip_index(const std::string& path, const ClipIndex& index) {
    const std::string text = clip_index_text(index);
    write_file_atomically(path, text.data(), text.size());
}

ClipIndex read_clip_index(const std::string& path, const TreeFileReader& tree) {
    ClipIndex index;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT) {
        index.clips.push_back(
            TreeClip{0, tree.frames(), 0, tree.leaf_count(), 0, tree.merge_count()});
        return index;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw VoradaFileError(path, std::string("cannot be read: ") + std::strerror(errno));
    }
    // Every clip holds a frame at least: the file is bounded before it is read.
    if (static_cast<std::uint64_t>(status.st_size) > longest_line * (tree.frames() + 2)) {
        throw VoradaFileError(path, "longer than an index of the tree's " +
                                        std::to_string(tree.frames()) + " frames can be");
    }
    std::string line;
    std::size_t number = 1;
    auto fail = [&](const std::string& reason) {
        return VoradaFileError(path, "line " + std::to_string(number) + ": " + reason);
    };
    if (!std::getline(in, line) || line != index_magic) {
        throw fail("not a clip index of a tree (it begins with '" + std::string(index_magic) +
                   "')");
    }
    std::uint64_t frames = 0, leaves = 0, merges = 0;
    bool joined = false;
    while (std::getline(in, line)) {
        ++number;
        if (joined) {
            throw fail("text after the join's line");
        }
        const std::vector<std::string> words = words_of(line);
        std::uint64_t value[7] = {};
        if (words.size() == 4 && words[0] == "join" && words[1] == "merges" &&
            parse_count(words[2], value[0]) && parse_count(words[3], value[1])) {
            if (value[0] != merges) {
                throw fail("the join's merges begin at " + std::to_string(value[0]) +
                           ", the clips' end at " + std::to_string(merges));
            }
            if (value[1] != tree.merge_count() - std::min(merges, tree.merge_count()) ||
                merges > tree.merge_count()) {
                throw fail("the clips' and the join's merges are not the tree's " +
                           std::to_string(tree.merge_count()));
            }
            index.join_merges = value[1];
            joined = true;
            continue;
        }
        const bool clip_line = words.size() == 11 && words[0] == "clip" && words[2] == "frames" &&
                               words[5] == "leaves" && words[8] == "merges" &&
                               parse_count(words[1], value[0]) && parse_count(words[3], value[1]) &&
                               parse_count(words[4], value[2]) && parse_count(words[6], value[3]) &&
                               parse_count(words[7], value[4]) && parse_count(words[9], value[5]) &&
                               parse_count(words[10], value[6]);
        if (!clip_line) {
            throw fail("neither 'clip C frames F N leaves F N merges F N' nor 'join merges F N'");
        }
        const TreeClip clip{value[1], value[2], value[3], value[4], value[5], value[6]};
        if (value[0] != index.clips.size()) {
            throw fail("clip " + std::to_string(value[0]) + " where clip " +
                       std::to_string(index.clips.size()) + " is due");
        }
        if (clip.first_frame != frames || clip.first_leaf != leaves || clip.first_merge != merges) {
            throw fail("the clip does not begin where the one before ends");
        }
        if (clip.frames == 0 || clip.leaves == 0 || clip.merges >= clip.leaves) {
            throw fail("a clip needs a frame, a leaf, and fewer merges than leaves");
        }
        if (clip.frames > tree.frames() - frames || clip.leaves > tree.leaf_count() - leaves ||
            clip.merges > tree.merge_count() - merges) {
            throw fail("the clips hold more frames, leaves or merges than the tree");
        }
        frames += clip.frames;
        leaves += clip.leaves;
        merges += clip.merges;
        index.clips.push_back(clip);
    }
    if (!joined) {
        throw fail("the join's line is missing (the file ends early)");
    }
    if (frames != tree.frames() || leaves != tree.leaf_count()) {
        throw VoradaFileError(path, "the clips hold " + std::to_string(frames) + " frames and " +
                                        std::to_string(leaves) + " leaves, the tree " +
                                        std::to_string(tree.frames()) + " and " +
                                        std::to_string(tree.leaf_count()));
    }
    return index;
}

ClipReplay::ClipReplay(TreeFileReader& file, ClipIndex clips, std::string path)
    : reader(file),
      index(std::move(clips)),
      index_path(std::move(path)),
      leaves(file.leaf_count()),
      merges(file.merge_count()),
      clip_merges(index.clip_merges()) {
    if (leaves + merges >= none) {
        throw VoradaFileError(reader.file_path(), "more labels than a replay can number");
    }
    if (index.clips.empty() || clip_merges + index.join_merges != merges) {
        throw _index_error("does not cover the tree's merges");
    }
    auto inconsistent = [this](std::uint64_t merge) {
        return VoradaFileError(reader.file_path(), "merge " + std::to_string(merge) +
                                                       " is inconsistent with the ones before it");
    };
    // The join's merges: the regions the clips left or the join made, each merged once.
    const std::uint64_t base = leaves + clip_merges;
    join_parent.assign(static_cast<std::size_t>(index.join_merges), none);
    reader.read_merge_range(clip_merges, index.join_merges,
                            [&](const TreeMerge* piece, std::size_t size, std::uint64_t first) {
                                for (std::size_t i = 0; i < size; ++i) {
                                    const TreeMerge& merge = piece[i];
                                    const std::uint64_t label = leaves + first + i;
                                    if (merge.label != label || merge.first >= label ||
                                        merge.second >= label || merge.first == merge.second ||
                                        merge.regions != leaves - 1 - (first + i) ||
                                        std::isnan(merge.distance)) {
                                        throw inconsistent(first + i);
                                    }
                                    for (const std::uint32_t child : {merge.first, merge.second}) {
                                        if (child < base) {
                                            join_children.emplace_back(child, merge.label);
                                        } else if (join_parent[child - base] != none) {
                                            throw inconsistent(first + i);
                                        } else {
                                            join_parent[child - base] = merge.label;
                                        }
                                    }
                                }
                                return true;
                            });
    std::sort(join_children.begin(), join_children.end());
    for (std::size_t i = 1; i < join_children.size(); ++i) {
        if (join_children[i].first == join_children[i - 1].first) {
            throw inconsistent(std::max(join_children[i].second, join_children[i - 1].second) -
                               leaves);
        }
    }
    // Every clip's merges; a region the join merged must be one its clip left.
    for (std::size_t c = 0; c < index.clips.size(); ++c) {
        const TreeClip& part = index.clips[c];
        _load_parents(c, part.merges);
        auto check = [&](std::uint64_t from, std::uint64_t to, std::uint64_t slot) {
            auto at = std::lower_bound(
                join_children.begin(), join_children.end(),
                std::make_pair(static_cast<std::uint32_t>(from), std::uint32_t(0)));
            for (; at != join_children.end() && at->first < to; ++at) {
                if (table[static_cast<std::size_t>(slot + (at->first - from))] != none) {
                    throw inconsistent(at->second - leaves);
                }
            }
        };
        check(part.first_leaf, part.first_leaf + part.leaves, 0);
        check(leaves + part.first_merge, leaves + part.first_merge + part.merges, part.leaves);
    }
    std::vector<std::uint32_t>().swap(table);
    cut(0);
}

VoradaFileError ClipReplay::_index_error(const std::string& reason) const {
    return VoradaFileError(index_path, reason);
}

void ClipReplay::_load_parents(std::size_t c, std::uint64_t count) {
    const TreeClip& part = index.clips[c];
    table.assign(static_cast<std::size_t>(part.leaves + count), none);
    const std::uint64_t merged_base = leaves + part.first_merge;  // label of its first merge
    reader.read_merge_range(
        part.first_merge, count,
        [&](const TreeMerge* piece, std::size_t size, std::uint64_t first) {
            for (std::size_t i = 0; i < size; ++i) {
                const TreeMerge& merge = piece[i];
                const std::uint64_t label = leaves + first + i;
                const bool fits = merge.label == label && merge.first != merge.second &&
                                  merge.regions == leaves - 1 - (first + i) &&
                                  !std::isnan(merge.distance);
                for (const std::uint32_t child : {merge.first, merge.second}) {
                    std::uint64_t slot = 0;
                    if (!fits || child >= label) {
                        throw VoradaFileError(reader.file_path(),
                                              "merge " + std::to_string(first + i) +
                                                  " is inconsistent with the ones before it");
                    }
                    if (child >= part.first_leaf && child < part.first_leaf + part.leaves) {
                        slot = child - part.first_leaf;
                    } else if (child >= merged_base) {
                        slot = part.leaves + (child - merged_base);
                    } else {
                        throw _index_error("merge " + std::to_string(first + i) + " of clip " +
                                           std::to_string(c) + " joins label " +
                                           std::to_string(child) + ", not one of the clip's");
                    }
                    if (table[static_cast<std::size_t>(slot)] != none) {
                        throw VoradaFileError(reader.file_path(),
                                              "merge " + std::to_string(first + i) +
                                                  " is inconsistent with the ones before it");
                    }
                    table[static_cast<std::size_t>(slot)] =
                        static_cast<std::uint32_t>(part.leaves + (first + i - part.first_merge));
                }
            }
            return true;
        });
}

std::uint64_t ClipReplay::merges_for_regions(std::uint64_t regions) const {
    return merges_leaving(leaves, merges, regions);
}

std::uint64_t ClipReplay::merges_below_distance(double distance) {
    std::uint64_t below = merges;
    reader.read_merge_range(0, merges,
                            [&](const TreeMerge* piece, std::size_t size, std::uint64_t first) {
                                const std::size_t i = merges_before(piece, size, distance);
                                if (i < size) {
                                    below = first + i;
                                }
                                return i == size;
                            });
    return below;
}

void ClipReplay::cut(std::uint64_t count) {
    if (count > merges) {
        throw VoradaError("The tree holds " + std::to_string(merges) + " merges, not " +
                          std::to_string(count));
    }
    cut_merges = count;
    clip_loaded = false;
    // The join's regions top down: a parent's label is above its children's.
    const std::uint64_t base = leaves + clip_merges;
    const std::uint64_t applied = count > clip_merges ? count - clip_merges : 0;
    join_region.resize(static_cast<std::size_t>(applied));
    for (std::size_t j = join_region.size(); j-- > 0;) {
        const std::uint32_t up = join_parent[j];
        join_region[j] = up != none && up < base + applied
                             ? join_region[static_cast<std::size_t>(up - base)]
                             : static_cast<std::uint32_t>(base + j);
    }
}

std::uint32_t ClipReplay::_joined_region(std::uint32_t label) const {
    const auto at = std::lower_bound(join_children.begin(), join_children.end(),
                                     std::make_pair(label, std::uint32_t(0)));
    if (at == join_children.end() || at->first != label ||
        at->second >= leaves + clip_merges + join_region.size()) {
        return label;
    }
    return join_region[static_cast<std::size_t>(at->second - leaves - clip_merges)];
}

void ClipReplay::_load_clip(std::size_t c) {
    const TreeClip& part = index.clips[c];
    const std::uint64_t applied =
        cut_merges <= part.first_merge ? 0 : std::min(cut_merges - part.first_merge, part.merges);
    _load_parents(c, applied);
    // Parents sit above their children: one sweep from the top gives every slot its region.
    const bool joining = cut_merges > clip_merges;
    for (std::size_t slot = table.size(); slot-- > 0;) {
        const std::uint32_t up = table[slot];
        if (up != none) {
            table[slot] = table[up];
            continue;
        }
        const auto label = static_cast<std::uint32_t>(
            slot < part.leaves ? part.first_leaf + slot
                               : leaves + part.first_merge + (slot - part.leaves));
        table[slot] = joining ? _joined_region(label) : label;
    }
    clip = c;
    clip_loaded = true;
}

const std::vector<std::uint32_t>& ClipReplay::frame_regions(std::uint64_t t) {
    if (t >= reader.frames()) {
        throw VoradaError("The tree holds " + std::to_string(reader.frames()) + " frames, not " +
                          std::to_string(t + 1));
    }
    const std::vector<TreeClip>& clips = index.clips;
    if (!clip_loaded || t < clips[clip].first_frame ||
        t >= clips[clip].first_frame + clips[clip].frames) {
        const auto after = std::upper_bound(
            clips.begin(), clips.end(), t,
            [](std::uint64_t at, const TreeClip& part) { return at < part.first_frame; });
        _load_clip(static_cast<std::size_t>(after - clips.begin()) - 1);
    }
    const TreeClip& part = clips[clip];
    const std::uint64_t pixels = reader.width() * reader.height();
    frame.resize(static_cast<std::size_t>(pixels));
    reader.read_leaves(t * pixels, pixels, frame.data());
    for (std::size_t i = 0; i < frame.size(); ++i) {
        const std::uint64_t slot = frame[i] - part.first_leaf;  // wraps below the clip's
        if (slot >= part.leaves) {
            throw _index_error("voxel " + std::to_string(t * pixels + i) + " (frame " +
                               std::to_string(t) + ") has leaf " + std::to_string(frame[i]) +
                               ", not one of clip " + std::to_string(clip) + "'s");
        }
        frame[i] = table[static_cast<std::size_t>(slot)];
    }
    return frame;
}

std::uint64_t ClipReplay::clip_labels() const {
    const TreeClip& part = index.clips[clip];
    return part.leaves + part.merges;
}

bool ClipReplay::every_leaf_shown() {
    if (leaves_shown >= 0) {
        return leaves_shown == 1;
    }
    const std::uint64_t pixels = reader.width() * reader.height();
    frame.resize(static_cast<std::size_t>(pixels));
    bool all = true;
    for (std::size_t c = 0; c < index.clips.size() && all; ++c) {
        const TreeClip& part = index.clips[c];
        std::vector<bool> shown(static_cast<std::size_t>(part.leaves), false);
        for (std::uint64_t t = part.first_frame; t < part.first_frame + part.frames; ++t) {
            reader.read_leaves(t * pixels, pixels, frame.data());
            for (std::size_t i = 0; i < frame.size(); ++i) {
                const std::uint64_t slot = frame[i] - part.first_leaf;
                if (slot >= part.leaves) {
                    throw _index_error("voxel " + std::to_string(t * pixels + i) + " (frame " +
                                       std::to_string(t) + ") has leaf " +
                                       std::to_string(frame[i]) + ", not one of clip " +
                                       std::to_string(c) + "'s");
                }
                shown[static_cast<std::size_t>(slot)] = true;
            }
        }
        all = std::find(shown.begin(), shown.end(), false) == shown.end();
    }
    leaves_shown = all ? 1 : 0;
    return all;
}

FirstAppearance::FirstAppearance(const ClipReplay& clip_replay) : replay(clip_replay) {}

void FirstAppearance::_begin_clip() {
    clip = replay.current_clip();
    started = true;
    table.assign(static_cast<std::size_t>(replay.clip_labels()), unseen);
}

}  // namespace io
}  // namespace vorada
