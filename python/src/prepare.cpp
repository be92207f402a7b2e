// vseg._prepare: vseg-prepare's reading of frames and its optical flows, into arrays, and its whole
// run. A module apart from the tree stages, so that OpenCV's libraries (tens of megabytes
// resident) load only for these.

#include "prepare/prepare.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <iostream>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "prepare/flow.h"
#include "prepare/readframes.h"
#include "python/src/helpers.h"

namespace vseg_python {
namespace {

using vorada::prepare::FlowQuality;

py::array_t<std::uint8_t> read_video(const std::string& path,
                                     unsigned long long first,
                                     unsigned long long count,
                                     unsigned long long step,
                                     long long max_side,
                                     double scale) {
    vorada::prepare::PrepareOptions options;
    options.input = path;
    options.first = first;
    options.count = count;
    options.step = step;
    options.max_side = max_side;
    options.scale = scale;
    std::vector<cv::Mat> frames;
    {
        py::gil_scoped_release no_gil;
        frames = vorada::prepare::read_frames(options);
    }
    const auto height = static_cast<py::ssize_t>(frames.front().rows);
    const auto width = static_cast<py::ssize_t>(frames.front().cols);
    py::array_t<std::uint8_t> video(
        {static_cast<py::ssize_t>(frames.size()), height, width, py::ssize_t(3)});
    std::uint8_t* out = video.mutable_data();
    {
        py::gil_scoped_release no_gil;
        const std::size_t frame_bytes = static_cast<std::size_t>(height * width * 3);
        for (std::size_t t = 0; t < frames.size(); ++t) {
            cv::Mat rgb(static_cast<int>(height), static_cast<int>(width), CV_8UC3,
                        out + t * frame_bytes);
            cv::cvtColor(frames[t], rgb, cv::COLOR_BGR2RGB);
            frames[t] = cv::Mat();
        }
    }
    return video;
}

FlowQuality flow_quality(const std::string& preset) {
    if (preset == "fast") {
        return FlowQuality::fast;
    }
    if (preset == "medium") {
        return FlowQuality::medium;
    }
    if (preset == "fine") {
        return FlowQuality::fine;
    }
    throw py::value_error("preset must be 'fast', 'medium' or 'fine', not '" + preset + "'");
}

// The flows of one direction, pair after pair, with one estimator, as vseg-prepare keeps one per
// direction: forward pair k goes from frame k to frame k + 1, backward pair k the other way.
void flows_of_direction(FlowQuality quality,
                        const std::vector<cv::Mat>& grey,
                        bool backward,
                        float* out,
                        const std::atomic<bool>& stop,
                        const std::function<void()>& poll) {
    cv::Ptr<cv::DISOpticalFlow> estimator = vorada::prepare::make_flow_estimator(quality);
    const std::size_t pair_floats =
        static_cast<std::size_t>(grey[0].rows) * static_cast<std::size_t>(grey[0].cols) * 2;
    for (std::size_t k = 0; k + 1 < grey.size() && !stop; ++k) {
        const cv::Mat& from = backward ? grey[k + 1] : grey[k];
        const cv::Mat& to = backward ? grey[k] : grey[k + 1];
        const cv::Mat flow = vorada::prepare::compute_flow(*estimator, from, to);
        for (int y = 0; y < flow.rows; ++y) {
            std::memcpy(out + k * pair_floats + static_cast<std::size_t>(y) * flow.cols * 2,
                        flow.ptr<float>(y),
                        sizeof(float) * 2 * static_cast<std::size_t>(flow.cols));
        }
        if (poll) {
            poll();
        }
    }
}

py::tuple optical_flow(const py::array& frames, const std::string& preset, unsigned threads) {
    require_c_array<std::uint8_t>(frames, "frames");
    const FlowQuality quality = flow_quality(preset);
    const auto count = static_cast<std::size_t>(frames.shape(0));
    const int height = static_cast<int>(frames.shape(1));
    const int width = static_cast<int>(frames.shape(2));
    const std::size_t pairs = count > 0 ? count - 1 : 0;
    // The estimator refuses, or crashes on, frames below a size of its own.
    const std::pair<int, int> smallest = vorada::prepare::smallest_flow_frame(quality);
    if (pairs > 0 &&
        (std::min(width, height) < smallest.first || std::max(width, height) < smallest.second)) {
        throw py::value_error("frames of " + std::to_string(width) + "x" + std::to_string(height) +
                              " are too small for the optical flow: '" + preset +
                              "' needs at least " + std::to_string(smallest.first) +
                              " pixels on the shorter side and " + std::to_string(smallest.second) +
                              " on the longer one");
    }
    std::vector<float> forward(pairs * static_cast<std::size_t>(height) * width * 2);
    std::vector<float> backward(forward.size());
    {
        py::gil_scoped_release no_gil;
        const auto* pixels = static_cast<const std::uint8_t*>(frames.data());
        std::vector<cv::Mat> grey(count);
        for (std::size_t t = 0; t < count; ++t) {
            const cv::Mat rgb(height, width, CV_8UC3,
                              const_cast<std::uint8_t*>(pixels) + t * height * width * 3);
            cv::cvtColor(rgb, grey[t], cv::COLOR_RGB2GRAY);
        }
        // As vseg-prepare: the two directions side by side, each with half the threads inside;
        // the flows do not depend on the thread count.
        const int previous_threads = cv::getNumThreads();
        cv::setNumThreads(static_cast<int>(std::max(1u, threads / 2)));
        std::atomic<bool> stop{false};
        std::exception_ptr backward_failure;
        SignalCheck check;
        const std::function<void()> poll = [&check] { check(); };
        try {
            if (count > 1 && threads > 1) {
                std::thread other([&] {
                    try {
                        flows_of_direction(quality, grey, true, backward.data(), stop, {});
                    } catch (...) {
                        backward_failure = std::current_exception();
                    }
                });
                try {
                    flows_of_direction(quality, grey, false, forward.data(), stop, poll);
                } catch (...) {
                    stop = true;
                    other.join();
                    throw;
                }
                other.join();
            } else if (count > 1) {
                flows_of_direction(quality, grey, false, forward.data(), stop, poll);
                flows_of_direction(quality, grey, true, backward.data(), stop, poll);
            }
        } catch (...) {
            cv::setNumThreads(previous_threads);
            throw;
        }
        cv::setNumThreads(previous_threads);
        if (backward_failure) {
            std::rethrow_exception(backward_failure);
        }
    }
    const std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(pairs), height, width, 2};
    return py::make_tuple(owning_array<float>(std::move(forward), shape),
                          owning_array<float>(std::move(backward), shape));
}

py::tuple run_prepare(const std::string& input,
                      const std::string& output,
                      unsigned long long first,
                      unsigned long long count,
                      unsigned long long step,
                      long long max_side,
                      double scale,
                      const std::string& flow,
                      unsigned threads,
                      bool force) {
    vorada::prepare::PrepareCommand command =
        vorada::prepare::parse_prepare_arguments({input, output, "--flow", flow});
    vorada::prepare::PrepareOptions& options = command.options;
    options.first = first;
    options.count = count;
    options.step = step;
    options.max_side = max_side;
    options.scale = scale;
    options.threads = threads;
    options.force = force;
    vorada::prepare::PrepareResult result;
    {
        py::gil_scoped_release no_gil;
        result = vorada::prepare::run_prepare(options, std::cerr, false);
    }
    return py::make_tuple(result.frames, result.width, result.height);
}

}  // namespace

void bind_prepare(py::module_& module) {
    using namespace pybind11::literals;
    module.def("read_video", &read_video, "path"_a, "first"_a, "count"_a, "step"_a, "max_side"_a,
               "scale"_a,
               "Frames of a video file or image folder as uint8 (T, H, W, 3) RGB; count 0: all, "
               "max_side 0 and scale 0: no shrinking.");
    module.def("optical_flow", &optical_flow, "frames"_a, "preset"_a, "threads"_a,
               "Forward and backward DIS flows of uint8 (T, H, W, 3) RGB frames, float32 "
               "(T-1, H, W, 2) each.");
    module.def("run_prepare", &run_prepare, "input"_a, "output"_a, "first"_a, "count"_a, "step"_a,
               "max_side"_a, "scale"_a, "flow"_a, "threads"_a, "force"_a,
               "vseg-prepare INPUT OUTPUT with these options; returns (frames, width, height).");
}

}  // namespace vseg_python

PYBIND11_MODULE(_prepare, module) {
    module.doc() = "Frames and flows of vseg-prepare; use the functions of the vseg package.";
    vseg_python::register_library_errors();
    pybind11::register_exception_translator([](std::exception_ptr error) {
        try {
            if (error) {
                std::rethrow_exception(error);
            }
        } catch (const cv::Exception& opencv_error) {
            PyErr_SetString(PyExc_RuntimeError, vseg_python::one_line(opencv_error.what()).c_str());
        }
    });
    vseg_python::bind_prepare(module);
}
