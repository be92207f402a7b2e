#include "prepare/prepare.h"

#include <signal.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cmath>
#include <cstdlib>
#include <future>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <vector>

#include "common/errors.h"
#include "common/parallel.h"
#include "io/atomicfile.h"
#include "layout/layout.h"
#include "layout/memorylimit.h"
#include "prepare/flow.h"
#include "prepare/framesource.h"
#include "prepare/progress.h"
#include "prepare/readframes.h"
#include "prepare/runadvice.h"
#include "prepare/shots.h"
#include "prepare/staging.h"

namespace vorada {
namespace prepare {
namespace {

namespace fs = boost::filesystem;

volatile sig_atomic_t interrupted = 0;

void note_interrupt(int) {
    interrupted = 1;
}

// Ctrl-C, SIGTERM or a closed terminal (SIGHUP) ends the run between two frames, so the private
// folder is removed; a second one kills.
class InterruptGuard {
  public:
    InterruptGuard() {
        struct sigaction action {};
        action.sa_handler = note_interrupt;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        interrupted = 0;
        for (int k = 0; k < 3; ++k) {
            sigaction(signals[k], nullptr, &previous[k]);
            if (previous[k].sa_handler != SIG_IGN) {  // nohup and the like keep their choice
                sigaction(signals[k], &action, nullptr);
            }
        }
    }
    ~InterruptGuard() {
        for (int k = 0; k < 3; ++k) {
            sigaction(signals[k], &previous[k], nullptr);
        }
    }

  private:
    static constexpr int signals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction previous[3]{};
};

// vseg reads each argument up to its first blank, so such a folder could not be segmented.
void check_output_name(const std::string& output_directory) {
    if (output_directory.empty() ||
        output_directory.find_first_of(" \t\n\r\f\v") != std::string::npos) {
        throw VoradaError("OUTPUT_DIR \"" + output_directory +
                          "\" must be non-empty and hold no blanks: vseg reads a path up to its "
                          "first blank");
    }
}

// The optical flow refuses frames below a size of its own (or crashes on them): say so first.
void check_flow_size(const cv::Size& size, const PrepareOptions& options) {
    const std::pair<int, int> smallest = smallest_flow_frame(options.flow);
    if (std::min(size.width, size.height) < smallest.first ||
        std::max(size.width, size.height) < smallest.second) {
        throw VoradaError(
            "Frames of " + std::to_string(size.width) + "x" + std::to_string(size.height) +
            " are too small for the optical flow: --flow " + flow_quality_name(options.flow) +
            " needs at least " +
            (smallest.first == smallest.second
                 ? std::to_string(smallest.first) + "x" + std::to_string(smallest.second) +
                       " pixels"
                 : std::to_string(smallest.first) + " pixels on the shorter side and " +
                       std::to_string(smallest.second) + " on the longer one"));
    }
}

std::string input_identity(const std::string& input) {
    boost::system::error_code error;
    const fs::path canonical = fs::canonical(input, error);
    return error ? fs::absolute(input).string() : canonical.string();
}

std::string shell_word(const std::string& word) {
    if (word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                               "_./+-:@%,=") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// vseg as the user can call it: by name when it is on the PATH, else beside this program
// (installed) or in the build tree.
std::string vseg_program() {
    boost::system::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        return "vseg";
    }
    for (const fs::path& candidate :
         {self.parent_path() / "vseg", self.parent_path().parent_path() / "driver" / "vseg"}) {
        if (!fs::exists(candidate, error)) {
            continue;
        }
        const char* path_variable = std::getenv("PATH");
        std::istringstream entries(path_variable ? path_variable : "");
        for (std::string entry; std::getline(entries, entry, ':');) {
            const fs::path on_path = fs::path(entry.empty() ? "." : entry) / "vseg";
            if (fs::exists(on_path, error) && fs::equivalent(on_path, candidate, error)) {
                return "vseg";
            }
        }
        return candidate.string();
    }
    return "vseg";
}

std::string make_record(const PrepareOptions& options,
                        const std::string& identity,
                        const PrepareResult& result) {
    std::ostringstream record;
    record << "input " << identity << "\n"
           << "frames " << result.frames << "\n"
           << "size " << result.width << "x" << result.height << "\n"
           << "first " << options.first << "\n"
           << "step " << options.step << "\n"
           << "flow " << flow_quality_name(options.flow) << "\n";
    return record.str();
}

// The work of one frame: its image, and the two flows between it and the frame before.
class FrameWriter {
  public:
    FrameWriter(const std::string& directory, FlowQuality quality, unsigned threads)
        : root(directory),
          policy(threads > 1 ? std::launch::async : std::launch::deferred),
          forward(make_flow_estimator(quality)),
          backward(make_flow_estimator(quality)) {}

    /// Starts writing frame k (and its flows to and from frame k-1 when `previous` is given).
    void start(unsigned long long k, cv::Mat colour, cv::Mat grey, cv::Mat previous) {
        jobs.push_back(std::async(policy, [this, k, colour] {
            const std::string path = layout::frame_path(root, k);
            // Encoded here and written by the project's writer, whose errors say why (a full
            // disk, say).
            std::vector<unsigned char> png;
            if (!cv::imencode(".png", colour, png)) {
                throw VoradaError(path + ": cannot encode this image");
            }
            io::write_file_atomically(path, png.data(), png.size());
        }));
        if (previous.empty()) {
            return;
        }
        jobs.push_back(std::async(policy, [this, k, grey, previous] {
            write_flow_file(layout::forward_flow_path(root, k - 1),
                            compute_flow(*forward, previous, grey));
        }));
        jobs.push_back(std::async(policy, [this, k, grey, previous] {
            write_flow_file(layout::backward_flow_path(root, k),
                            compute_flow(*backward, grey, previous));
        }));
    }

    /// Waits for the frame started last; raises the first failure of its jobs.
    void wait() {
        std::vector<std::future<void>> running;
        running.swap(jobs);
        for (auto& job : running) {
            job.wait();
        }
        for (auto& job : running) {
            job.get();
        }
    }

    ~FrameWriter() {
        for (auto& job : jobs) {
            if (job.valid()) {
                job.wait();
            }
        }
    }

  private:
    std::string root;
    std::launch policy;
    cv::Ptr<cv::DISOpticalFlow> forward, backward;
    std::vector<std::future<void>> jobs;
};

}  // namespace

const char* const recommended_vseg_numbers = "5 1.5 0.001 4";

PrepareResult run_prepare(const PrepareOptions& options, std::ostream& log, bool terminal) {
    check_output_name(options.output_directory);
    InterruptGuard interrupt_guard;
    std::unique_ptr<FrameSource> source = open_frame_source(options.input);
    const std::string identity = input_identity(options.input);
    Staging staging(options.output_directory, identity, options.force);

    const unsigned threads = options.threads > 0 ? options.threads : default_thread_count();
    // The two flows of a frame run side by side; each may use half the threads inside. Flows do
    // not depend on OpenCV's thread count.
    cv::setNumThreads(static_cast<int>(std::max(1u, threads / 2)));

    SelectedFrames frames(*source, options);
    const cv::Size size = frames.size();
    check_flow_size(size, options);

    unsigned long long wanted = options.count;
    if (wanted == 0 && source->expected_frames() > options.first) {
        wanted = (source->expected_frames() - options.first + options.step - 1) / options.step;
    }
    Progress progress(log, wanted, terminal);
    FrameWriter writer(staging.directory(), options.flow, threads);
    ShotDetector shots;
    PrepareResult result;
    result.width = size.width;
    result.height = size.height;
    cv::Mat previous_grey;
    for (cv::Mat colour; frames.take(colour); colour = cv::Mat()) {
        cv::Mat grey;
        cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
        writer.start(result.frames, colour, grey, previous_grey);
        shots.add(colour);
        ++result.frames;
        frames.read_next();  // while this one is written
        writer.wait();
        previous_grey = grey;
        progress.update(result.frames);
        if (interrupted) {
            throw VoradaError("interrupted; nothing was written to " + options.output_directory);
        }
    }
    frames.finish();
    progress.finish(result.frames);

    result.segments = shots.segments();
    const std::string shots_list = shots_text(result.segments);
    io::write_file_atomically(staging.directory() + "/" + shots_file_name, shots_list.data(),
                              shots_list.size());
    staging.commit(make_record(options, identity, result));
    const std::string output = shell_word(options.output_directory);
    const layout::MemoryLimit limit = layout::memory_limit();
    const VsegAdvice advice = advise_vseg_command(
        shell_word(vseg_program()) + " 0 " + std::to_string(result.frames - 1) + " " +
            recommended_vseg_numbers + " " + output + " " + output + "/segmentation",
        static_cast<unsigned long long>(size.width), static_cast<unsigned long long>(size.height),
        result.frames, result.segments, {limit.bytes, limit.source, default_thread_count()});
    result.vseg_command = advice.command;
    result.advice = advice.note;
    return result;
}

int prepare_main(
    int argc, const char* const* argv, std::ostream& out, std::ostream& err, bool terminal) {
    const std::string program = argc > 0 ? fs::path(argv[0]).filename().string() : "vseg-prepare";
    return layout::run_reporting_errors(
        [&] {
            const PrepareCommand command = parse_prepare_arguments(
                std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
            if (command.action == PrepareCommand::help) {
                out << prepare_usage_text(program);
                return 0;
            }
            if (command.action == PrepareCommand::version) {
                out << program << " " << layout::version_text() << "\n";
                return 0;
            }
            const PrepareResult result = run_prepare(command.options, err, terminal);
            err << "Wrote " << result.frames << " frames of " << result.width << "x"
                << result.height << " and their flows to " << command.options.output_directory
                << (result.advice.empty() ? "; segment them with:" : ". " + result.advice) << "\n";
            out << result.vseg_command << "\n" << std::flush;
            return 0;
        },
        err, program + ": ");
}

}  // namespace prepare
}  // namespace vorada
