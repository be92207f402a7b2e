#include "view/view.h"

// Magick++ declares the assert machinery inside its own namespace unless <cassert> comes first.
// clang-format off
#include <cassert>
#include <Magick++.h>
// clang-format on

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>

#include "common/errors.h"
#include "io/cliptree.h"
#include "io/outputlock.h"
#include "io/treefile.h"
#include "layout/layout.h"
#include "view/font.h"

namespace vorada {
namespace view {

namespace {

constexpr int text_scale = 2;
constexpr int margin = 12;
constexpr int pair_gap = 4;  // between a boundary cell and its mean cell
constexpr int column_gap = 16;
constexpr int row_gap = 10;
constexpr std::uint8_t background[3] = {255, 255, 255};
constexpr std::uint8_t ink[3] = {20, 20, 20};
constexpr std::uint8_t faint_ink[3] = {110, 110, 110};
constexpr int preview_max_width = 640;

void fill(std::vector<std::uint8_t>& rgb, const std::uint8_t color[3]) {
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = color[0];
        rgb[i + 1] = color[1];
        rgb[i + 2] = color[2];
    }
}

void blit(Sheet& sheet, const std::vector<std::uint8_t>& cell, int left, int top) {
    for (int y = 0; y < sheet.cell_height; ++y) {
        std::copy_n(
            cell.data() + 3 * static_cast<std::size_t>(y) * sheet.cell_width, 3 * sheet.cell_width,
            sheet.rgb.data() + 3 * (static_cast<std::size_t>(top + y) * sheet.width + left));
    }
}

Magick::Image to_image(const std::uint8_t* rgb, int width, int height) {
    Magick::Image image(static_cast<std::size_t>(width), static_cast<std::size_t>(height), "RGB",
                        Magick::CharPixel, rgb);
    return image;
}

std::string regions_text(std::uint64_t regions) {
    return std::to_string(regions) + (regions == 1 ? " region" : " regions");
}

}  // namespace

std::string view_usage(const std::string& program) {
    return "Usage: " + program +
           " OUTPUT_DIR [--levels L[,L…]] [--frames K] [--preview-frames K] [--input INPUT_DIR]\n";
}

std::string view_help(const std::string& program) {
    return view_usage(program) +
           "Draws what a vseg run found, from OUTPUT_DIR/trees/tree.bpt and the run's frames:\n"
           "OUTPUT_DIR/overview.png, OUTPUT_DIR/preview/<L>.gif and OUTPUT_DIR/regions.csv.\n"
           "  --levels L[,L…]    levels to show, L + 1 regions each (default 900,100,20,5)\n"
           "  --frames K         columns of the overview, evenly spaced frames (default 6)\n"
           "  --preview-frames K frames of each GIF: all up to K, else K evenly spaced (default "
           "300)\n"
           "  --input DIR        the run's input directory (default: from trees/input.txt)\n"
           "  -h, --help         print this help and exit\n"
           "  --version          print the version and exit\n";
}

ViewOptions parse_view_arguments(int argc, const char* const* argv) {
    ViewOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool takes_value = argument == "--levels" || argument == "--frames" ||
                                 argument == "--preview-frames" || argument == "--input";
        if (takes_value && i + 1 >= argc) {
            throw std::invalid_argument(argument + " needs a value");
        }
        if (argument == "--levels") {
            options.levels = layout::parse_number_list(argv[++i], argument);
        } else if (argument == "--frames") {
            options.frames = layout::parse_whole_number(argv[++i], "--frames");
            if (options.frames == 0) {
                throw std::invalid_argument("--frames must be at least 1");
            }
        } else if (argument == "--preview-frames") {
            options.preview_frames = layout::parse_whole_number(argv[++i], argument);
            if (options.preview_frames == 0) {
                throw std::invalid_argument("--preview-frames must be at least 1");
            }
        } else if (argument == "--input") {
            options.input = argv[++i];
        } else {
            layout::take_output_directory(argument, options.output_directory);
        }
    }
    layout::require_output_directory(options.output_directory);
    return options;
}

const std::uint8_t* Frames::frame(int t) const {
    const auto at = std::lower_bound(held.begin(), held.end(), t);
    if (at == held.end() || *at != t) {
        throw VoradaError("vseg-view: frame " + std::to_string(t) + " is not held");
    }
    return rgb.data() + 3 * static_cast<std::size_t>(width) * height * (at - held.begin());
}

void load_frame(
    const std::string& input, std::uint64_t frame, int width, int height, std::uint8_t* rgb) {
    const std::string path = layout::frame_path(input, frame);
    if (!boost::filesystem::is_regular_file(path)) {
        throw VoradaFileNotFound(path);
    }
    Magick::Image image;
    image.read(path);
    if (static_cast<int>(image.columns()) != width || static_cast<int>(image.rows()) != height) {
        throw VoradaFileError(path, "is " + std::to_string(image.columns()) + "x" +
                                        std::to_string(image.rows()) + ", the tree's video " +
                                        std::to_string(width) + "x" + std::to_string(height));
    }
    image.write(0, 0, static_cast<std::size_t>(width), static_cast<std::size_t>(height), "RGB",
                Magick::CharPixel, rgb);
}

std::vector<int> spaced_frames(int count, std::uint64_t wanted) {
    std::vector<int> chosen;
    if (wanted >= static_cast<std::uint64_t>(count) || count <= 1) {
        for (int t = 0; t < count; ++t) {
            chosen.push_back(t);
        }
        return chosen;
    }
    const auto k = static_cast<int>(wanted);
    for (int i = 0; i < k; ++i) {
        chosen.push_back(
            k == 1 ? 0
                   : static_cast<int>(std::lround(static_cast<double>(i) * (count - 1) / (k - 1))));
    }
    return chosen;
}

std::vector<std::uint64_t> usable_levels(std::uint64_t leaf_count,
                                         std::uint64_t merge_count,
                                         const std::vector<std::uint64_t>& requested) {
    const std::uint64_t highest = leaf_count - 1;
    const std::uint64_t lowest = leaf_count - merge_count - 1;
    std::vector<std::uint64_t> levels;
    for (std::uint64_t level : requested) {
        level = std::min(highest, std::max(lowest, level));
        if (std::find(levels.begin(), levels.end(), level) == levels.end()) {
            levels.push_back(level);
        }
    }
    return levels;
}

const std::uint32_t* LevelView::frame_regions(int t, std::size_t frame_pixels) const {
    const auto at = std::lower_bound(region_frames.begin(), region_frames.end(), t);
    if (at == region_frames.end() || *at != t) {
        throw VoradaError("vseg-view: the regions of frame " + std::to_string(t) + " are not held");
    }
    return region.data() + frame_pixels * static_cast<std::size_t>(at - region_frames.begin());
}

LevelViewBuilder::LevelViewBuilder(std::uint64_t level, std::size_t frame_pixels)
    : pixels(frame_pixels), current(frame_pixels) {
    view.level = level;
}

void LevelViewBuilder::add_frame(const std::uint8_t* rgb, const std::uint32_t* regions, bool keep) {
    const int t = next_frame++;
    for (std::size_t i = 0; i < pixels; ++i) {
        const std::uint32_t label = regions[i];
        const auto found = compact.emplace(label, static_cast<std::uint32_t>(view.label.size()));
        const std::uint32_t index = found.first->second;
        if (found.second) {
            view.label.push_back(label);
            view.voxels.push_back(0);
            view.first_frame.push_back(t);
            view.last_frame.push_back(0);
            sums.resize(sums.size() + 3, 0.0);
        }
        current[i] = index;
        ++view.voxels[index];
        view.last_frame[index] = t;
        for (int c = 0; c < 3; ++c) {
            sums[3 * index + c] += rgb[3 * i + c];
        }
    }
    if (keep) {
        view.region_frames.push_back(t);
        view.region.insert(view.region.end(), current.begin(), current.end());
    }
}

LevelView LevelViewBuilder::finish() {
    view.mean_color.resize(sums.size());
    for (std::size_t r = 0; r < view.label.size(); ++r) {
        for (int c = 0; c < 3; ++c) {
            view.mean_color[3 * r + c] = static_cast<std::uint8_t>(
                std::lround(sums[3 * r + c] / static_cast<double>(view.voxels[r])));
        }
    }
    return std::move(view);
}

std::vector<std::uint8_t> render_cell(const Frames& frames,
                                      const LevelView& view,
                                      int t,
                                      int cell_width,
                                      int cell_height,
                                      bool boundaries) {
    const std::size_t pixels = static_cast<std::size_t>(frames.width) * frames.height;
    return render_cell(frames.frame(t), view.frame_regions(t, pixels), frames.width, frames.height,
                       view.mean_color.data(), cell_width, cell_height, boundaries);
}

std::vector<std::uint8_t> render_cell(const std::uint8_t* frame,
                                      const std::uint32_t* regions,
                                      int w,
                                      int h,
                                      const std::uint8_t* mean_color,
                                      int cell_width,
                                      int cell_height,
                                      bool boundaries) {
    // Source box of every cell column and row (at least one pixel each).
    auto box = [](int i, int cells, int size) {
        const int from = static_cast<int>(static_cast<long long>(i) * size / cells);
        const int to =
            std::max(from + 1, static_cast<int>(static_cast<long long>(i + 1) * size / cells));
        return std::make_pair(from, to);
    };
    std::vector<std::uint32_t> cell_region(static_cast<std::size_t>(cell_width) * cell_height);
    std::vector<std::uint8_t> rgb(3 * cell_region.size());
    for (int j = 0; j < cell_height; ++j) {
        const auto rows = box(j, cell_height, h);
        for (int i = 0; i < cell_width; ++i) {
            const auto columns = box(i, cell_width, w);
            const std::size_t out = static_cast<std::size_t>(j) * cell_width + i;
            // The region of the box's centre pixel; the frame averaged over the box.
            const int cx = (columns.first + columns.second - 1) / 2;
            const int cy = (rows.first + rows.second - 1) / 2;
            const std::uint32_t region = regions[static_cast<std::size_t>(cy) * w + cx];
            cell_region[out] = region;
            if (!boundaries) {
                std::copy_n(mean_color + 3 * static_cast<std::size_t>(region), 3, &rgb[3 * out]);
                continue;
            }
            double sum[3] = {0, 0, 0};
            int n = 0;
            for (int y = rows.first; y < rows.second; ++y) {
                for (int x = columns.first; x < columns.second; ++x) {
                    const std::uint8_t* p = frame + 3 * (static_cast<std::size_t>(y) * w + x);
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                    ++n;
                }
            }
            for (int c = 0; c < 3; ++c) {
                rgb[3 * out + c] = static_cast<std::uint8_t>(std::lround(sum[c] / n));
            }
        }
    }
    if (boundaries) {
        // One pixel wide: the pixel left of or above a change of region.
        for (int j = 0; j < cell_height; ++j) {
            for (int i = 0; i < cell_width; ++i) {
                const std::size_t p = static_cast<std::size_t>(j) * cell_width + i;
                const bool right = i + 1 < cell_width && cell_region[p + 1] != cell_region[p];
                const bool below =
                    j + 1 < cell_height && cell_region[p + cell_width] != cell_region[p];
                if (right || below) {
                    const std::uint8_t* pixel = &rgb[3 * p];
                    const int luminance = (299 * pixel[0] + 587 * pixel[1] + 114 * pixel[2]) / 1000;
                    std::copy_n(
                        luminance >= bright_luminance ? bright_boundary_color : boundary_color, 3,
                        &rgb[3 * p]);
                }
            }
        }
    }
    return rgb;
}

Sheet render_overview(std::uint64_t leaf_count,
                      const Frames& frames,
                      const std::vector<LevelView>& views,
                      const std::vector<int>& columns,
                      int max_width) {
    Sheet sheet;
    const int line = glyph_height * text_scale;
    int label_text = 0;
    for (const LevelView& view : views) {
        label_text =
            std::max({label_text, text_width("level " + std::to_string(view.level), text_scale),
                      text_width(regions_text(view.label.size()), text_scale)});
    }
    sheet.label_width = margin + label_text + margin;
    const int k = static_cast<int>(columns.size());
    const int fixed = sheet.label_width + margin + (k - 1) * column_gap + k * pair_gap;
    const double scale =
        std::min(1.0, static_cast<double>(max_width - fixed) / (2.0 * k * frames.width));
    sheet.cell_width = std::max(1, static_cast<int>(std::lround(frames.width * scale)));
    sheet.cell_height = std::max(1, static_cast<int>(std::lround(frames.height * scale)));
    sheet.mean_offset = sheet.cell_width + pair_gap;
    sheet.header_height = margin + line + margin / 2 + line + margin / 2;
    const std::string title = std::to_string(frames.width) + "x" + std::to_string(frames.height) +
                              "x" + std::to_string(frames.count) + " voxels, " +
                              std::to_string(leaf_count) +
                              " trajectories. left: boundaries, right: mean colours";
    sheet.width =
        std::max(fixed + 2 * k * sheet.cell_width, 2 * margin + text_width(title, text_scale));
    sheet.height = sheet.header_height +
                   static_cast<int>(views.size()) * (sheet.cell_height + row_gap) - row_gap +
                   margin;
    sheet.rgb.resize(3 * static_cast<std::size_t>(sheet.width) * sheet.height);
    fill(sheet.rgb, background);

    draw_text(sheet.rgb.data(), sheet.width, sheet.height, margin, margin, title, text_scale, ink);
    const int column_header = margin + line + margin / 2;
    for (int c = 0; c < k; ++c) {
        const int left = sheet.label_width + c * (2 * sheet.cell_width + pair_gap + column_gap);
        sheet.column_left.push_back(left);
        draw_text(sheet.rgb.data(), sheet.width, sheet.height, left, column_header,
                  "frame " + std::to_string(columns[c]), text_scale, faint_ink);
    }
    for (std::size_t r = 0; r < views.size(); ++r) {
        const int top = sheet.header_height + static_cast<int>(r) * (sheet.cell_height + row_gap);
        sheet.row_top.push_back(top);
        draw_text(sheet.rgb.data(), sheet.width, sheet.height, margin, top,
                  "level " + std::to_string(views[r].level), text_scale, ink);
        draw_text(sheet.rgb.data(), sheet.width, sheet.height, margin, top + line + 4,
                  regions_text(views[r].label.size()), text_scale, faint_ink);
        for (int c = 0; c < k; ++c) {
            blit(sheet,
                 render_cell(frames, views[r], columns[c], sheet.cell_width, sheet.cell_height,
                             true),
                 sheet.column_left[c], top);
            blit(sheet,
                 render_cell(frames, views[r], columns[c], sheet.cell_width, sheet.cell_height,
                             false),
                 sheet.column_left[c] + sheet.mean_offset, top);
        }
    }
    return sheet;
}

int run_vseg_view(int argc, const char* const* argv) {
    const std::string program = argc > 0 ? argv[0] : "vseg-view";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "-h" || argument == "--help") {
            std::cout << view_help(program);
            return 0;
        }
        if (argument == "--version") {
            std::cout << "vseg-view " << layout::version_text() << "\n";
            return 0;
        }
    }
    ViewOptions options;
    try {
        options = parse_view_arguments(argc, argv);
    } catch (const std::invalid_argument& error) {
        std::cerr << program << ": " << error.what() << "\n" << view_usage(program);
        return 2;
    }
    const std::string out = options.output_directory;
    // The pictures go into the run's folder: not while another program writes it.
    std::unique_ptr<io::OutputLock> lock;
    if (boost::filesystem::is_directory(out)) {
        lock = std::make_unique<io::OutputLock>(out);
    }
    // The tree's merges replayed a clip at a time, its leaf map read a frame at a time.
    io::TreeFileReader reader(layout::tree_file_path(out));
    const std::string index_path = layout::clip_index_path(out);
    io::ClipReplay replay(reader, io::read_clip_index(index_path, reader), index_path);
    layout::InputRecord record;
    if (options.input.empty()) {
        record = layout::read_input_record(out);
    } else {
        record.input = options.input;
        if (boost::filesystem::is_regular_file(layout::input_record_path(out))) {
            record.first_frame = layout::read_input_record(out).first_frame;
        }
    }
    const auto width = static_cast<int>(reader.width());
    const auto height = static_cast<int>(reader.height());
    const auto count = static_cast<int>(reader.frames());
    const std::vector<std::uint64_t> levels =
        usable_levels(replay.leaf_count(), replay.merge_count(), options.levels);
    const std::vector<int> columns = spaced_frames(count, options.frames);
    const std::vector<int> animated = spaced_frames(count, options.preview_frames);

    // A pass over the video per level, a frame at a time: the statistics of its regions, the
    // previews (one GIF per level), and the frames of the sheet with their region maps.
    const double scale = std::min(1.0, static_cast<double>(preview_max_width) / width);
    const int preview_width = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int preview_height = std::max(1, static_cast<int>(std::lround(height * scale)));
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    Frames frames;
    frames.width = width;
    frames.height = height;
    frames.count = count;
    std::vector<LevelView> views;
    std::vector<std::uint8_t> rgb(3 * pixels);
    for (std::uint64_t level : levels) {
        replay.cut(replay.leaf_count() - 1 - level);
        LevelViewBuilder builder(level, pixels);
        std::vector<Magick::Image> previews;
        for (int t = 0; t < count; ++t) {
            load_frame(record.input, record.first_frame + static_cast<std::uint64_t>(t), width,
                       height, rgb.data());
            const bool keep = std::find(columns.begin(), columns.end(), t) != columns.end();
            builder.add_frame(rgb.data(),
                              replay.frame_regions(static_cast<std::uint64_t>(t)).data(), keep);
            if (keep && views.empty()) {
                frames.held.push_back(t);
                frames.rgb.insert(frames.rgb.end(), rgb.begin(), rgb.end());
            }
            if (!std::binary_search(animated.begin(), animated.end(), t)) {
                continue;
            }
            const std::vector<std::uint8_t> preview =
                render_cell(rgb.data(), builder.last_regions(), width, height, nullptr,
                            preview_width, preview_height, true);
            previews.push_back(to_image(preview.data(), preview_width, preview_height));
            previews.back().animationDelay(12);
            previews.back().animationIterations(0);
        }
        boost::filesystem::create_directory(out + "/preview");
        Magick::writeImages(previews.begin(), previews.end(),
                            out + "/preview/" + std::to_string(level) + ".gif");
        views.push_back(builder.finish());
    }

    const Sheet sheet = render_overview(replay.leaf_count(), frames, views, columns);
    to_image(sheet.rgb.data(), sheet.width, sheet.height).write(out + "/overview.png");

    // Per-region summary for scripts.
    std::ofstream csv(out + "/regions.csv");
    csv << "level,regions,label,voxels,first_frame,last_frame,mean_r,mean_g,mean_b\n";
    for (const LevelView& view : views) {
        for (std::size_t r = 0; r < view.label.size(); ++r) {
            csv << view.level << ',' << view.label.size() << ',' << view.label[r] << ','
                << view.voxels[r] << ',' << view.first_frame[r] << ',' << view.last_frame[r] << ','
                << int(view.mean_color[3 * r]) << ',' << int(view.mean_color[3 * r + 1]) << ','
                << int(view.mean_color[3 * r + 2]) << '\n';
        }
    }
    csv.close();
    if (!csv) {
        throw VoradaFileError(out + "/regions.csv", "could not be written completely");
    }
    std::cerr << "Overview of " << views.size() << (views.size() == 1 ? " level" : " levels")
              << " written to " << out << "/overview.png, previews to " << out
              << "/preview/, regions to " << out << "/regions.csv\n";
    return 0;
}

}  // namespace view
}  // namespace vorada
