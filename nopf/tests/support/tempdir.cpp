#include "tests/support/tempdir.h"

#include <boost/filesystem.hpp>
#include <fstream>
#include <iterator>

namespace vorada {
namespace testing {

TempDir::TempDir() {
    const auto base = boost::filesystem::temp_directory_path() /
                      boost::filesystem::unique_path("vseg-test-%%%%-%%%%-%%%%");
    boost::filesystem::create_directories(base);
    root = base.string();
}

TempDir::~TempDir() {
    boost::system::error_code ignored;
    boost::filesystem::remove_all(root, ignored);
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing
}  // namespace vorada
