#include "prepare/shots.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <sstream>

namespace vorada {
namespace prepare {
namespace {

// Thresholds measured on the sample videos (grey levels 0–255, histogram change 0–1): the cuts of
// an edited film change both measures 20–90 times as much as the frames around them, and the
// fastest camera motion of the uncut samples at most 4.3 times; a flat frame of a fade or of a
// black lead-in has a grey spread near 0, a picture with any content well above 5.
constexpr double blank_spread = 5.0;
constexpr double cut_ratio = 5.0;
constexpr double least_picture_change = 8.0;
// Floors of the local change, so a still scene does not turn noise into a cut.
constexpr double least_local_colour = 0.01;
constexpr double least_local_picture = 1.0;
constexpr std::size_t window = 6;  // frames on each side that set the local change
constexpr int thumbnail_width = 32, thumbnail_height = 24;

// Share of pixels in each of 8x8x8 colour boxes.
std::vector<double> colour_histogram(const cv::Mat& frame) {
    std::vector<double> histogram(512, 0.0);
    for (int y = 0; y < frame.rows; ++y) {
        const cv::Vec3b* row = frame.ptr<cv::Vec3b>(y);
        for (int x = 0; x < frame.cols; ++x) {
            histogram[(row[x][0] >> 5) * 64 + (row[x][1] >> 5) * 8 + (row[x][2] >> 5)] += 1;
        }
    }
    const double pixels = static_cast<double>(frame.total());
    for (double& share : histogram) {
        share /= pixels;
    }
    return histogram;
}

// Share of pixels that moved to another colour box: 0 for equal histograms, 1 for disjoint ones.
double histogram_change(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        sum += std::abs(a[k] - b[k]);
    }
    return sum / 2;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

const char* const shots_file_name = "shots.txt";

void ShotDetector::add(const cv::Mat& frame) {
    cv::Mat grey, thumbnail;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    cv::Scalar mean, spread;
    cv::meanStdDev(grey, mean, spread);
    blank.push_back(spread[0] <= blank_spread);
    cv::resize(grey, thumbnail, cv::Size(thumbnail_width, thumbnail_height), 0, 0, cv::INTER_AREA);
    thumbnail.convertTo(thumbnail, CV_64F);

    std::vector<double> histogram = colour_histogram(frame);
    const std::size_t t = blank.size() - 1;
    colour_change.push_back(t > 0 ? histogram_change(histograms[0], histogram) : 0.0);
    picture_change.push_back(t > 0 ? cv::mean(cv::abs(thumbnails[0] - thumbnail))[0] : 0.0);
    skip_colour_change.push_back(0.0);
    skip_picture_change.push_back(0.0);
    if (t > 1) {
        skip_colour_change[t - 1] = histogram_change(histograms[1], histogram);
        skip_picture_change[t - 1] = cv::mean(cv::abs(thumbnails[1] - thumbnail))[0];
    }
    histograms[1] = std::move(histograms[0]);
    histograms[0] = std::move(histogram);
    thumbnails[1] = thumbnails[0];
    thumbnails[0] = thumbnail;
}

void ShotDetector::_local_change(std::size_t t, double& colour, double& picture) const {
    std::vector<double> colours, pictures;
    const std::size_t from = t > window ? t - window : 1;
    const std::size_t to = std::min(blank.size(), t + window + 1);
    for (std::size_t k = from; k < to; ++k) {
        if (k != t && !blank[k - 1] && !blank[k]) {
            colours.push_back(colour_change[k]);
            pictures.push_back(picture_change[k]);
        }
    }
    colour = std::max(median(colours), least_local_colour);
    picture = std::max(median(pictures), least_local_picture);
}

bool ShotDetector::_is_cut(std::size_t t) const {
    if (t == 0 || blank[t - 1] || blank[t]) {
        return false;  // blank frames end a shot by themselves
    }
    double colour = 0, picture = 0;
    _local_change(t, colour, picture);
    return picture_change[t] >= least_picture_change && colour_change[t] >= cut_ratio * colour &&
           picture_change[t] >= cut_ratio * picture;
}

bool ShotDetector::_is_flash(std::size_t t) const {
    if (t + 1 >= blank.size() || !_is_cut(t) || !_is_cut(t + 1)) {
        return false;
    }
    // Frames t-1 and t+1 alike: the same shot on both sides of one odd frame.
    double colour = 0, picture = 0;
    _local_change(t, colour, picture);
    return skip_picture_change[t] < least_picture_change ||
           skip_colour_change[t] < cut_ratio * colour ||
           skip_picture_change[t] < cut_ratio * picture;
}

std::vector<ShotSegment> ShotDetector::segments() const {
    std::vector<ShotSegment> result;
    for (std::size_t t = 0; t < blank.size(); ++t) {
        const bool flash = (t > 0 && _is_flash(t - 1)) || _is_flash(t);
        const bool starts = t == 0 || blank[t] != blank[t - 1] || (_is_cut(t) && !flash);
        if (starts) {
            result.push_back({t, t, blank[t]});
        }
        result.back().last = t;
    }
    return result;
}

std::string shots_text(const std::vector<ShotSegment>& segments) {
    std::ostringstream text;
    text << "# first last kind\n";
    for (const ShotSegment& segment : segments) {
        text << segment.first << " " << segment.last << " " << (segment.blank ? "blank" : "shot")
             << "\n";
    }
    return text.str();
}

}  // namespace prepare
}  // namespace vorada
