// libFuzzer target for bit streams. The reader follows a model of the file's bits through reads,
// seeks and position queries; reading past the end fails with the library's error
// and moves nothing. Fields written by the writer read back unchanged.

#include <string>
#include <vector>

#include "common/errors.h"
#include "io/readbitstream.h"
#include "io/writebitstream.h"
#include "tests/fuzz/fuzz_common.h"

namespace {

std::uint64_t model_read(const std::uint8_t* file, std::uint64_t position, unsigned n) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++position) {
        v = (v << 1) | ((file[position / 8] >> (7 - position % 8)) & 1u);
    }
    return v;
}

void check_reader(const std::string& path,
                  const std::uint8_t* file,
                  std::size_t size,
                  const std::uint8_t* ops,
                  std::size_t count) {
    vorada::io::ReadBitStream reader(path);
    const std::uint64_t end = 8 * std::uint64_t{size};
    std::uint64_t position = 0;
    for (std::size_t i = 0; i + 1 < count; i += 2) {
        const unsigned arg = ops[i + 1];
        switch (ops[i] % 5) {
            case 0:
            case 1: {
                const unsigned n = std::min(arg % 72, 64u);
                if (position + n <= end) {
                    fuzz::check(reader.read(arg % 72) == model_read(file, position, n));
                    position += n;
                } else {
                    try {
                        (void)reader.read(arg % 72);
                        fuzz::check(false);
                    } catch (const vorada::VoradaFileError& error) {
                        fuzz::check(std::string(error.what()) ==
                                    "Error in file '" + path + "': reading " + std::to_string(n) +
                                        " bits at bit " + std::to_string(position) +
                                        " passes the end of the file");
                    }
                }
                break;
            }
            case 2:
                position = arg % (end + 1);
                reader.seekg(position);
                break;
            case 3:
                break;
            case 4:
                fuzz::check(reader.remaining_size() == end - 8 * ((position + 7) / 8));
                break;
        }
        fuzz::check(reader.tellg() == position);
    }
}

void check_writer(const std::string& path, const std::uint8_t* ops, std::size_t count) {
    std::vector<std::pair<std::uint64_t, unsigned>> fields;
    std::uint64_t total = 0;
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    {
        vorada::io::WriteBitStream writer(path, vorada::io::Overwrite);
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned n = ops[i] % 65;
            state = state * 6364136223846793005ull + ops[i] + 1;
            const std::uint64_t value = n == 64 ? state : state & ((std::uint64_t{1} << n) - 1);
            writer.write(value, n);
            fields.emplace_back(value, n);
            total += n;
        }
        writer.close();
    }
    vorada::io::ReadBitStream reader(path);
    fuzz::check(reader.remaining_size() == 8 * ((total + 7) / 8));
    for (const auto& field : fields) {
        fuzz::check(reader.read(field.second) == field.first);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::scratch("fuzz_bitstream", "bits");
    if (size == 0) {
        return 0;
    }
    const std::size_t file_size = std::min<std::size_t>(data[0] % 64, size - 1);
    fuzz::write_file(path, data + 1, file_size);
    const std::uint8_t* ops = data + 1 + file_size;
    const std::size_t count = size - 1 - file_size;
    check_reader(path, data + 1, file_size, ops, count);
    check_writer(path, ops, count);
    return 0;
}
