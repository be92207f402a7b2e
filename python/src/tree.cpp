// Segmenting arrays, and the tree of a run: read, written, cut at a number of regions.

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cut/cut.h"
#include "driver/pipeline.h"
#include "driver/segmentarrays.h"
#include "io/segmentation.h"
#include "io/treefile.h"
#include "python/src/helpers.h"

namespace vseg_python {
namespace {

using vorada::gma::Flow;
using vorada::gma::Video;
using vorada::io::TreeFile;

// The tree stages draw on allocators shared by the whole process, so one run at a time builds
// a tree; the others wait (without the GIL, still answering Ctrl-C). Taken by the caller's
// thread and given back by the run's worker thread.
class TreeStageSlot {
  public:
    bool take_within(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex);
        if (!free.wait_for(lock, wait, [this] { return !busy; })) {
            return false;
        }
        busy = true;
        return true;
    }
    void give_back() {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            busy = false;
        }
        free.notify_one();
    }

  private:
    std::mutex mutex;
    std::condition_variable free;
    bool busy = false;
};
TreeStageSlot tree_stage;

// A tree built on a worker thread while the caller waits for it, answering Ctrl-C. A run the
// caller gave up on stops at its next stage or merge; until then it runs on, and the
// interpreter's exit waits for it.
struct TreeJob {
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    TreeFile result;
    std::exception_ptr failure;
};

struct RunStopped {};

std::mutex stopped_runs_mutex;
std::vector<std::thread> stopped_runs;

void join_stopped_runs() {
    std::vector<std::thread> runs;
    {
        const std::lock_guard<std::mutex> lock(stopped_runs_mutex);
        runs.swap(stopped_runs);
    }
    py::gil_scoped_release no_gil;
    for (std::thread& run : runs) {
        run.join();
    }
}

// Waits for the job, checking for signals; when one raises, the job is told to stop, left to
// end on its own and the exception goes on.
void wait_for(TreeJob& job, std::thread& worker) {
    SignalCheck check;
    std::unique_lock<std::mutex> lock(job.mutex);
    while (
        !job.finished.wait_for(lock, std::chrono::milliseconds(50), [&job] { return job.done; })) {
        lock.unlock();
        try {
            check();
        } catch (...) {
            job.stop = true;
            const std::lock_guard<std::mutex> runs_lock(stopped_runs_mutex);
            stopped_runs.push_back(std::move(worker));
            throw;
        }
        lock.lock();
    }
    lock.unlock();
    worker.join();
}

// Copies pairs (T − 1, H, W, 2) into frames `first` … `first` + T − 2 of the flow, refusing NaN
// and infinities with the argument's name.
void fill_flow(Flow& flow, const py::array& pairs, long long first, const char* name) {
    const auto* values = static_cast<const float*>(pairs.data());
    const std::size_t frame_values =
        static_cast<std::size_t>(flow.size(0)) * static_cast<std::size_t>(flow.size(1)) * 2;
    double* out = flow.values.data() + static_cast<std::size_t>(first) * frame_values;
    const std::size_t total = static_cast<std::size_t>(pairs.size());
    for (std::size_t i = 0; i < total; ++i) {
        if (!std::isfinite(values[i])) {
            const std::size_t pixel = i / 2;
            const std::size_t width = static_cast<std::size_t>(flow.size(0));
            const std::size_t frame_pixels = width * static_cast<std::size_t>(flow.size(1));
            throw py::value_error(std::string(name) + " holds a non-finite value at [" +
                                  std::to_string(pixel / frame_pixels) + ", " +
                                  std::to_string(pixel % frame_pixels / width) + ", " +
                                  std::to_string(pixel % width) + ", " + std::to_string(i % 2) +
                                  "]");
        }
        out[i] = static_cast<double>(values[i]);
    }
}

std::unique_ptr<TreeFile> segment(const py::array& frames,
                                  const py::array& forward,
                                  const py::array& backward,
                                  double color_scale,
                                  double motion_scale,
                                  double area_fraction,
                                  double num_colors) {
    require_c_array<std::uint8_t>(frames, "frames");
    require_c_array<float>(forward, "forward");
    require_c_array<float>(backward, "backward");
    const auto t_size = static_cast<long long>(frames.shape(0));
    const auto y_size = static_cast<long long>(frames.shape(1));
    const auto x_size = static_cast<long long>(frames.shape(2));
    vorada::gma::Arguments arguments;
    arguments.color_scale = color_scale;
    arguments.motion_scale = motion_scale;
    arguments.area_fraction = area_fraction;
    arguments.dominant_colors = num_colors;
    SignalCheck check;
    auto job = std::make_shared<TreeJob>();
    {
        py::gil_scoped_release no_gil;
        while (!tree_stage.take_within(std::chrono::milliseconds(50))) {
            check();
        }
        std::thread worker;
        try {
            vorada::gma::check_run_fits_in_memory(0, static_cast<unsigned long long>(t_size),
                                                  static_cast<unsigned long long>(x_size),
                                                  static_cast<unsigned long long>(y_size));
            // The frames as vseg loads them: RGB doubles in the same x, y, t order.
            Video video(static_cast<unsigned long long>(t_size));
            video.size_on_frame(static_cast<unsigned long long>(x_size),
                                static_cast<unsigned long long>(y_size));
            const auto* pixels = static_cast<const std::uint8_t*>(frames.data());
            std::copy(pixels, pixels + video.values.size(), video.values.begin());
            Flow forward_flow, backward_flow;
            forward_flow.resize(x_size, y_size, t_size);
            fill_flow(forward_flow, forward, 0, "forward");
            backward_flow.resize(x_size, y_size, t_size);
            fill_flow(backward_flow, backward, 1, "backward");
            worker = std::thread([job, arguments, video = std::move(video),
                                  forward_flow = std::move(forward_flow),
                                  backward_flow = std::move(backward_flow)]() mutable {
                try {
                    job->result =
                        vorada::gma::build_tree(std::move(video), std::move(forward_flow),
                                                std::move(backward_flow), arguments, [&job] {
                                                    if (job->stop) {
                                                        throw RunStopped();
                                                    }
                                                });
                } catch (...) {
                    job->failure = std::current_exception();
                }
                tree_stage.give_back();
                const std::lock_guard<std::mutex> lock(job->mutex);
                job->done = true;
                job->finished.notify_all();
            });
        } catch (...) {
            tree_stage.give_back();
            throw;
        }
        wait_for(*job, worker);
    }
    if (job->failure) {
        std::rethrow_exception(job->failure);
    }
    return std::make_unique<TreeFile>(std::move(job->result));
}

// The structured dtype of merge records, laid over io::TreeMerge.
py::dtype merge_dtype() {
    py::list names, formats, offsets;
    for (const char* name : {"first", "second", "label", "regions", "distance"}) {
        names.append(name);
    }
    for (const char* format : {"<u4", "<u4", "<u4", "<u4", "<f8"}) {
        formats.append(format);
    }
    for (std::size_t offset :
         {offsetof(vorada::io::TreeMerge, first), offsetof(vorada::io::TreeMerge, second),
          offsetof(vorada::io::TreeMerge, label), offsetof(vorada::io::TreeMerge, regions),
          offsetof(vorada::io::TreeMerge, distance)}) {
        offsets.append(offset);
    }
    py::dict fields;
    fields["names"] = names;
    fields["formats"] = formats;
    fields["offsets"] = offsets;
    fields["itemsize"] = sizeof(vorada::io::TreeMerge);
    return py::dtype::from_args(fields);
}

std::vector<py::ssize_t> volume_shape(const TreeFile& tree) {
    return {static_cast<py::ssize_t>(tree.frames), static_cast<py::ssize_t>(tree.height),
            static_cast<py::ssize_t>(tree.width)};
}

// Dense labels 0 … n − 1, numbered by first appearance in raster order, after `merges` merges.
py::array_t<std::int32_t> labels_after(const TreeFile& tree, std::uint64_t merges) {
    if (merges > tree.merges.size()) {
        throw py::value_error("the tree holds only " + std::to_string(tree.merges.size()) +
                              " merges");
    }
    std::vector<std::uint32_t> dense;
    {
        py::gil_scoped_release no_gil;
        vorada::gma::LabelVolume labels;
        vorada::io::labels_after(tree, merges, labels.values);
        std::size_t regions = 0;
        dense = vorada::gma::compact_segment_indices(labels, regions);
    }
    return owning_array<std::int32_t>(std::move(dense), volume_shape(tree));
}

void write_tree(const TreeFile& tree, const std::string& path) {
    py::gil_scoped_release no_gil;
    const std::vector<std::uint64_t> leaves(tree.leaves.begin(), tree.leaves.end());
    vorada::io::TreeFileWriter writer(path, tree.width, tree.height, tree.frames, leaves.data(),
                                      tree.leaf_count);
    for (const vorada::io::TreeMerge& merge : tree.merges) {
        writer.add(merge);
    }
    writer.finish();
}

}  // namespace

void bind_tree(py::module_& module) {
    using namespace pybind11::literals;
    py::class_<TreeFile>(module, "Tree", "Leaves and merges of a binary partition tree.")
        .def_static(
            "read",
            [](const std::string& path) {
                py::gil_scoped_release no_gil;
                return std::make_unique<TreeFile>(vorada::io::read_tree_file(path));
            },
            "path"_a, "Reads a tree file.")
        .def("write", &write_tree, "path"_a, "Writes the tree file.")
        .def_readonly("width", &TreeFile::width)
        .def_readonly("height", &TreeFile::height)
        .def_readonly("frames", &TreeFile::frames)
        .def_readonly("leaf_count", &TreeFile::leaf_count)
        .def_property_readonly(
            "leaves",
            [](py::object self) {
                const auto& tree = self.cast<const TreeFile&>();
                py::array_t<std::uint32_t> view(volume_shape(tree), tree.leaves.data(), self);
                py::detail::array_proxy(view.ptr())->flags &=
                    ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
                return view;
            },
            "Leaf label of every voxel, uint32 (T, H, W), a read-only view.")
        .def_property_readonly(
            "merges",
            [](py::object self) {
                const auto& tree = self.cast<const TreeFile&>();
                py::array view(merge_dtype(), {static_cast<py::ssize_t>(tree.merges.size())},
                               {static_cast<py::ssize_t>(sizeof(vorada::io::TreeMerge))},
                               tree.merges.data(), self);
                py::detail::array_proxy(view.ptr())->flags &=
                    ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
                return view;
            },
            "The merges in order, a read-only structured view.")
        .def("labels_after", &labels_after, "merges"_a,
             "Labels 0 … n-1 (int32, first appearance in raster order) after that many merges.")
        .def("merges_for_regions", &vorada::io::merges_for_regions, "regions"_a,
             "Merges that leave that many regions.")
        .def("merges_below_distance", &vorada::io::merges_below_distance, "distance"_a,
             "Merges made before the first at that distance or more.");
    module.def("join_stopped_runs", &join_stopped_runs,
               "Waits for the runs that Ctrl-C stopped to end (at the interpreter's exit).");
    module.def("segment", &segment, "frames"_a, "forward"_a, "backward"_a, "color_scale"_a,
               "motion_scale"_a, "area_fraction"_a, "num_colors"_a,
               "The tree of uint8 (T, H, W, 3) RGB frames and float32 (T-1, H, W, 2) flows.");
}

}  // namespace vseg_python
