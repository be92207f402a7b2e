#include "driver/pipeline.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>

#include "common/errors.h"
#include "common/parallel.h"
#include "distance/colorspaceconverter.h"
#include "distance/motioncolordistancemodel.h"
#include "driver/clipmode.h"
#include "driver/cueimages.h"
#include "driver/runrecord.h"
#include "driver/stopsignals.h"
#include "driver/tictoc.h"
#include "io/atomicfile.h"
#include "io/flowreader.h"
#include "io/imagewritequeue.h"
#include "io/outputlock.h"
#include "io/segmentation.h"
#include "io/treefile.h"
#include "layout/layout.h"
#include "layout/memorylimit.h"
#include "signals/raster.h"
#include "signals/temporalneighbors.h"
#include "tracking/trajectorytracking.h"
#include "tree/binarypartitiontree.h"

namespace vorada {
namespace gma {

void create_output_directory(const std::string& output_directory) {
    namespace fs = boost::filesystem;
    boost::system::error_code error;
    fs::create_directory(output_directory, error);
    if (!error) {
        return;
    }
    if (fs::is_directory(output_directory)) {
        return;
    }
    const fs::path parent = fs::absolute(output_directory).parent_path();
    boost::system::error_code ignored;
    if (!fs::is_directory(parent, ignored)) {
        throw VoradaError("Cannot create the output folder " + output_directory + ": " +
                          parent.string() + " does not exist");
    }
    if (fs::exists(output_directory, ignored)) {
        throw VoradaError("Cannot create the output folder " + output_directory +
                          ": a file of that name exists");
    }
    throw VoradaError("Cannot create the output folder " + output_directory + ": " +
                      error.message());
}

void create_output_tree(const std::string& output_directory) {
    create_output_directory(output_directory);
    for (const std::string& folder : layout::output_folders()) {
        boost::filesystem::create_directory(output_directory + "/" + folder);
    }
}

void check_run_fits_in_memory(unsigned long long first_frame,
                              unsigned long long frame_count,
                              unsigned long long width,
                              unsigned long long height,
                              unsigned long long jobs) {
    const double voxels =
        static_cast<double>(width) * static_cast<double>(height) * static_cast<double>(frame_count);
    const MemoryLimit limit = memory_limit();
    const double needed = estimated_run_bytes(voxels);
    note_memory_check(needed, limit);
    if (needed > limit.bytes) {
        std::ostringstream message;
        message << "Frames " << first_frame << " to " << first_frame + frame_count - 1 << " of "
                << width << "x" << height << " need about " << gibibytes(needed)
                << ", more than the " << gibibytes(limit.bytes)
                << " this run may use: " << limit.source;
        const unsigned long long fitting =
            jobs > 0 ? clip_frames_that_fit(width, height, jobs, limit.bytes) : 0;
        if (fitting > 0) {
            message << "; clip mode fits it: --clip-frames " << fitting;
            if (jobs > 1) {
                message << " --jobs " << jobs;
            }
        }
        throw VoradaError(message.str());
    }
}

void load_flows(Flow& forward_flow,
                Flow& backward_flow,
                const Video& video,
                const std::string& input_directory,
                unsigned long long first_frame) {
    const long long frames = video.size(2);
    forward_flow.resize(video.size(0), video.size(1), frames);
    backward_flow.resize(video.size(0), video.size(1), frames);
    for (long long t = 0; t + 1 < frames; ++t) {
        read_optical_flow(forward_flow, layout::forward_flow_path(input_directory, first_frame + t),
                          static_cast<unsigned long long>(t));
    }
    for (long long t = 1; t < frames; ++t) {
        read_optical_flow(backward_flow,
                          layout::backward_flow_path(input_directory, first_frame + t),
                          static_cast<unsigned long long>(t));
    }
}

TreeParameters make_tree_parameters(const std::vector<unsigned long long>& levels) {
    TreeParameters parameters;
    parameters.update_labels = true;
    parameters.min_regions = 1;
    parameters.output_levels = levels;
    return parameters;
}

SingleFlow single_precision(const Flow& flow) {
    SingleFlow single(flow.size(0), flow.size(1), flow.size(2));
    for (std::size_t i = 0; i < flow.values.size(); ++i) {
        const double value = flow.values[i];
        single.values[i] = static_cast<float>(value);
        // Flow files hold floats; anything else would not be kept exactly.
        if (static_cast<double>(single.values[i]) != value && !std::isnan(value)) {
            throw VoradaError("Flow value " + std::to_string(value) +
                              " has no exact single-precision form");
        }
    }
    return single;
}

DistanceParameters make_distance_parameters(const Arguments& arguments,
                                            const Video& video,
                                            Flow forward_flow,
                                            CueMap reliability,
                                            unsigned long long area_frames) {
    DistanceParameters parameters;
    parameters.flow = single_precision(forward_flow);
    forward_flow = Flow();
    parameters.num_colors = arguments.num_colors();
    parameters.color_weight = 1.0 / (arguments.color_scale * arguments.color_scale);
    parameters.motion_weight = 1.0 / (arguments.motion_scale * arguments.motion_scale);
    const long long voxels = video.size(0) * video.size(1) *
                             (area_frames ? static_cast<long long>(area_frames) : video.size(2));
    parameters.area_weight = 1.0 / (static_cast<double>(voxels) * arguments.area_fraction);
    if (!std::isfinite(parameters.area_weight)) {
        throw VoradaError("Invalid area fraction (argument 5): the area weight is not finite");
    }
    parameters.reliability_map = std::move(reliability);
    return parameters;
}

void write_cue_images(Tracker& tracker,
                      const std::string& output_directory,
                      io::ImageWriteQueue* queue) {
    if (queue && !queue->writes_images()) {
        return;
    }
    // One grey video at a time: occlusions, then flow variation, then structure.
    const std::pair<CueMap*, const char*> cues[] = {
        {&tracker.occlusion_map, "/occlusions"},
        {&tracker.flow_variation_map, "/flow_variation"},
        {&tracker.structure_tensor_map, "/structure_tensor"}};
    for (const auto& cue : cues) {
        Video image = convert_map_to_image(*cue.first);
        for (long long t = 0; t < image.size(2); ++t) {
            image.write_frame(layout::frame_image_path(output_directory + cue.second,
                                                       static_cast<unsigned long long>(t)),
                              static_cast<unsigned long long>(t), queue);
        }
    }
}

Video paint_trajectories(Tree::Partition& partition, const Video& video) {
    Video painted(video);
    ColorSpaceConverter<Video>().convert(painted, RGB);
    partition.refresh_current_labels();
    const auto& labels = partition.current_labels;
    const std::size_t region_count = partition.regions.size();
    for_each_point(labels, [&](long long x, long long y, long long t) {
        const unsigned long long label = *labels.at(x, y, t);
        if (label >= region_count) {
            throw VoradaError("Partition: region index not found.");
        }
        const Region& region = partition.regions[static_cast<std::size_t>(label)];
        if (region.last_frame - region.first_frame >= 2) {
            double* value = painted.at(x, y, t);
            value[0] = 255;
            value[1] = 0;
            value[2] = 0;
        }
    });
    return painted;
}

void write_trajectory_images(Tree& tree,
                             const Video& video,
                             const std::string& output_directory,
                             io::ImageWriteQueue* queue) {
    Video painted = paint_trajectories(tree.partition, video);
    for (long long t = 0; t < painted.size(2); ++t) {
        const auto frame = static_cast<unsigned long long>(t);
        painted.write_frame(layout::frame_image_path(output_directory + "/trajectories", frame),
                            frame, queue);
    }
}

void report_segmentations(Tree& tree,
                          const Video& video,
                          const std::string& output_directory,
                          io::ImageWriteQueue* queue) {
    tree.reports.level_reached = [&tree, &video, output_directory,
                                  queue](unsigned long long level) {
        const std::string directory = layout::segmentation_directory(output_directory, level);
        boost::filesystem::create_directory(directory);
        write_segmentation(tree.partition.current_labels, video, directory, queue);
    };
}

void report_progress(Tree& tree, ProgressLines& lines) {
    tree.reports.progressed = [&lines](unsigned long long done, unsigned long long total) {
        lines.merged(done, total);
    };
}

static_assert(sizeof(unsigned long long) == sizeof(std::uint64_t), "labels are 64-bit");

std::unique_ptr<io::TreeFileWriter> record_tree(Tree& tree, const std::string& output_directory) {
    return record_tree_in(tree, tree_file_path(output_directory));
}

std::unique_ptr<io::TreeFileWriter> record_tree_in(Tree& tree, const std::string& path) {
    const auto& leaves = tree.partition.leaf_labels;
    auto writer = std::make_unique<io::TreeFileWriter>(
        path, static_cast<std::uint64_t>(leaves.size(0)),
        static_cast<std::uint64_t>(leaves.size(1)), static_cast<std::uint64_t>(leaves.size(2)),
        reinterpret_cast<const std::uint64_t*>(leaves.values.data()), tree.partition.max_index + 1);
    io::TreeFileWriter* file = writer.get();
    tree.reports.merged = [file](const Tree::Merge& merge) {
        file->add(io::TreeMerge{static_cast<std::uint32_t>(merge.label),
                                static_cast<std::uint32_t>(merge.first),
                                static_cast<std::uint32_t>(merge.second),
                                static_cast<std::uint32_t>(merge.regions), merge.distance});
    };
    return writer;
}

void write_input_record(const Arguments& arguments) {
    layout::write_input_record(arguments.output_directory,
                               {boost::filesystem::absolute(arguments.input_directory).string(),
                                arguments.first_frame, arguments.last_frame});
}

LeafPartition build_leaf_partition(const Arguments& arguments,
                                   Video& video,
                                   unsigned long long first_frame,
                                   const TreeParameters& tree_parameters,
                                   unsigned long long area_frames,
                                   const std::string& folder,
                                   io::ImageWriteQueue& queue,
                                   const std::function<void(const std::string&)>& stage_done) {
    const unsigned long long frame_count = video.frames;
    load_frames(video, arguments.input_directory, first_frame, frame_count);
    ColorSpaceConverter<Video>().convert(video, CIELab);
    Flow forward_flow, backward_flow;
    load_flows(forward_flow, backward_flow, video, arguments.input_directory, first_frame);
    stage_done("loading");
    return partition_signals(arguments, video, std::move(forward_flow), std::move(backward_flow),
                             tree_parameters, area_frames, folder, queue, stage_done);
}

LeafPartition partition_signals(const Arguments& arguments,
                                Video& video,
                                Flow forward_flow,
                                Flow backward_flow,
                                const TreeParameters& tree_parameters,
                                unsigned long long area_frames,
                                const std::string& folder,
                                io::ImageWriteQueue& queue,
                                const std::function<void(const std::string&)>& stage_done) {
    // The tracker's maps are needed only until the cue images and the reliability copy exist.
    auto tracker = std::make_unique<Tracker>(video.size);
    LabelVolume trajectory_labels = tracker->calculate(video, forward_flow, backward_flow);
    stage_done("tracking");

    LeafPartition result;
    result.tree = std::make_unique<Tree>(tree_parameters);
    Tree& tree = *result.tree;
    // The distance parameters take the flow and the reliability map over once nothing else
    // reads them (their values are those of the copies the parameters are said to hold).
    CueMap reliability = std::move(tracker->reliability_map);
    write_cue_images(*tracker, folder, &queue);
    tracker.reset();
    stage_done("cue_images");

    tree.init(trajectory_labels);
    trajectory_labels = LabelVolume();
    tree.partition.label_map.clear();  // tracker labels are not looked up again
    add_temporal_neighbors(video, tree.partition, forward_flow, backward_flow,
                           tree.partition.leaf_labels, 0);
    backward_flow = Flow();
    // Handed over to the distance model when the tree starts: the signals are not copied.
    result.distance_parameters = std::make_unique<DistanceParameters>(make_distance_parameters(
        arguments, video, std::move(forward_flow), std::move(reliability), area_frames));
    stage_done("partition");

    if (queue.writes_images()) {
        write_trajectory_images(tree, video, folder, &queue);
    }
    return result;
}

int run_vseg(int argc, const char* const* argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << usage_text(argv[0]);
        return 0;
    }
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "vseg " << layout::version_text() << "\n";
        return 0;
    }
    Arguments arguments;
    if (argc < 9 || !parse_options(argc, argv, arguments = parse_arguments(argv))) {
        std::cerr << usage_text(argc > 0 ? argv[0] : "vseg");
        return 2;
    }
    RunRecord record;
    record.arguments.assign(argv + 1, argv + argc);
    reject_negative_frame_numbers(arguments);
    const bool empty_range = arguments.first_frame > arguments.last_frame;
    if (!empty_range) {
        // A refused run touches nothing: the checks come before the output folder.
        validate_run_arguments(arguments);
        if (arguments.clip_frames > 0) {
            return run_clip_mode(arguments, record, argc, argv);
        }
        check_frames_fit_in_memory(arguments.input_directory, arguments.first_frame,
                                   arguments.frame_count(), arguments.jobs);
    }
    return run_pipeline(arguments, record);
}

int run_pipeline(const Arguments& arguments, RunRecord& record) {
    const bool empty_range = arguments.first_frame > arguments.last_frame;
    create_output_directory(arguments.output_directory);
    // One run at a time in a folder, or run.json could name one run over another's files.
    const io::OutputLock output_lock(arguments.output_directory);
    // From here until the run completes, no run.json says that the files are a finished run.
    remove_run_record(arguments.output_directory);
    create_output_tree(arguments.output_directory);
    if (empty_range) {
        write_run_record(arguments.output_directory, record);
        return 0;
    }
    // The tree of an earlier run in this directory would not match what this run writes.
    boost::filesystem::remove(layout::tree_file_path(arguments.output_directory));
    boost::filesystem::remove(layout::clip_index_path(arguments.output_directory));
    boost::filesystem::remove(layout::input_record_path(arguments.output_directory));
    const unsigned long long frame_count = arguments.frame_count();
    // Frame images are encoded on the other cores while the tree is built. The queue forks its
    // writer processes, so it comes before anything that starts threads or fills memory.
    auto image_writer = std::make_unique<io::ImageWriteQueue>(
        io::ImageWriteQueue::workers_for(default_thread_count()), std::size_t(256) << 20,
        arguments.png_mode);
    // A stopped run takes its writers and its unfinished files with it.
    const StopSignalHandling stop_signal_handling;
    StageClock clock(record);

    Video video(frame_count);
    TicToc stopwatch;
    LeafPartition leaf_partition = build_leaf_partition(
        arguments, video, arguments.first_frame, make_tree_parameters(arguments.levels), 0,
        arguments.output_directory, *image_writer, [&](const std::string& stage) {
            clock.stop(stage);
            if (stage == "tracking") {
                stopwatch.tic("BPT algorithm");
            }
        });
    Tree* tree = leaf_partition.tree.get();
    record.width = static_cast<unsigned long long>(video.size(0));
    record.height = static_cast<unsigned long long>(video.size(1));
    record.frames = frame_count;
    record.leaf_regions = tree->partition.max_index + 1;
    report_segmentations(*tree, video, arguments.output_directory, image_writer.get());
    std::unique_ptr<io::TreeFileWriter> tree_file = record_tree(*tree, arguments.output_directory);
    ProgressLines progress(std::cerr, 0.1);
    report_progress(*tree, progress);
    progress.start(tree->partition.max_index + 1);
    tree->create<DistanceModel>(video, std::move(*leaf_partition.distance_parameters));
    leaf_partition.distance_parameters.reset();
    tree_file->finish();
    write_input_record(arguments);
    clock.stop("tree");
    image_writer->finish();
    stopwatch.toc("BPT algorithm");
    image_writer.reset();  // the writer processes end here
    clock.stop("output");
    write_run_record(arguments.output_directory, record, StopSignalHandling::run_complete);
    return 0;
}

int vseg_main(int argc, const char* const* argv) {
    return layout::run_reporting_errors([&] {
        try {
            return run_vseg(argc, argv);
        } catch (const std::bad_alloc&) {
            // The run's memory is released by now: the message can be made.
            const std::string note = memory_check_note();
            throw VoradaError("Memory ran out" + (note.empty() ? "" : ": " + note));
        }
    });
}

}  // namespace gma
}  // namespace vorada
