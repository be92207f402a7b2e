#include "clips/join.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <unordered_map>
#include <utility>

#include "clips/clipfile.h"
#include "common/errors.h"
#include "common/parallel.h"
#include "descriptors/colorsignature.h"
#include "distance/motioncolordistancemodel.h"
#include "io/atomicfile.h"
#include "io/cliptree.h"
#include "io/flowreader.h"
#include "io/segmentation.h"
#include "io/treefile.h"
#include "layout/layout.h"
#include "math/emd.h"
#include "signals/videosignal.h"
#include "tree/mergegraph.h"
#include "tree/mergequeue.h"

namespace vorada {
namespace clips {

namespace fs = boost::filesystem;
using Label = std::uint32_t;

namespace {

using ColourSignature = gma::ColorSignature<gma::VideoSignal<double, 3>>;
using Solver = math::optimization::EMD<math::optimization::PerceptualDistance<Eigen::Vector3d>>;

constexpr Label none = 0xFFFFFFFFu;
const char* const cue_folders[] = {"occlusions", "flow_variation", "structure_tensor",
                                   "trajectories"};

/// A region of the join: its descriptors while it is top-level, and its label in the global
/// tree.
struct Node {
    std::uint64_t label = 0;
    std::uint64_t area = 0;
    long long first_frame = 0, last_frame = 0;  ///< frame indices of the whole run
    std::vector<gma::FlowFrame> frames;
    std::vector<Eigen::Vector3d> colours;
    std::vector<double> weights;
};

/// What the join keeps of a clip beyond its regions.
struct ClipPart {
    Clip clip;
    std::string directory;
    std::uint64_t leaves = 0, merges = 0;
    std::uint64_t leaf_offset = 0;   ///< global label of its leaf 0
    std::uint64_t merge_offset = 0;  ///< global index of its first merge
    std::uint64_t frame_offset = 0;  ///< frame index of its first frame in the run
    std::vector<Label> labels;       ///< clip-local labels of its top-level regions, ascending
    std::vector<Label> nodes;        ///< their nodes
};

std::string describe(const ClipPart& part) {
    return "clip " + std::to_string(part.clip.index) + " (" + part.directory + ")";
}

std::string tree_path(const std::string& directory) {
    return directory + "/tree.bpt";
}

// Replaces every label's parent (`none` for a top-level region) by its top-level region.
// Parents have higher labels than their children, so one sweep from the top down suffices.
void resolve_roots(std::vector<Label>& parent) {
    for (std::size_t i = parent.size(); i-- > 0;) {
        parent[i] = parent[i] == none ? static_cast<Label>(i) : parent[parent[i]];
    }
}

// The top-level region, after the first `applied` merges, of every label of a tree with
// `leaves` leaves.
std::vector<Label> top_labels(const std::vector<io::TreeMerge>& merges,
                              std::uint64_t leaves,
                              std::uint64_t applied) {
    std::vector<Label> top(static_cast<std::size_t>(leaves + merges.size()), none);
    for (std::size_t i = 0; i < applied; ++i) {
        top[merges[i].first] = merges[i].label;
        top[merges[i].second] = merges[i].label;
    }
    resolve_roots(top);
    return top;
}

class Join {
  public:
    Join(const Plan& plan_, const JoinSettings& settings_) : plan(plan_), settings(settings_) {
        color_weight = 1.0 / (settings.color_scale * settings.color_scale);
        motion_weight = 1.0 / (settings.motion_scale * settings.motion_scale);
        colour_parameters.num_colors = settings.num_colors;
        colour_parameters.channel_weights =
            Eigen::Vector3d(color_weight, color_weight, color_weight);
    }

    JoinReport run();

  private:
    void _read_summaries();
    void _link_within_clips(const std::vector<ClipSummary>& summaries);
    void _link_across_boundaries();
    std::vector<Label> _frame_nodes(const ClipPart& part, std::uint64_t t);
    void _merge();
    double _distance(Label a, Label b);
    void _write_tree();
    void _write_segmentations();
    void _move_cue_images();

    const Plan& plan;
    const JoinSettings& settings;
    double color_weight = 0, motion_weight = 0, area_weight = 0;
    gma::ColorMeanDescriptorParameters colour_parameters;

    std::uint64_t width = 0, height = 0;
    std::uint64_t leaves = 0, clip_merges = 0, start_regions = 0;
    std::vector<ClipPart> parts;
    std::vector<Node> nodes;  ///< the clips' top-level regions by global label, then merges
    std::vector<std::pair<Label, Label>> links;
    std::vector<io::TreeMerge> join_merges;  ///< node labels, turned global when written
    std::unique_ptr<Solver> emd;
};

void Join::_read_summaries() {
    if (plan.clips.empty()) {
        throw VoradaError("Join: the plan has no clip");
    }
    std::vector<ClipSummary> summaries;
    summaries.reserve(plan.clips.size());
    std::uint64_t frame_total = 0;
    for (const Clip& clip : plan.clips) {
        ClipPart part;
        part.clip = clip;
        part.directory = clip_directory(settings.output_directory, clip.index);
        const std::string path = part.directory + "/" + clip_summary_name;
        if (!fs::exists(path)) {
            throw VoradaError("Join: " + describe(part) + " is not complete (no " +
                              clip_summary_name + ")");
        }
        ClipSummary summary = read_clip_summary(path);
        auto mismatch = [&](const std::string& what) {
            return VoradaError("Join: " + describe(part) + " was made with another " + what +
                               " than this run's");
        };
        if (summary.clip != clip.index || summary.segment != clip.segment ||
            summary.first_frame != clip.first || summary.frames != clip.frames()) {
            throw mismatch("plan (frames " + std::to_string(summary.first_frame) + "+" +
                           std::to_string(summary.frames) + ", segment " +
                           std::to_string(summary.segment) + ")");
        }
        if (summary.color_scale != settings.color_scale ||
            summary.motion_scale != settings.motion_scale ||
            summary.area_fraction != settings.area_fraction ||
            summary.num_colors != settings.num_colors) {
            throw mismatch("colour scale, motion scale, area fraction or colour count");
        }
        if (parts.empty()) {
            width = summary.width;
            height = summary.height;
        } else if (summary.width != width || summary.height != height) {
            throw mismatch("frame size");
        }
        if (summary.run_voxels != width * height * plan.frames()) {
            throw mismatch("run size");
        }
        if (summary.regions.size() != summary.leaves - std::min(summary.merges, summary.leaves)) {
            throw VoradaError(
                "Join: " + describe(part) + " lists " + std::to_string(summary.regions.size()) +
                " regions, its tree leaves " + std::to_string(summary.leaves - summary.merges));
        }
        part.leaves = summary.leaves;
        part.merges = summary.merges;
        part.leaf_offset = leaves;
        part.merge_offset = clip_merges;
        part.frame_offset = clip.first - plan.first_frame;
        leaves += summary.leaves;
        clip_merges += summary.merges;
        frame_total += summary.frames;
        if (leaves >= 0xFFFFFFFFull) {
            throw VoradaError("Join: more leaves than a tree file can number");
        }
        parts.push_back(std::move(part));
        summaries.push_back(std::move(summary));
    }
    if (frame_total != plan.frames()) {
        throw VoradaError("Join: the clips do not cover the run's frames");
    }
    area_weight =
        1.0 / (static_cast<double>(width * height * plan.frames()) * settings.area_fraction);
    if (!std::isfinite(area_weight)) {
        throw VoradaError("Invalid area fraction (argument 5): the area weight is not finite");
    }
    // Nodes in the order of their global labels, so that ties between links fall as in a
    // tree that numbers its regions that way.
    std::vector<std::pair<std::uint64_t, std::pair<std::size_t, std::size_t>>> order;
    for (std::size_t c = 0; c < parts.size(); ++c) {
        const ClipPart& part = parts[c];
        for (std::size_t i = 0; i < summaries[c].regions.size(); ++i) {
            const std::uint64_t local = summaries[c].regions[i].label;
            const std::uint64_t label = local < part.leaves
                                            ? part.leaf_offset + local
                                            : leaves + part.merge_offset + (local - part.leaves);
            order.push_back({label, {c, i}});
        }
    }
    std::sort(order.begin(), order.end());
    start_regions = order.size();
    if (2 * start_regions >= gma::QueuedLink::label_limit) {
        throw VoradaError("Join: too many regions");
    }
    nodes.resize(order.size());
    for (ClipPart& part : parts) {
        part.nodes.clear();
    }
    for (std::size_t n = 0; n < order.size(); ++n) {
        const std::size_t c = order[n].second.first;
        ClipRegion& region = summaries[c].regions[order[n].second.second];
        Node& node = nodes[n];
        node.label = order[n].first;
        node.area = region.area;
        node.first_frame = region.first_frame + static_cast<long long>(parts[c].frame_offset);
        node.last_frame = region.last_frame + static_cast<long long>(parts[c].frame_offset);
        node.frames = std::move(region.frames);
        node.colours = std::move(region.colours);
        node.weights = std::move(region.weights);
    }
    // Per clip its labels and their nodes, ascending by label (the nodes of one clip keep the
    // order of its labels: leaves before merged regions, each ascending).
    for (std::size_t n = 0; n < order.size(); ++n) {
        ClipPart& part = parts[order[n].second.first];
        part.labels.push_back(
            summaries[order[n].second.first].regions[order[n].second.second].label);
        part.nodes.push_back(static_cast<Label>(n));
    }
    _link_within_clips(summaries);
}

void Join::_link_within_clips(const std::vector<ClipSummary>& summaries) {
    for (std::size_t c = 0; c < parts.size(); ++c) {
        const ClipPart& part = parts[c];
        auto node_of = [&part](Label label) {
            const auto at = std::lower_bound(part.labels.begin(), part.labels.end(), label);
            return part.nodes[static_cast<std::size_t>(at - part.labels.begin())];
        };
        for (const auto& link : summaries[c].links) {
            const Label a = node_of(link.first);
            const Label b = node_of(link.second);
            links.push_back({std::min(a, b), std::max(a, b)});
        }
    }
}

// The node of every pixel of clip frame t: its leaf, through the clip's merges, to the clip's
// top-level region.
std::vector<Label> Join::_frame_nodes(const ClipPart& part, std::uint64_t t) {
    io::TreeFileReader tree(tree_path(part.directory));
    if (tree.width() != width || tree.height() != height || tree.frames() != part.clip.frames() ||
        tree.leaf_count() != part.leaves || tree.merge_count() != part.merges) {
        throw VoradaError("Join: the tree of " + describe(part) + " does not match its summary");
    }
    const std::uint64_t pixels = width * height;
    std::vector<Label> result(static_cast<std::size_t>(pixels));
    tree.read_leaves(t * pixels, pixels, result.data());
    const std::vector<Label> top = top_labels(tree.read_merges(), part.leaves, part.merges);
    std::vector<Label> node_of(top.size(), none);
    for (std::size_t i = 0; i < part.labels.size(); ++i) {
        node_of[part.labels[i]] = part.nodes[i];
    }
    for (Label& label : result) {
        label = node_of[top[label]];
        if (label == none) {
            throw VoradaError("Join: the tree of " + describe(part) +
                              " has a top-level region its summary does not list");
        }
    }
    return result;
}

// Consecutive clips of one segment: every pixel of the last frame of the one is linked, along
// the forward flow, to the region at the rounded target in the first frame of the next, and
// every pixel of that frame, along its backward flow, to the region it comes from.
void Join::_link_across_boundaries() {
    const long long X = static_cast<long long>(width);
    const long long Y = static_cast<long long>(height);
    gma::VideoSignal<double, 2> flow(X, Y, 1);
    auto follow = [&](const std::vector<Label>& from, const std::vector<Label>& to,
                      const std::string& path) {
        gma::read_optical_flow(flow, path, 0);
        const auto added = static_cast<std::ptrdiff_t>(links.size());
        for (long long y = 0; y < Y; ++y) {
            for (long long x = 0; x < X; ++x) {
                const double* motion = flow.at(x, y, 0);
                const double tx = std::round(static_cast<double>(x) + motion[0]);
                const double ty = std::round(static_cast<double>(y) + motion[1]);
                if (!(tx >= 0 && ty >= 0 && tx < static_cast<double>(X) &&
                      ty < static_cast<double>(Y))) {
                    continue;
                }
                const Label a = from[static_cast<std::size_t>(y * X + x)];
                const Label b = to[static_cast<std::size_t>(static_cast<long long>(ty) * X +
                                                            static_cast<long long>(tx))];
                if (a != b) {
                    links.push_back({std::min(a, b), std::max(a, b)});
                }
            }
        }
        // A pair is linked once: this boundary's duplicates go before the next boundary adds
        // more (sorting only its own links keeps the join linear in the number of clips).
        std::sort(links.begin() + added, links.end());
        links.erase(std::unique(links.begin() + added, links.end()), links.end());
    };
    for (std::size_t c = 0; c + 1 < parts.size(); ++c) {
        const ClipPart& before = parts[c];
        const ClipPart& after = parts[c + 1];
        if (before.clip.segment != after.clip.segment) {
            continue;
        }
        const std::vector<Label> last = _frame_nodes(before, before.clip.frames() - 1);
        const std::vector<Label> first = _frame_nodes(after, 0);
        follow(last, first, layout::forward_flow_path(settings.input_directory, before.clip.last));
        follow(first, last, layout::backward_flow_path(settings.input_directory, after.clip.first));
    }
    std::sort(links.begin(), links.end());
    links.erase(std::unique(links.begin(), links.end()), links.end());
}

double Join::_distance(Label a, Label b) {
    const Node& first = nodes[a];
    const Node& second = nodes[b];
    gma::SignatureView colour_a, colour_b;
    colour_a.features = gma::ConstSpan<Eigen::Vector3d>(first.colours.data(), first.colours.size());
    colour_a.weights = gma::ConstSpan<double>(first.weights.data(), first.weights.size());
    colour_a.area = first.area;
    colour_b.features =
        gma::ConstSpan<Eigen::Vector3d>(second.colours.data(), second.colours.size());
    colour_b.weights = gma::ConstSpan<double>(second.weights.data(), second.weights.size());
    colour_b.area = second.area;
    const double c = static_cast<double>(emd->_emd(colour_a, colour_b, nullptr));
    double m = 0;
    const long long t0 = std::max(first.first_frame, second.first_frame);
    const long long t1 = std::min(first.last_frame, second.last_frame);
    if (t0 <= t1) {
        gma::FlowSumsView sums_a, sums_b;
        sums_a.frames = gma::ConstSpan<gma::FlowFrame>(first.frames.data(), first.frames.size());
        sums_a.first_frame = first.first_frame;
        sums_a.last_frame = first.last_frame;
        sums_b.frames = gma::ConstSpan<gma::FlowFrame>(second.frames.data(), second.frames.size());
        sums_b.first_frame = second.first_frame;
        sums_b.last_frame = second.last_frame;
        m = gma::motion_difference(sums_a, sums_b, t0, t1, static_cast<long long>(plan.frames()),
                                   motion_weight);
    }
    const double area = static_cast<double>(std::min(first.area, second.area));
    return gma::combined_distance(area_weight, area, c, m);
}

void Join::_merge() {
    emd = std::make_unique<Solver>(math::optimization::PerceptualDistance<Eigen::Vector3d>(
        Eigen::Vector3d(color_weight, color_weight, color_weight)));
    const std::size_t capacity = nodes.size() * 2;
    std::vector<char> top_level(capacity, 0);
    std::fill(top_level.begin(), top_level.begin() + static_cast<std::ptrdiff_t>(nodes.size()), 1);
    nodes.reserve(capacity);
    gma::MergeGraph graph;
    graph.reset(capacity);
    graph.add_pairs([this](auto visit) {
        for (const auto& link : links) {
            visit(link.first, link.second);
        }
    });
    auto live = [&top_level](const gma::QueuedLink& key) {
        return top_level[key.first] && top_level[key.second()];
    };
    gma::MergeQueue<gma::QueuedLinkOrder, decltype(live)> queue(live);
    // Every link is measured from its higher label, as the tree measures a new region's links.
    std::vector<gma::QueuedLink> keys;
    keys.reserve(links.size());
    for (const auto& link : links) {
        keys.emplace_back(_distance(link.second, link.first), link.second, link.first,
                          gma::QueuedLink::exact);
    }
    std::vector<std::pair<Label, Label>>().swap(links);
    queue.push_all(std::move(keys));
    const std::uint64_t total = nodes.size() > 2 ? nodes.size() - 2 : 0;
    std::uint64_t regions = nodes.size();
    gma::QueuedLink closest;
    while (regions > 2 && queue.pop(closest)) {
        const Label a = closest.first;
        const Label b = closest.second();
        const Label merged = static_cast<Label>(nodes.size());
        nodes.emplace_back();
        Node& node = nodes.back();
        const Node& first = nodes[a];
        const Node& second = nodes[b];
        node.label = leaves + clip_merges + join_merges.size();
        node.area = first.area + second.area;
        node.first_frame = std::min(first.first_frame, second.first_frame);
        node.last_frame = std::max(first.last_frame, second.last_frame);
        node.frames.assign(static_cast<std::size_t>(node.last_frame - node.first_frame + 1),
                           gma::FlowFrame());
        // The pooled signature as a merged region's own: parts weighted by area, then fused.
        for (const Node* part : {&first, &second}) {
            for (std::size_t k = 0; k < part->frames.size(); ++k) {
                gma::FlowFrame& sum =
                    node.frames[static_cast<std::size_t>(part->first_frame - node.first_frame) + k];
                sum.flow_x += part->frames[k].flow_x;
                sum.flow_y += part->frames[k].flow_y;
                sum.reliability += part->frames[k].reliability;
                sum.points += part->frames[k].points;
            }
            for (std::size_t i = 0; i < part->colours.size(); ++i) {
                node.colours.push_back(part->colours[i]);
                node.weights.push_back(static_cast<double>(part->area) * part->weights[i] /
                                       static_cast<double>(node.area));
            }
        }
        ColourSignature::fuse(node.colours, node.weights, colour_parameters);
        for (Label child : {a, b}) {
            top_level[child] = 0;
            Node& gone = nodes[child];
            std::vector<gma::FlowFrame>().swap(gone.frames);
            std::vector<Eigen::Vector3d>().swap(gone.colours);
            std::vector<double>().swap(gone.weights);
        }
        top_level[merged] = 1;
        --regions;
        join_merges.push_back(
            io::TreeMerge{merged, a, b, static_cast<std::uint32_t>(regions), closest.distance});
        const std::vector<gma::MergeGraph::Label>& neighbours = graph.join(a, b, merged);
        for (const Label neighbour : neighbours) {
            queue.push(gma::QueuedLink(_distance(merged, neighbour), merged, neighbour,
                                       gma::QueuedLink::exact));
        }
        const std::uint64_t done = join_merges.size();
        if (settings.progressed && total > 0 && done * 10 / total != (done - 1) * 10 / total) {
            settings.progressed(done, total);
        }
    }
    emd.reset();
}

void Join::_write_tree() {
    io::TreeFileWriter writer(layout::tree_file_path(settings.output_directory), width, height,
                              plan.frames(), leaves);
    const std::uint64_t pixels = width * height;
    std::vector<Label> frame(static_cast<std::size_t>(pixels));
    for (const ClipPart& part : parts) {
        io::TreeFileReader tree(tree_path(part.directory));
        if (tree.width() != width || tree.height() != height ||
            tree.frames() != part.clip.frames() || tree.leaf_count() != part.leaves ||
            tree.merge_count() != part.merges) {
            throw VoradaError("Join: the tree of " + describe(part) +
                              " does not match its summary");
        }
        for (std::uint64_t t = 0; t < part.clip.frames(); ++t) {
            tree.read_leaves(t * pixels, pixels, frame.data());
            for (Label& leaf : frame) {
                leaf += static_cast<Label>(part.leaf_offset);
            }
            writer.add_leaves(frame.data(), pixels);
        }
    }
    for (const ClipPart& part : parts) {
        io::TreeFileReader tree(tree_path(part.directory));
        auto global = [&](std::uint32_t local) {
            return static_cast<std::uint32_t>(local < part.leaves ? part.leaf_offset + local
                                                                  : leaves + part.merge_offset +
                                                                        (local - part.leaves));
        };
        const std::vector<io::TreeMerge> merges = tree.read_merges();
        for (std::size_t i = 0; i < merges.size(); ++i) {
            const std::uint64_t index = part.merge_offset + i;
            writer.add(io::TreeMerge{
                global(merges[i].label), global(merges[i].first), global(merges[i].second),
                static_cast<std::uint32_t>(leaves - 1 - index), merges[i].distance});
        }
    }
    for (std::size_t i = 0; i < join_merges.size(); ++i) {
        const io::TreeMerge& merge = join_merges[i];
        const std::uint64_t index = clip_merges + i;
        writer.add(io::TreeMerge{static_cast<std::uint32_t>(nodes[merge.label].label),
                                 static_cast<std::uint32_t>(nodes[merge.first].label),
                                 static_cast<std::uint32_t>(nodes[merge.second].label),
                                 static_cast<std::uint32_t>(leaves - 1 - index), merge.distance});
    }
    writer.finish();
    // Where each clip's frames, leaves and merges lie in the tree, so that a cut can be replayed
    // a clip at a time.
    io::ClipIndex index;
    for (const ClipPart& part : parts) {
        index.clips.push_back(io::TreeClip{part.frame_offset, part.clip.frames(), part.leaf_offset,
                                           part.leaves, part.merge_offset, part.merges});
    }
    index.join_merges = join_merges.size();
    io::write_clip_index(layout::clip_index_path(settings.output_directory), index);
}

// One written level: how many merges of the global tree it follows, its file and colours, and
// the compact index of each label met so far (raster order over the whole video).
struct Level {
    unsigned long long level = 0;
    std::uint64_t applied = 0;  ///< merges of the global tree applied
    std::uint64_t regions = 0;
    std::unique_ptr<gma::SegmentationFrameWriter> writer;
    std::unordered_map<std::uint64_t, std::uint32_t> compact;
    std::vector<std::uint64_t> join_label;  ///< per node: global label of its region here
};

void Join::_write_segmentations() {
    const std::uint64_t total_merges = clip_merges + join_merges.size();
    // The levels the tree's own rule writes: after a merge that brings the count of regions
    // minus one to a level or below, the next level in line, one level per merge.
    std::vector<unsigned long long> wanted = settings.output_levels;
    std::sort(wanted.begin(), wanted.end(), std::greater<unsigned long long>());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::vector<Level> levels;
    std::size_t next = 0;
    for (std::uint64_t k = 0; k < total_merges && next < wanted.size(); ++k) {
        const std::uint64_t level_after = leaves - 2 - k;
        if (wanted[next] >= level_after) {
            Level level;
            level.level = wanted[next];
            level.applied = k + 1;
            level.regions = leaves - k - 1;
            levels.push_back(std::move(level));
            ++next;
        }
    }
    const bool images = settings.png_mode != io::PngMode::none;
    auto queue = std::make_unique<io::ImageWriteQueue>(
        io::ImageWriteQueue::workers_for(default_thread_count()), std::size_t(256) << 20,
        settings.png_mode);
    for (Level& level : levels) {
        const std::string directory =
            layout::segmentation_directory(settings.output_directory, level.level);
        fs::create_directories(directory);
        level.writer = std::make_unique<gma::SegmentationFrameWriter>(
            directory, width, height, plan.frames(), static_cast<std::size_t>(level.regions),
            queue.get());
        // The join's merges applied at this level, over the nodes.
        const std::uint64_t joined = level.applied > clip_merges ? level.applied - clip_merges : 0;
        std::vector<Label> parent(nodes.size(), none);
        for (std::uint64_t i = 0; i < joined; ++i) {
            parent[join_merges[i].first] = join_merges[i].label;
            parent[join_merges[i].second] = join_merges[i].label;
        }
        resolve_roots(parent);
        level.join_label.resize(nodes.size());
        for (std::size_t n = 0; n < nodes.size(); ++n) {
            level.join_label[n] = nodes[parent[n]].label;
        }
    }
    const std::uint64_t pixels = width * height;
    std::vector<std::uint32_t> leaf_map;
    std::vector<std::uint64_t> labels(static_cast<std::size_t>(pixels));
    std::vector<std::uint32_t> compact(static_cast<std::size_t>(pixels));
    std::vector<std::uint64_t> label_of;
    std::vector<Label> compact_of;  // per clip label: compact index of its region, once met
    for (const ClipPart& part : parts) {
        io::TreeFileReader tree(tree_path(part.directory));
        const std::vector<io::TreeMerge> merges = tree.read_merges();
        std::vector<Label> node_of(static_cast<std::size_t>(part.leaves + part.merges), none);
        for (std::size_t i = 0; i < part.labels.size(); ++i) {
            node_of[part.labels[i]] = part.nodes[i];
        }
        leaf_map.resize(static_cast<std::size_t>(pixels * part.clip.frames()));
        tree.read_leaves(0, leaf_map.size(), leaf_map.data());
        for (Level& level : levels) {
            // This clip's merges applied at the level: all of them once the level is past it.
            const std::uint64_t applied =
                level.applied <= part.merge_offset
                    ? 0
                    : std::min<std::uint64_t>(level.applied - part.merge_offset, part.merges);
            const std::vector<Label> top = top_labels(merges, part.leaves, applied);
            label_of.assign(top.size(), 0);
            compact_of.assign(top.size(), none);
            for (std::size_t l = 0; l < top.size(); ++l) {
                const Label root = top[l];
                if (applied == part.merges) {
                    if (node_of[root] == none) {
                        throw VoradaError("Join: the tree of " + describe(part) +
                                          " has a top-level region its summary does not list");
                    }
                    label_of[l] = level.join_label[node_of[root]];
                } else {
                    label_of[l] = root < part.leaves
                                      ? part.leaf_offset + root
                                      : leaves + part.merge_offset + (root - part.leaves);
                }
            }
            for (std::uint64_t t = 0; t < part.clip.frames(); ++t) {
                const std::uint32_t* leaf = leaf_map.data() + t * pixels;
                for (std::uint64_t i = 0; i < pixels; ++i) {
                    labels[i] = label_of[leaf[i]];
                    if (!images) {
                        continue;
                    }
                    Label& index = compact_of[leaf[i]];
                    if (index == none) {
                        auto found = level.compact.find(labels[i]);
                        if (found == level.compact.end()) {
                            found =
                                level.compact
                                    .emplace(labels[i], static_cast<Label>(level.compact.size()))
                                    .first;
                        }
                        index = found->second;
                    }
                    compact[i] = index;
                }
                level.writer->write_frame(labels.data(), compact.data());
            }
        }
    }
    for (Level& level : levels) {
        level.writer->commit();
    }
    queue->finish();
}

void Join::_move_cue_images() {
    for (const ClipPart& part : parts) {
        for (const char* folder : cue_folders) {
            const std::string from = part.directory + "/" + folder;
            if (!fs::is_directory(from)) {
                continue;
            }
            const std::string to = settings.output_directory + "/" + folder;
            fs::create_directories(to);
            for (std::uint64_t t = 0; t < part.clip.frames(); ++t) {
                const std::string source = layout::frame_image_path(from, t);
                if (fs::exists(source)) {
                    fs::rename(source, layout::frame_image_path(to, part.frame_offset + t));
                }
            }
        }
    }
}

JoinReport Join::run() {
    _read_summaries();
    _link_across_boundaries();
    _merge();
    const std::string tree_file = layout::tree_file_path(settings.output_directory);
    fs::create_directories(fs::path(tree_file).parent_path());
    _write_tree();
    _write_segmentations();
    _move_cue_images();
    JoinReport report;
    report.width = width;
    report.height = height;
    report.frames = plan.frames();
    report.leaves = leaves;
    report.clip_merges = clip_merges;
    report.join_merges = join_merges.size();
    report.start_regions = start_regions;
    return report;
}

}  // namespace

std::string clips_directory(const std::string& output_directory) {
    return output_directory + "/clips";
}

JoinReport join_clips(const Plan& plan, const JoinSettings& settings) {
    return Join(plan, settings).run();
}

void remove_clip_folders(const std::string& output_directory) {
    fs::remove_all(clips_directory(output_directory));
}

}  // namespace clips
}  // namespace vorada
