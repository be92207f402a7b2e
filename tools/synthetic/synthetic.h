#pragma once
// Deterministic synthetic videos for tests, benchmarks and the bundled sample: a textured static
// background and textured shapes (discs, rectangles) moving by constant translations, with the
// exact forward and backward flows and the true layer of every voxel.

#include <Eigen/Core>
#include <string>
#include <vector>

#include "signals/videosignal.h"

namespace vorada {
namespace synthetic {

enum class ShapeKind { disc, rectangle };

/// One moving layer. Its texture moves with it, so the flow is exact at every pixel it covers.
struct Shape {
    ShapeKind kind = ShapeKind::disc;
    double x = 0.0, y = 0.0;                               ///< centre in frame 0, pixels
    double half_width = 8.0, half_height = 8.0;            ///< a disc uses half_width as its radius
    double dx = 0.0, dy = 0.0;                             ///< translation per frame, pixels
    Eigen::Vector3d color = Eigen::Vector3d(200, 80, 60);  ///< base RGB 0..255
};

struct Options {
    long long width = 96, height = 64, frames = 8;
    std::vector<Shape> shapes;        ///< drawn in order: later shapes cover earlier ones
    unsigned seed = 1;                ///< chooses the textures
    double texture_amplitude = 45.0;  ///< RGB levels of texture around each base colour
    Eigen::Vector3d background_color = Eigen::Vector3d(120, 125, 110);
};

/// A generated video with its ground truth.
struct Synthetic {
    gma::Video video;         ///< RGB, whole levels 0..255 stored as doubles
    gma::Flow forward_flow;   ///< motion of the visible layer to frame t+1; 0 in the last frame
    gma::Flow backward_flow;  ///< motion of the visible layer to frame t-1; 0 in frame 0
    gma::LabelVolume layers;  ///< 0 for the background, k+1 where shape k is visible
};

/// Renders the video, flows and layers described by the options; same options, same result.
/// Throws VoradaError for a non-positive size.
Synthetic make_synthetic(const Options& options);

/// The bundled sample: 160 x 120 pixels, 8 frames, three shapes with sub-pixel motions.
Options default_sample_options();

/// `shape_count` shapes of alternating kind with random place, size, colour and motion (up to
/// 1.5 pixels a frame in each direction), all drawn from `seed`.
Options random_options(
    long long width, long long height, long long frames, int shape_count, unsigned seed);

/// Writes frame t of a flow as a Middlebury .flo file (little-endian, tag 202021.25).
void write_flo(const std::string& path, const gma::Flow& flow, unsigned long long t);

/// Writes directory/flows/flow_I_J.flo for every forward and backward pair, then
/// directory/frames/frameNNN.png for every frame, numbered from 0; creates the directories.
void write_sample(const std::string& directory,
                  gma::Video& video,
                  const gma::Flow& forward_flow,
                  const gma::Flow& backward_flow);
/// The same for a generated video.
void write_sample(const std::string& directory, Synthetic& synthetic);

/// Writes directory/gt/frameNNN.png: the visible layer of every pixel as an 8-bit grey label
/// image (0 the background, k+1 shape k), one per frame; creates the directory.
void write_ground_truth(const std::string& directory, const Synthetic& synthetic);

}  // namespace synthetic
}  // namespace vorada
