#include "driver/clipmode.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "clips/join.h"
#include "common/childsignals.h"
#include "common/errors.h"
#include "common/parallel.h"
#include "driver/pipeline.h"
#include "driver/stopsignals.h"
#include "io/imagewritequeue.h"
#include "io/outputlock.h"
#include "layout/memorylimit.h"

namespace vorada {
namespace gma {

namespace {

using Motion = FlowSums<SingleFlow, DistanceModel::ReliabilitySignal>;

std::string frames_text(const clips::Clip& clip) {
    return "frames " + std::to_string(clip.first) + " to " + std::to_string(clip.last);
}

// The regions a clip's merging stopped at, with their descriptors, and their adjacency.
void summarise_top_level(Tree& tree,
                         DistanceModel& model,
                         Video& video,
                         clips::ClipSummary& summary) {
    DescriptorManager& manager = tree.descriptor_manager;
    for (Region& region : tree.partition.regions) {
        if (region.parent) {
            continue;
        }
        // Present for every region the merging measured; computed here for one it never did.
        model.prepare_descriptors(region, video, manager);
        clips::ClipRegion summarised;
        summarised.label = static_cast<std::uint32_t>(region.label);
        {
            const SignatureView colour = manager.calc_descriptor<ColorSignature<Video>>(
                video, region, ColorMeanDescriptorParameters{});
            summarised.area = colour.area;
            summarised.colours.assign(colour.features.begin(), colour.features.end());
            summarised.weights.assign(colour.weights.begin(), colour.weights.end());
        }
        const FlowSumsView motion =
            manager.calc_descriptor<Motion>(model.flow, region, Motion::Parameters{});
        summarised.first_frame = motion.first_frame;
        summarised.last_frame = motion.last_frame;
        const std::size_t span =
            motion.last_frame >= motion.first_frame
                ? static_cast<std::size_t>(motion.last_frame - motion.first_frame + 1)
                : 0;
        summarised.frames.assign(motion.frames.begin(), motion.frames.end());
        summarised.frames.resize(span);
        summary.regions.push_back(std::move(summarised));
    }
    summary.links = tree.top_level_links();
}

// The last line of a child's standard error, kept while the child writes.
struct Child {
    pid_t pid = -1;
    int error_pipe = -1;
    std::size_t clip = 0;
    std::string pending, last_line;

    void take(const char* data, std::size_t size) {
        pending.append(data, size);
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line.find_first_not_of(" \t\r") != std::string::npos) {
                last_line = line;
            }
        }
    }
    std::string final_line() const {
        return pending.find_first_not_of(" \t\r") != std::string::npos ? pending : last_line;
    }
};

Child start_clip(const std::vector<std::string>& words, std::size_t clip) {
    std::vector<std::string> own(words);
    own.push_back("--clip");
    own.push_back(std::to_string(clip));
    std::vector<char*> argv;
    for (std::string& word : own) {
        argv.push_back(&word[0]);
    }
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw VoradaError(std::string("Cannot start clip ") + std::to_string(clip) + ": " +
                          std::strerror(errno));
    }
    // Stops wait while the child starts and is registered, so a stop ends it too.
    const BlockedStopSignals blocked;
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        throw VoradaError("Cannot start clip " + std::to_string(clip) + ": " +
                          std::strerror(error));
    }
    if (pid == 0) {
        ::dup2(fds[1], STDERR_FILENO);
        default_stop_handlers();
        blocked.restore();
        ::execv("/proc/self/exe", argv.data());
        const std::string message = std::string("Cannot run vseg: ") + std::strerror(errno) + "\n";
        ssize_t ignored = ::write(STDERR_FILENO, message.data(), message.size());
        (void)ignored;
        ::_exit(127);
    }
    ::close(fds[1]);
    StopSignalHandling::add_child(pid);
    Child child;
    child.pid = pid;
    child.error_pipe = fds[0];
    child.clip = clip;
    return child;
}

// Waits for a child whose standard error has closed; its exit status.
int wait_for(Child& child) {
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    StopSignalHandling::remove_child(child.pid);
    ::close(child.error_pipe);
    child.error_pipe = -1;
    return status;
}

void stop_all(std::vector<Child>& running) {
    for (Child& child : running) {
        ::kill(child.pid, SIGTERM);
    }
    for (Child& child : running) {
        wait_for(child);
    }
    running.clear();
}

}  // namespace

void check_clips_fit_in_memory(unsigned long long width,
                               unsigned long long height,
                               unsigned long long clip_frames,
                               unsigned long long jobs) {
    const double voxels =
        static_cast<double>(width) * static_cast<double>(height) * static_cast<double>(clip_frames);
    const MemoryLimit limit = memory_limit();
    const double needed = static_cast<double>(jobs) * estimated_run_bytes(voxels);
    note_memory_check(needed, limit);
    if (needed > limit.bytes) {
        std::ostringstream message;
        message << "Clips of " << clip_frames << " frames of " << width << "x" << height << ", "
                << jobs << " at once, need about " << gibibytes(needed) << ", more than the "
                << gibibytes(limit.bytes) << " this run may use: " << limit.source;
        const unsigned long long fitting = clip_frames_that_fit(width, height, jobs, limit.bytes);
        if (fitting > 0) {
            message << "; --clip-frames " << fitting << " fits";
        } else if (jobs > 1) {
            message << "; use fewer --jobs";
        }
        throw VoradaError(message.str());
    }
}

void run_clip(const Arguments& arguments, const clips::Plan& plan, unsigned long long index) {
    const clips::Clip& clip = plan.clips.at(static_cast<std::size_t>(index));
    const unsigned long long frame_count = clip.frames();
    check_frames_fit_in_memory(arguments.input_directory, clip.first, frame_count, 1);
    const std::string output = arguments.output_directory;
    create_output_directory(output);
    create_output_directory(clips::clips_directory(output));
    const std::string folder = clips::clip_directory(output, index);
    create_output_directory(folder);
    const io::OutputLock lock(folder);
    // Until the new summary is written, the folder holds no complete clip.
    const std::string summary_path = folder + "/" + clips::clip_summary_name;
    boost::filesystem::remove(summary_path);
    for (const char* sub : {"occlusions", "flow_variation", "structure_tensor", "trajectories"}) {
        boost::filesystem::create_directory(folder + "/" + sub);
    }
    auto image_writer = std::make_unique<io::ImageWriteQueue>(
        io::ImageWriteQueue::workers_for(default_thread_count()), std::size_t(256) << 20,
        arguments.png_mode);
    const StopSignalHandling stop_signal_handling;

    // A whole run's steps, except that the merging stops at clip_regions regions, writes no
    // level, and weighs areas against the whole run.
    TreeParameters tree_parameters = make_tree_parameters({});
    tree_parameters.min_regions = arguments.clip_regions - 1;
    Video video(frame_count);
    LeafPartition leaf_partition =
        build_leaf_partition(arguments, video, clip.first, tree_parameters, plan.frames(), folder,
                             *image_writer, [](const std::string&) {});
    std::unique_ptr<Tree>& tree = leaf_partition.tree;

    clips::ClipSummary summary;
    summary.clip = clip.index;
    summary.segment = clip.segment;
    summary.first_frame = clip.first;
    summary.frames = frame_count;
    summary.width = static_cast<std::uint64_t>(video.size(0));
    summary.height = static_cast<std::uint64_t>(video.size(1));
    summary.color_scale = arguments.color_scale;
    summary.motion_scale = arguments.motion_scale;
    summary.area_fraction = arguments.area_fraction;
    summary.num_colors = arguments.num_colors();
    summary.run_voxels = summary.width * summary.height * plan.frames();
    summary.leaves = tree->partition.max_index + 1;
    std::unique_ptr<io::TreeFileWriter> tree_file = record_tree_in(*tree, folder + "/tree.bpt");
    ProgressLines progress(std::cerr, 0.1);
    report_progress(*tree, progress);
    progress.start(tree->partition.max_index + 1);
    tree->create<DistanceModel>(
        video, std::move(*leaf_partition.distance_parameters),
        [&](DistanceModel& model) { summarise_top_level(*tree, model, video, summary); });
    leaf_partition.distance_parameters.reset();
    summary.merges = tree->last_index + 1 - summary.leaves;
    tree_file->finish();
    image_writer->finish();
    image_writer.reset();
    tree.reset();
    clips::write_clip_summary(summary_path, summary);
}

void segment_clips_in_children(const clips::Plan& plan,
                               unsigned long long jobs,
                               int argc,
                               const char* const* argv) {
    const std::vector<std::string> words(argv, argv + argc);
    std::vector<Child> running;
    std::size_t next = 0, done = 0;
    const std::size_t total = plan.clips.size();
    try {
        while (done < total) {
            while (running.size() < jobs && next < total) {
                running.push_back(start_clip(words, next++));
            }
            std::vector<pollfd> watched;
            for (const Child& child : running) {
                watched.push_back(pollfd{child.error_pipe, POLLIN, 0});
            }
            if (::poll(watched.data(), watched.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw VoradaError(std::string("Waiting for the clips: ") + std::strerror(errno));
            }
            for (std::size_t i = running.size(); i-- > 0;) {
                if (watched[i].revents == 0) {
                    continue;
                }
                Child& child = running[i];
                char buffer[4096];
                const ssize_t got = ::read(child.error_pipe, buffer, sizeof buffer);
                if (got > 0) {
                    child.take(buffer, static_cast<std::size_t>(got));
                    continue;
                }
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                // Its standard error closed: the clip has ended.
                const int status = wait_for(child);
                const clips::Clip& clip = plan.clips[child.clip];
                const std::string line = child.final_line();
                Child ended = child;
                running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
                if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                    std::string message = "Clip " + std::to_string(ended.clip) + " (" +
                                          frames_text(clip) + ") failed";
                    if (WIFSIGNALED(status)) {
                        message += ", ended by signal " + std::to_string(WTERMSIG(status));
                    }
                    throw VoradaError(message + (line.empty() ? "" : ": " + line));
                }
                ++done;
                std::cerr << "Clip " << ended.clip << " (" << frames_text(clip) << ") done, "
                          << done << " of " << total << std::endl;
            }
        }
    } catch (...) {
        stop_all(running);
        throw;
    }
}

int run_clip_mode(const Arguments& arguments,
                  RunRecord& record,
                  int argc,
                  const char* const* argv) {
    const clips::Plan plan = clips::plan_clips(arguments.input_directory, arguments.first_frame,
                                               arguments.last_frame, arguments.clip_frames);
    const bool one_clip = plan.clips.size() == 1;
    if (arguments.single_clip) {
        if (arguments.clip >= plan.clips.size()) {
            throw VoradaError("Invalid --clip " + std::to_string(arguments.clip) +
                              ": the plan has " + std::to_string(plan.clips.size()) +
                              " clips, 0 to " + std::to_string(plan.clips.size() - 1));
        }
        if (one_clip) {
            // Segmented as a whole run by --join, so that the result is that of one command.
            std::cerr << "Clip 0 is the whole range: --join segments it" << std::endl;
            return 0;
        }
        run_clip(arguments, plan, arguments.clip);
        return 0;
    }
    if (one_clip) {
        check_frames_fit_in_memory(arguments.input_directory, arguments.first_frame,
                                   arguments.frame_count(), arguments.jobs);
        return run_pipeline(arguments, record);
    }
    unsigned long long width = 0, height = 0;
    frame_size(arguments.input_directory, arguments.first_frame, width, height);
    const unsigned long long jobs = std::min<unsigned long long>(arguments.jobs, plan.clips.size());
    if (!arguments.join_only) {
        unsigned long long longest = 0;
        for (const clips::Clip& clip : plan.clips) {
            longest = std::max<unsigned long long>(longest, clip.frames());
        }
        check_clips_fit_in_memory(width, height, longest, jobs);
    }
    const std::string output = arguments.output_directory;
    create_output_directory(output);
    const io::OutputLock output_lock(output);
    remove_run_record(output);
    const StopSignalHandling stop_signal_handling;
    StageClock clock(record);
    if (!arguments.join_only) {
        segment_clips_in_children(plan, jobs, argc, argv);
        clock.stop("clips");
    }
    create_output_tree(output);
    boost::filesystem::remove(tree_file_path(output));
    boost::filesystem::remove(layout::clip_index_path(output));
    boost::filesystem::remove(output + "/trees/input.txt");
    clips::JoinSettings settings;
    settings.input_directory = arguments.input_directory;
    settings.output_directory = output;
    settings.color_scale = arguments.color_scale;
    settings.motion_scale = arguments.motion_scale;
    settings.area_fraction = arguments.area_fraction;
    settings.num_colors = arguments.num_colors();
    settings.output_levels = arguments.levels;
    settings.png_mode = arguments.png_mode;
    settings.progressed = [](unsigned long long done, unsigned long long total) {
        std::cerr << "Joined " << done * 100 / std::max<unsigned long long>(total, 1) << "% "
                  << std::endl;
    };
    const clips::JoinReport report = clips::join_clips(plan, settings);
    record.width = report.width;
    record.height = report.height;
    record.frames = report.frames;
    record.leaf_regions = report.leaves;
    write_input_record(arguments);
    clock.stop("join");
    clips::remove_clip_folders(output);
    write_run_record(output, record, StopSignalHandling::run_complete);
    return 0;
}

}  // namespace gma
}  // namespace vorada
