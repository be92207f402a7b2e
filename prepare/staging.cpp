#include "prepare/staging.h"

#include <stdlib.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <sstream>

#include "common/errors.h"

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
    if (!fs::exists(status)) {
        // Remember each level made, so that a failed run leaves no empty folders behind.
        std::vector<fs::path> missing;
        for (fs::path path = fs::absolute(output); !path.empty() && !fs::exists(path, error);
             path = path.parent_path()) {
            missing.insert(missing.begin(), path);
        }
        for (const fs::path& path : missing) {
            if (!fs::create_directory(path, error) || error) {
                throw VoradaError(output + ": cannot create this folder (" + error.message() + ")");
            }
            created.push_back(path.string());
        }
    } else if (holds_prepared_data(output) && !force) {
        const std::string previous = recorded_input(output);
        if (previous != input_identity) {
            throw VoradaError(output + " already holds frames or flows of " +
                              (previous.empty() ? std::string("another input") : previous) +
                              "; use --force to replace them");
        }
    }
    std::string pattern = (fs::path(output) / ".vseg-prepare-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) {
        throw VoradaError(output + ": cannot write into this folder");
    }
    staging = pattern;
    for (const char* name : replaced_names) {
        fs::create_directory(fs::path(staging) / name);
    }
}

Staging::~Staging() {
    boost::system::error_code ignored;
    fs::remove_all(staging, ignored);
    if (!committed) {
        for (auto level = created.rbegin(); level != created.rend(); ++level) {
            fs::remove(*level, ignored);  // only removes a folder left empty
        }
    }
}

void Staging::commit(const std::string& record) {
    const fs::path out(output), stage(staging), old = stage / "replaced";
    {
        std::ofstream file((stage / record_file_name).string(), std::ios::trunc);
        file << record;
        file.close();
        if (!file) {
            throw VoradaError(output + ": cannot write " + record_file_name);
        }
    }
    fs::create_directory(old);
    // The old record goes first and the new one comes last: a folder caught between the two
    // has no record, so it is never taken for a complete run of this input.
    boost::system::error_code error;
    if (fs::exists(out / record_file_name, error)) {
        rename_or_throw(out / record_file_name, old / record_file_name);
    }
    for (const char* name : replaced_names) {
        if (fs::exists(out / name, error)) {
            rename_or_throw(out / name, old / name);
        }
    }
    for (const char* name : replaced_names) {
        rename_or_throw(stage / name, out / name);
    }
    rename_or_throw(stage / record_file_name, out / record_file_name);
    committed = true;
}

}  // namespace prepare
}  // namespace vorada
