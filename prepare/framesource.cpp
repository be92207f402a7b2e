#include "prepare/framesource.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cctype>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "common/errors.h"

namespace vorada {
namespace prepare {
namespace {

namespace fs = boost::filesystem;

bool is_digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Extensions OpenCV's image reader decodes in Debian's build.
bool has_image_extension(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const char* const known[] = {".png",  ".jpg",  ".jpeg", ".jpe", ".bmp", ".tif",
                                        ".tiff", ".webp", ".ppm",  ".pgm", ".pnm", ".jp2"};
    return std::find(std::begin(known), std::end(known), extension) != std::end(known);
}

class ImageFolderSource : public FrameSource {
  public:
    explicit ImageFolderSource(std::vector<std::string> files) : paths(std::move(files)) {}

    bool read(cv::Mat& frame) override {
        if (next >= paths.size()) {
            return false;
        }
        const std::string& path = paths[next++];
        frame = cv::imread(path, cv::IMREAD_COLOR);
        if (frame.empty()) {
            throw VoradaError(path + ": cannot read this image");
        }
        return true;
    }

    bool skip() override {
        if (next >= paths.size()) {
            return false;
        }
        ++next;
        return true;
    }

    unsigned long long expected_frames() const override { return paths.size(); }

    std::string last_frame_name() const override { return next > 0 ? paths[next - 1] : ""; }

  private:
    std::vector<std::string> paths;
    std::size_t next = 0;
};

class VideoFileSource : public FrameSource {
  public:
    explicit VideoFileSource(const std::string& path) : video_path(path) {
        // FFmpeg only: the generic backend would take an image file for an image sequence.
        if (!capture.open(path, cv::CAP_FFMPEG) || !capture.isOpened()) {
            throw VoradaError(path + ": cannot open this file as a video");
        }
    }

    bool read(cv::Mat& frame) override {
        if (!capture.read(frame) || frame.empty()) {
            return false;
        }
        ++position;
        return true;
    }

    bool skip() override {
        if (!capture.grab()) {
            return false;
        }
        ++position;
        return true;
    }

    // The count a video's header gives is an estimate at best, and some headers are plainly
    // wrong (444 frames said, 68 held): frames are counted as they come.
    unsigned long long expected_frames() const override { return 0; }

    std::string last_frame_name() const override {
        return "frame " + std::to_string(position - 1) + " of " + video_path;
    }

  private:
    std::string video_path;
    unsigned long long position = 0;
    cv::VideoCapture capture;
};

}  // namespace

bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            std::size_t i_end = i, j_end = j;
            while (i_end < a.size() && is_digit(a[i_end])) {
                ++i_end;
            }
            while (j_end < b.size() && is_digit(b[j_end])) {
                ++j_end;
            }
            // Compare the runs as numbers: drop leading zeros, then the longer run is larger.
            std::size_t i_digits = i, j_digits = j;
            while (i_digits + 1 < i_end && a[i_digits] == '0') {
                ++i_digits;
            }
            while (j_digits + 1 < j_end && b[j_digits] == '0') {
                ++j_digits;
            }
            const std::size_t i_length = i_end - i_digits, j_length = j_end - j_digits;
            if (i_length != j_length) {
                return i_length < j_length;
            }
            const int order = a.compare(i_digits, i_length, b, j_digits, j_length);
            if (order != 0) {
                return order < 0;
            }
            i = i_end;
            j = j_end;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) {
        return (a.size() - i) < (b.size() - j);
    }
    // Equal as numbers ("img01" and "img1"): keep a fixed order all the same.
    return a < b;
}

std::vector<std::string> list_image_files(const std::string& folder) {
    boost::system::error_code error;
    fs::directory_iterator entry(folder, error);
    if (error) {
        throw VoradaError(folder + ": cannot list this folder (" + error.message() + ")");
    }
    std::vector<std::string> names;
    for (; entry != fs::directory_iterator(); entry.increment(error)) {
        if (error) {
            throw VoradaError(folder + ": cannot list this folder (" + error.message() + ")");
        }
        const fs::path& path = entry->path();
        const std::string name = path.filename().string();
        if (name.empty() || name[0] == '.' || !has_image_extension(path) ||
            !fs::is_regular_file(entry->status())) {
            continue;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), natural_less);
    for (std::string& name : names) {
        name = (fs::path(folder) / name).string();
    }
    return names;
}

std::unique_ptr<FrameSource> open_frame_source(const std::string& input) {
    boost::system::error_code error;
    const fs::file_status status = fs::status(input, error);
    if (!fs::exists(status)) {
        throw VoradaError(input + ": no such file or folder");
    }
    if (fs::is_directory(status)) {
        std::vector<std::string> files = list_image_files(input);
        if (files.empty()) {
            throw VoradaError(input +
                              ": the folder holds no images (.png, .jpg, .bmp, .tif, .webp, ...)");
        }
        return std::make_unique<ImageFolderSource>(std::move(files));
    }
    return std::make_unique<VideoFileSource>(input);
}

}  // namespace prepare
}  // namespace vorada
