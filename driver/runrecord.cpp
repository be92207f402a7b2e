#include "driver/runrecord.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "common/errors.h"
#include "driver/tictoc.h"
#include "io/atomicfile.h"
#include "layout/layout.h"

namespace vorada {
namespace gma {

namespace {

std::string json_string(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

double seconds_of(const timeval& time) {
    return static_cast<double>(time.tv_sec) + 1e-6 * static_cast<double>(time.tv_usec);
}

}  // namespace

StageClock::StageClock(RunRecord& run_record)
    : record(run_record),
      wall_start(std::chrono::steady_clock::now()),
      cpu_start(TicToc::cpu_time()) {}

void StageClock::stop(const std::string& stage) {
    const auto wall_now = std::chrono::steady_clock::now();
    const double cpu_now = TicToc::cpu_time();
    record.stages.push_back(
        {stage, std::chrono::duration<double>(wall_now - wall_start).count(), cpu_now - cpu_start});
    wall_start = wall_now;
    cpu_start = cpu_now;
}

std::string run_record_json(const RunRecord& record) {
    std::ostringstream json;
    json << std::fixed << std::setprecision(3);
    json << "{\n  \"program\": \"vseg\",\n  \"version\": "
         << json_string(layout::version_with_commit()) << ",\n";
    json << "  \"arguments\": [";
    for (std::size_t k = 0; k < record.arguments.size(); ++k) {
        json << (k ? ", " : "") << json_string(record.arguments[k]);
    }
    json << "],\n";
    json << "  \"frame_width\": " << record.width << ",\n  \"frame_height\": " << record.height
         << ",\n  \"frame_count\": " << record.frames
         << ",\n  \"leaf_regions\": " << record.leaf_regions << ",\n";
    json << "  \"stages\": {";
    double wall = 0;
    double cpu = 0;
    for (std::size_t k = 0; k < record.stages.size(); ++k) {
        const StageTime& stage = record.stages[k];
        json << (k ? ",\n" : "\n") << "    " << json_string(stage.name)
             << ": {\"wall_seconds\": " << stage.wall_seconds
             << ", \"cpu_seconds\": " << stage.cpu_seconds << "}";
        wall += stage.wall_seconds;
        cpu += stage.cpu_seconds;
    }
    json << (record.stages.empty() ? "},\n" : "\n  },\n");
    json << "  \"wall_seconds\": " << wall << ",\n  \"cpu_seconds\": " << cpu
         << ",\n  \"writer_cpu_seconds\": " << record.writer_cpu_seconds << ",\n";
    json << "  \"peak_memory_kib\": " << record.peak_memory_kib
         << ",\n  \"peak_writer_memory_kib\": " << record.peak_writer_memory_kib << ",\n";
    json << "  \"complete\": true\n}\n";
    return json.str();
}

void write_run_record(const std::string& output_directory, RunRecord record, void (*recorded)()) {
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    record.peak_memory_kib = self.ru_maxrss;
    record.peak_writer_memory_kib = children.ru_maxrss;
    record.writer_cpu_seconds = seconds_of(children.ru_utime) + seconds_of(children.ru_stime);
    // Every file is on the disk under its final name before the record says so.
    io::sync_file_system(output_directory);
    const std::string json = run_record_json(record);
    // A stop signal arriving between the rename and `recorded` waits for both, so that what it
    // reports matches what the folder holds.
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stops, signal_number);
    }
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    try {
        io::write_file_atomically(layout::run_record_path(output_directory), json.data(),
                                  json.size());
        if (recorded) {
            recorded();
        }
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    io::sync_directory(output_directory);
}

void remove_run_record(const std::string& output_directory) {
    const std::string path = layout::run_record_path(output_directory);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
        throw VoradaFileError(path, std::string("cannot be removed: ") + std::strerror(errno));
    }
}

}  // namespace gma
}  // namespace vorada
