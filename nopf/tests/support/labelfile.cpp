#include "tests/support/labelfile.h"

#include <cstring>

#include "tests/support/tempdir.h"

namespace vorada {
namespace testing {

LabelFile read_label_file(const std::string& path) {
    const std::string bytes = read_bytes(path);
    LabelFile file;
    file.bytes = bytes.size();
    if (bytes.size() < 24) {
        return file;
    }
    std::memcpy(&file.width, bytes.data(), 8);
    std::memcpy(&file.height, bytes.data() + 8, 8);
    std::memcpy(&file.frames, bytes.data() + 16, 8);
    file.labels.resize((bytes.size() - 24) / 8);
    std::memcpy(file.labels.data(), bytes.data() + 24, file.labels.size() * 8);
    return file;
}

}  // namespace testing
}  // namespace vorada
