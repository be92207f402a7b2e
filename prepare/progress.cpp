#include "prepare/progress.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace vorada {
namespace prepare {
namespace {

std::string minutes_seconds(double seconds) {
    const long long whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

}  // namespace

Progress::Progress(std::ostream& stream, unsigned long long expected_frames, bool is_terminal)
    : out(stream), expected(expected_frames), terminal(is_terminal) {}

void Progress::update(unsigned long long done) {
    const Clock::time_point now = Clock::now();
    if (!terminal && now - last_line < std::chrono::seconds(1)) {
        return;
    }
    last_line = now;
    _draw(done, false);
}

void Progress::finish(unsigned long long done) {
    _draw(done, true);
}

void Progress::_draw(unsigned long long done, bool final_line) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    // A video's frame count is an estimate: never show more than 100 %.
    const unsigned long long total = std::max(expected, done);
    char numbers[128];
    if (final_line) {
        std::snprintf(numbers, sizeof numbers, "%llu frames in %.1f s, %.1f frames/s", done,
                      elapsed, fps);
    } else if (total > 0 && fps > 0) {
        std::snprintf(numbers, sizeof numbers, "%llu/%llu frames, %.1f frames/s, %s left", done,
                      total, fps, minutes_seconds(static_cast<double>(total - done) / fps).c_str());
    } else {
        std::snprintf(numbers, sizeof numbers, "%llu frames, %.1f frames/s", done, fps);
    }
    if (!terminal) {
        out << numbers << "\n" << std::flush;
        return;
    }
    const int width = 30;
    const int filled = total > 0 ? static_cast<int>(width * done / total) : 0;
    std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, ' ') + "] ";
    if (final_line || total == 0) {
        bar.clear();  // no bar for a total not known in advance
    }
    out << "\r\033[K" << bar << numbers << (final_line ? "\n" : "") << std::flush;
}

}  // namespace prepare
}  // namespace vorada
