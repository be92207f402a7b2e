#include "prepare/staging.h"

#include <stdlib.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/errors.h"
#include "io/atomicfile.h"
#include "prepare/shots.h"

namespace vorada {
namespace prepare {
namespace {

namespace fs = boost::filesystem;

const char* const replaced_names[] = {"frames", "flows"};

bool holds_prepared_data(const std::string& output_directory) {
    boost::system::error_code error;
    for (const char* name : replaced_names) {
        if (fs::exists(fs::path(output_directory) / name, error)) {
            return true;
        }
    }
    return false;
}

void rename_or_throw(const fs::path& from, const fs::path& to) {
    boost::system::error_code error;
    fs::rename(from, to, error);
    if (error) {
        throw VoradaError("cannot move " + from.string() + " to " + to.string() + " (" +
                          error.message() + ")");
    }
}

}  // namespace

const char* const record_file_name = "vseg-prepare.txt";

std::string recorded_input(const std::string& output_directory) {
    std::ifstream in((fs::path(output_directory) / record_file_name).string());
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 6, "input ") == 0) {
            return line.substr(6);
        }
    }
    return "";
}

Staging::Staging(const std::string& output_directory, const std::string& input_identity, bool force)
    : output(output_directory) {
    boost::system::error_code error;
    const fs::file_status status = fs::status(output, error);
    if (fs::exists(status) && !fs::is_directory(status)) {
        throw VoradaError(output + ": exists and is not a folder");
    }
    try {
        if (!fs::exists(status)) {
            // Remember each level made, so that a failed run leaves no empty folders behind.
            std::vector<fs::path> missing;
            for (fs::path path = fs::absolute(output); !path.empty() && !fs::exists(path, error);
                 path = path.parent_path()) {
                missing.insert(missing.begin(), path);
            }
            for (const fs::path& path : missing) {
                if (fs::create_directory(path, error)) {
                    created.push_back(path.string());
                } else if (error || !fs::is_directory(path, error)) {
                    throw VoradaError(output + ": cannot create this folder (" + error.message() +
                                      ")");
                }
            }
        }
        // Held through the swap: another run could otherwise pass the check below and then
        // replace what this one commits, or the other way round.
        lock = std::make_unique<io::OutputLock>(output);
        if (holds_prepared_data(output) && !force) {
            const std::string previous = recorded_input(output);
            if (previous != input_identity) {
                throw VoradaError(output + " already holds frames or flows of " +
                                  (previous.empty() ? std::string("another input") : previous) +
                                  "; use --force to replace them");
            }
        }
        // Private folders of runs that were killed: with the lock held, none is in use.
        for (fs::directory_iterator entry(output, error), end; !error && entry != end;
             entry.increment(error)) {
            if (entry->path().filename().string().compare(0, 14, ".vseg-prepare-") == 0 &&
                fs::is_directory(entry->symlink_status())) {
                boost::system::error_code ignored;
                fs::remove_all(entry->path(), ignored);
            }
        }
        std::string pattern = (fs::path(output) / ".vseg-prepare-XXXXXX").string();
        if (mkdtemp(&pattern[0]) == nullptr) {
            throw VoradaError(output + ": cannot write into this folder (" + std::strerror(errno) +
                              ")");
        }
        staging = pattern;
        for (const char* name : replaced_names) {
            if (!fs::create_directory(fs::path(staging) / name, error) || error) {
                throw VoradaError((fs::path(staging) / name).string() +
                                  ": cannot create this folder (" + error.message() + ")");
            }
        }
    } catch (...) {
        _clean_up();
        throw;
    }
}

Staging::~Staging() {
    _clean_up();
}

void Staging::_clean_up() {
    boost::system::error_code ignored;
    if (!staging.empty()) {
        fs::remove_all(staging, ignored);
    }
    lock.reset();
    if (!committed) {
        for (auto level = created.rbegin(); level != created.rend(); ++level) {
            fs::remove(*level, ignored);  // only removes a folder left empty
        }
    }
}

void Staging::commit(const std::string& record) {
    const fs::path out(output), stage(staging), old = stage / "replaced";
    io::write_file_atomically((stage / record_file_name).string(), record.data(), record.size());
    boost::system::error_code error;
    if (!fs::create_directory(old, error) || error) {
        throw VoradaError(old.string() + ": cannot create this folder (" + error.message() + ")");
    }
    // The old record goes first and the new one comes last: a folder caught between the two
    // has no record, so it is never taken for a complete run of this input.
    if (fs::exists(out / record_file_name, error)) {
        rename_or_throw(out / record_file_name, old / record_file_name);
    }
    for (const char* name : replaced_names) {
        if (fs::exists(out / name, error)) {
            rename_or_throw(out / name, old / name);
        }
    }
    if (fs::exists(out / shots_file_name, error)) {
        rename_or_throw(out / shots_file_name, old / shots_file_name);
    }
    for (const char* name : replaced_names) {
        rename_or_throw(stage / name, out / name);
    }
    if (fs::exists(stage / shots_file_name, error)) {
        rename_or_throw(stage / shots_file_name, out / shots_file_name);
    }
    rename_or_throw(stage / record_file_name, out / record_file_name);
    committed = true;
}

}  // namespace prepare
}  // namespace vorada
