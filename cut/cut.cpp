#include "cut/cut.h"

#include <boost/filesystem.hpp>
#include <cmath>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "common/errors.h"
#include "common/parallel.h"
#include "io/cliptree.h"
#include "io/imagewritequeue.h"
#include "io/outputlock.h"
#include "io/segmentation.h"
#include "io/treefile.h"
#include "layout/layout.h"
#include "signals/videosignal.h"

namespace vorada {
namespace cut {

std::string cut_usage(const std::string& program) {
    return "Usage: " + program +
           " OUTPUT_DIR (--regions N[,N…] | --distance D) [--out DIR] [--png exact|fast|none]\n"
           "       [--format sgm|png16|npy]\n";
}

std::string cut_help(const std::string& program) {
    return cut_usage(program) +
           "Cuts the tree of a vseg run (OUTPUT_DIR/trees/tree.bpt) and writes each cut to\n"
           "DIR/<R-1>/, R its number of regions.\n"
           "  --regions N[,N…]   cuts with N regions each\n"
           "  --distance D       the cut before the first merge at distance D or more\n"
           "  --out DIR          where the cuts go (default OUTPUT_DIR/cuts)\n"
           "  --png MODE         colour images as vseg writes them: exact, fast or none (sgm "
           "only)\n"
           "  --format sgm       frames.sgm and one colour PNG per frame, as vseg (default)\n"
           "  --format png16     one 16-bit grey PNG per frame, labels 1…N (N at most 65535)\n"
           "  --format npy       labels.npy: int32 (T, H, W), labels 0…N-1\n"
           "  -h, --help         print this help and exit\n"
           "  --version          print the version and exit\n";
}

CutOptions parse_cut_arguments(int argc, const char* const* argv) {
    CutOptions options;
    bool have_regions = false;
    bool have_png = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool takes_value = argument == "--regions" || argument == "--distance" ||
                                 argument == "--out" || argument == "--png" ||
                                 argument == "--format";
        if (takes_value && i + 1 >= argc) {
            throw std::invalid_argument(argument + " needs a value");
        }
        if (argument == "--regions") {
            options.regions = layout::parse_number_list(argv[++i], argument);
            for (std::uint64_t count : options.regions) {
                if (count == 0) {
                    throw std::invalid_argument("--regions takes positive region counts");
                }
            }
            have_regions = true;
        } else if (argument == "--distance") {
            const std::string text = argv[++i];
            std::size_t used = 0;
            try {
                options.distance = std::stod(text, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used == 0 || used != text.size() || std::isnan(options.distance)) {
                throw std::invalid_argument("--distance takes a number, not '" + text + "'");
            }
            options.by_distance = true;
        } else if (argument == "--out") {
            options.out = argv[++i];
        } else if (argument == "--png") {
            const std::string mode = argv[++i];
            if (!io::parse_png_mode(mode, options.png)) {
                throw std::invalid_argument("--png takes exact, fast or none, not '" + mode + "'");
            }
            have_png = true;
        } else if (argument == "--format") {
            const std::string format = argv[++i];
            if (format != "sgm" && format != "png16" && format != "npy") {
                throw std::invalid_argument("--format takes sgm, png16 or npy, not '" + format +
                                            "'");
            }
            options.format = format == "sgm"     ? LabelFormat::sgm
                             : format == "png16" ? LabelFormat::png16
                                                 : LabelFormat::npy;
        } else {
            layout::take_output_directory(argument, options.output_directory);
        }
    }
    layout::require_output_directory(options.output_directory);
    if (have_regions == options.by_distance) {
        throw std::invalid_argument("give exactly one of --regions and --distance");
    }
    if (have_png && options.format != LabelFormat::sgm) {
        throw std::invalid_argument("--png goes with --format sgm only");
    }
    if (options.out.empty()) {
        options.out = layout::cuts_directory(options.output_directory);
    }
    return options;
}

namespace {

// Writes the cut after `merges` merges as vseg writes a level, reading the leaf map a frame at a
// time, clip by clip. Images need the number of regions before the first frame (their colours):
// leaves − merges when every leaf lies in a voxel (a run's leaves always do), else counted in a
// pass of its own.
void write_streamed_cut(io::TreeFileReader& reader,
                        io::ClipReplay& replay,
                        std::uint64_t merges,
                        const std::string& directory,
                        io::ImageWriteQueue& queue) {
    std::size_t count = 0;
    replay.cut(merges);
    if (queue.writes_images() && replay.every_leaf_shown()) {
        count = static_cast<std::size_t>(replay.leaf_count() - merges);
    } else if (queue.writes_images()) {
        io::FirstAppearance counted(replay);
        for (std::uint64_t t = 0; t < reader.frames(); ++t) {
            for (const std::uint32_t region : replay.frame_regions(t)) {
                counted(region);
            }
        }
        count = counted.regions();
    }
    gma::SegmentationFrameWriter writer(directory, reader.width(), reader.height(), reader.frames(),
                                        count, &queue);
    const std::size_t pixels = static_cast<std::size_t>(reader.width() * reader.height());
    std::vector<std::uint64_t> labels(pixels);
    std::vector<std::uint32_t> compact(writer.writes_images() ? pixels : 0);
    io::FirstAppearance index_of(replay);
    for (std::uint64_t t = 0; t < reader.frames(); ++t) {
        const std::vector<std::uint32_t>& regions = replay.frame_regions(t);
        for (std::size_t i = 0; i < pixels; ++i) {
            labels[i] = regions[i];
            if (!compact.empty()) {
                compact[i] = index_of(regions[i]);
            }
        }
        writer.write_frame(labels.data(), compact.data());
    }
    if (!compact.empty() && index_of.regions() != count) {
        throw VoradaError("vseg-cut: " + std::to_string(index_of.regions()) +
                          " regions drawn of the " + std::to_string(count) + " counted");
    }
    writer.commit();
}

// Writes the cut after `merges` merges as png16 or npy, reading the leaf map a frame at a time;
// regions are numbered by first appearance.
void write_streamed_labels(io::TreeFileReader& reader,
                           io::ClipReplay& replay,
                           std::uint64_t merges,
                           LabelFormat format,
                           const std::string& directory) {
    replay.cut(merges);
    io::FirstAppearance index_of(replay);
    std::vector<std::uint32_t> indices(static_cast<std::size_t>(reader.width() * reader.height()));
    LabelFrameWriter writer(format, directory, reader.width(), reader.height(), reader.frames());
    for (std::uint64_t t = 0; t < reader.frames(); ++t) {
        const std::vector<std::uint32_t>& regions = replay.frame_regions(t);
        for (std::size_t i = 0; i < indices.size(); ++i) {
            indices[i] = index_of(regions[i]);
        }
        writer.write_frame(indices.data());
    }
    writer.commit();
}

}  // namespace

int run_vseg_cut(int argc, const char* const* argv) {
    const std::string program = argc > 0 ? argv[0] : "vseg-cut";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            std::cout << cut_help(program);
            return 0;
        }
        if (argument == "--version") {
            std::cout << "vseg-cut " << layout::version_text() << "\n";
            return 0;
        }
    }
    CutOptions options;
    try {
        options = parse_cut_arguments(argc, argv);
    } catch (const std::invalid_argument& error) {
        std::cerr << program << ": " << error.what() << "\n" << cut_usage(program);
        return 2;
    }
    // Cuts written into the run's folder (the default) take its lock: while another program
    // writes that folder, this one is refused. Cuts elsewhere only read the run.
    std::unique_ptr<io::OutputLock> lock;
    if (boost::filesystem::is_directory(options.output_directory) &&
        io::lies_within(options.out, options.output_directory)) {
        lock = std::make_unique<io::OutputLock>(options.output_directory);
    }
    // The queue forks its writer processes: before the tree fills memory.
    io::ImageWriteQueue image_writer(
        io::ImageWriteQueue::workers_for(default_thread_count()), std::size_t(256) << 20,
        options.format == LabelFormat::sgm ? options.png : io::PngMode::none);
    // The leaf map is read a frame at a time, the merges a clip at a time: neither is ever whole.
    io::TreeFileReader reader(layout::tree_file_path(options.output_directory));
    const std::string index_path = layout::clip_index_path(options.output_directory);
    io::ClipReplay replay(reader, io::read_clip_index(index_path, reader), index_path);

    std::vector<std::uint64_t> cuts;  // merges per requested segmentation, in the order asked
    if (options.by_distance) {
        cuts.push_back(replay.merges_below_distance(options.distance));
    } else {
        for (std::uint64_t regions : options.regions) {
            cuts.push_back(replay.merges_for_regions(regions));
        }
    }
    const std::uint64_t leaf_count = reader.leaf_count();
    if (options.format == LabelFormat::png16) {
        for (std::uint64_t merges : cuts) {
            if (leaf_count - merges > max_png16_regions) {
                throw VoradaError("--format png16 holds at most 65535 regions, the cut at " +
                                  std::to_string(leaf_count - merges) +
                                  " has more (use --format npy or sgm)");
            }
        }
    }

    boost::filesystem::create_directories(options.out);
    for (std::uint64_t merges : cuts) {
        const std::uint64_t level = leaf_count - merges - 1;
        const std::string directory = options.out + "/" + std::to_string(level);
        boost::filesystem::create_directory(directory);
        if (options.format == LabelFormat::sgm) {
            write_streamed_cut(reader, replay, merges, directory, image_writer);
        } else {
            write_streamed_labels(reader, replay, merges, options.format, directory);
        }
        std::cerr << directory << ": " << level + 1 << " regions\n";
    }
    image_writer.finish();
    return 0;
}

}  // namespace cut
}  // namespace vorada
