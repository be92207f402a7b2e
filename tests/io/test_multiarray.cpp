#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/errors.h"
#include "image/multiarray.h"
#include "io/readmultiarray.h"
#include "io/writebitstream.h"
#include "io/writemultiarray.h"
#include "tests/support/tempdir.h"

namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using vorada::MultiArray;
using vorada::VoradaError;
using vorada::VoradaFileError;
using vorada::VoradaFileNotFound;
using vorada::io::CompressType;
using vorada::io::ReadMultiArray;
using vorada::io::WriteMultiArray;
using vorada::testing::read_bytes;
using vorada::testing::TempDir;
using vorada::testing::write_bytes;
using Bytes = std::vector<unsigned char>;

std::string as_string(const Bytes& b) {
    return std::string(b.begin(), b.end());
}
Bytes as_bytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Little-endian 64-bit field.
Bytes u64(std::uint64_t v) {
    Bytes b;
    for (int i = 0; i < 8; ++i) {
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
    return b;
}

Bytes header(unsigned char compress, unsigned char type, const std::vector<std::uint64_t>& ext) {
    Bytes b{0xFF, 0x00, 0x01, compress, type};
    const Bytes d = u64(ext.size());
    b.insert(b.end(), d.begin(), d.end());
    for (auto e : ext) {
        const Bytes field = u64(e);
        b.insert(b.end(), field.begin(), field.end());
    }
    return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

template <typename T, std::size_t D>
MultiArray<T, D> array_of(const std::vector<unsigned long long>& extents,
                          const std::vector<T>& values) {
    MultiArray<T, D> a(extents);
    std::copy(values.begin(), values.end(), a.data());
    return a;
}

// ---------------------------------------------------------------------------------------------
// Round trips over every element type, compression and dimension count.

template <typename T, std::size_t D, CompressType C>
struct Case {
    using Type = T;
    static constexpr std::size_t dimensions = D;
    static constexpr CompressType compress = C;
};

template <typename C>
class MultiArrayRoundTrip : public ::testing::Test {};

using Cases = ::testing::Types<Case<unsigned char, 1, vorada::io::RunLength>,
                               Case<unsigned char, 2, vorada::io::RunLength>,
                               Case<unsigned char, 3, vorada::io::RunLength>,
                               Case<unsigned char, 1, vorada::io::Raw>,
                               Case<unsigned char, 2, vorada::io::Raw>,
                               Case<unsigned char, 3, vorada::io::Raw>,
                               Case<unsigned int, 1, vorada::io::RunLength>,
                               Case<unsigned int, 2, vorada::io::RunLength>,
                               Case<unsigned int, 3, vorada::io::RunLength>,
                               Case<unsigned int, 1, vorada::io::LabelCode>,
                               Case<unsigned int, 2, vorada::io::LabelCode>,
                               Case<unsigned int, 3, vorada::io::LabelCode>,
                               Case<long long, 1, vorada::io::RunLength>,
                               Case<long long, 2, vorada::io::RunLength>,
                               Case<long long, 3, vorada::io::RunLength>,
                               Case<double, 1, vorada::io::RunLength>,
                               Case<double, 2, vorada::io::RunLength>,
                               Case<double, 3, vorada::io::RunLength>>;
TYPED_TEST_SUITE(MultiArrayRoundTrip, Cases);

template <typename T>
std::vector<T> sample_values(std::size_t n, std::mt19937_64& rng) {
    // Runs of repeated values (so every coder has runs to find) mixed with the type's limits.
    std::vector<T> v;
    // For doubles min() is the smallest normal value, which the portable form cannot read back.
    const T specials[] = {std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max(), T(0),
                          T(1),
                          std::is_floating_point<T>::value ? T(-1) : std::numeric_limits<T>::min()};
    while (v.size() < n) {
        T x;
        if constexpr (std::is_floating_point<T>::value) {
            x = std::uniform_real_distribution<T>(-1e6, 1e6)(rng) * std::ldexp(1.0, rng() % 64);
        } else {
            x = static_cast<T>(rng() % 5 == 0 ? rng() : rng() % 7);
        }
        if (rng() % 9 == 0) {
            x = specials[rng() % 5];
        }
        v.insert(v.end(), 1 + rng() % 6, x);
    }
    v.resize(n);
    return v;
}

TYPED_TEST(MultiArrayRoundTrip, WritesThenReadsTheSameArray) {
    using T = typename TypeParam::Type;
    constexpr std::size_t D = TypeParam::dimensions;
    TempDir dir;
    std::mt19937_64 rng(D * 100 + TypeParam::compress);
    const std::vector<std::vector<unsigned long long>> shapes{{1, 1, 1},   {7, 1, 1},   {1, 5, 3},
                                                              {13, 11, 2}, {300, 4, 1}, {0, 3, 2}};
    for (const auto& shape : shapes) {
        std::vector<unsigned long long> extents(shape.begin(), shape.begin() + D);
        std::size_t n = 1;
        for (auto e : extents) {
            n *= e;
        }
        const MultiArray<T, D> original = array_of<T, D>(extents, sample_values<T>(n, rng));
        const std::string file = dir.file("a.mult");
        WriteMultiArray(file, TypeParam::compress) << original;
        MultiArray<T, D> back(std::vector<unsigned long long>(D, 2));
        ReadMultiArray(file) >> back;
        ASSERT_EQ(back.extent_list(), extents);
        ASSERT_TRUE(std::equal(original.data(), original.data() + n, back.data()))
            << "shape " << shape[0] << " " << shape[1] << " " << shape[2];
    }
}

// ---------------------------------------------------------------------------------------------
// Hand-derived files.

class MultiArrayFile : public ::testing::Test {
  protected:
    template <typename T, std::size_t D>
    Bytes written(const MultiArray<T, D>& a, CompressType compress) {
        WriteMultiArray(file, compress) << a;
        return as_bytes(read_bytes(file));
    }
    template <typename T, std::size_t D>
    MultiArray<T, D> read(const Bytes& bytes) {
        write_bytes(file, as_string(bytes));
        MultiArray<T, D> a;
        ReadMultiArray(file) >> a;
        return a;
    }

    TempDir dir;
    std::string file = dir.file("golden.mult");
};

TEST_F(MultiArrayFile, RawBytesFollowTheHeader) {
    const auto a = array_of<unsigned char, 2>({2, 3}, {1, 2, 3, 4, 5, 6});
    const Bytes expected = Bytes{0xFF, 0x00, 0x01, 0x03, 0x00} + u64(2) + u64(2) + u64(3) + u64(6) +
                           Bytes{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(written(a, vorada::io::Raw), expected);
    const auto back = read<unsigned char, 2>(expected);
    EXPECT_EQ(back.extent_list(), (std::vector<unsigned long long>{2, 3}));
    EXPECT_EQ(back[1][2], 6);  // element x + y * width = 1 + 2 * 2
}

TEST_F(MultiArrayFile, RunLengthPayloadsOfEachElementType) {
    EXPECT_EQ(written(array_of<unsigned char, 1>({6}, {0x41, 0x41, 0x41, 0x41, 0x41, 0x42}),
                      vorada::io::RunLength),
              (header(0, 0, {6}) + u64(5) + Bytes{0x00, 0x00, 0x04, 0x41, 0x42}));
    // Little-endian element bytes 04 03 02 01.
    EXPECT_EQ(written(array_of<unsigned int, 1>({1}, {0x01020304u}), vorada::io::RunLength),
              (header(0, 4, {1}) + u64(5) + Bytes{0x00, 0x04, 0x03, 0x02, 0x01}));
    // -1 is eight FF bytes: a run of 8 with the absent 00 as escape.
    EXPECT_EQ(written(array_of<long long, 1>({1}, {-1}), vorada::io::RunLength),
              (header(0, 7, {1}) + u64(4) + Bytes{0x00, 0x00, 0x07, 0xFF}));
    // Slots 03 40 01 + 8 zeros and 84 40 01 80 + 7 zeros; 02 is the lowest absent byte.
    const Bytes doubles =
        header(0, 9, {2}) + u64(14) +
        Bytes{0x02, 0x03, 0x40, 0x01, 0x02, 0x07, 0x00, 0x84, 0x40, 0x01, 0x80, 0x02, 0x06, 0x00};
    EXPECT_EQ(written(array_of<double, 1>({2}, {1.0, -1.5}), vorada::io::RunLength), doubles);
    const auto back = read<double, 1>(doubles);
    EXPECT_EQ(back[0], 1.0);
    EXPECT_EQ(back[1], -1.5);
}

TEST_F(MultiArrayFile, LabelCodeStartsAfterTheWidthByte) {
    // 2 x 2 zeros: B = 0, bits 111 011 -> EC.
    EXPECT_EQ(written(array_of<unsigned int, 2>({2, 2}, {0, 0, 0, 0}), vorada::io::LabelCode),
              (header(1, 4, {2, 2}) + Bytes{0x00, 0xEC}));
    // 1 1 2 2 2 / 1 1 2 2 2: B = 2, bits 11101 001 110 010 0 001 0 010, two pad bits.
    const Bytes repeated = header(1, 4, {5, 2}) + Bytes{0x02, 0xE9, 0xC8, 0x48};
    const auto a = array_of<unsigned int, 2>({5, 2}, {1, 1, 2, 2, 2, 1, 1, 2, 2, 2});
    EXPECT_EQ(written(a, vorada::io::LabelCode), repeated);
    const auto back = read<unsigned int, 2>(repeated);
    EXPECT_TRUE(std::equal(a.data(), a.data() + 10, back.data()));
    // An empty array: B = 0, bits 111 100000000.
    EXPECT_EQ(written(MultiArray<unsigned int, 2>({0, 3}), vorada::io::LabelCode),
              (header(1, 4, {0, 3}) + Bytes{0x00, 0xF0, 0x00}));
}

// ---------------------------------------------------------------------------------------------
// The failure table.

class MultiArrayFailure : public MultiArrayFile {
  protected:
    template <typename T, std::size_t D>
    void expect_read_error(const Bytes& bytes, const std::string& message) {
        write_bytes(file, as_string(bytes));
        MultiArray<T, D> a;
        EXPECT_THAT([&] { ReadMultiArray(file) >> a; }, ThrowsMessage<VoradaError>(StrEq(message)));
    }
};

TEST_F(MultiArrayFailure, MissingFilesAreNotFound) {
    MultiArray<unsigned char, 2> a;
    const std::string missing = dir.file("none.mult");
    EXPECT_THAT([&] { ReadMultiArray(missing) >> a; },
                ThrowsMessage<VoradaFileNotFound>(StrEq("File " + missing + " not found")));
    const std::string nowhere = dir.file("no/such/dir.mult");
    EXPECT_THAT([&] { WriteMultiArray(nowhere, vorada::io::Raw) << a; },
                ThrowsMessage<VoradaFileNotFound>(StrEq("File " + nowhere + " not found")));
}

TEST_F(MultiArrayFailure, HeaderMismatchesUseTheirMessages) {
    const Bytes u8 = header(3, 0, {1, 1}) + u64(1) + Bytes{7};
    Bytes bad_magic = u8;
    bad_magic[0] = 0xFE;
    expect_read_error<unsigned char, 2>(bad_magic, "Magic number does not exists in the file");
    expect_read_error<unsigned char, 2>({0xFF}, "Magic number does not exists in the file");
    Bytes bad_type = u8;
    bad_type[2] = 2;
    expect_read_error<unsigned char, 2>(bad_type, "File type is not multiarray");
    expect_read_error<unsigned int, 2>(u8, "Datatype is not uint32 in file");
    expect_read_error<double, 2>(u8, "Datatype is not float64 in file");
    expect_read_error<long long, 2>(u8, "Datatype is not int64 in file");
    expect_read_error<unsigned char, 2>(header(0, 4, {1, 1}), "Datatype is not uint8 in file");
    expect_read_error<unsigned char, 3>(u8,
                                        "Dimensions in the file do not correspond to templated "
                                        "dimensions");
    // Label coding is for 32-bit labels only; raw storage for bytes only.
    expect_read_error<unsigned char, 2>(header(1, 0, {1, 1}), "Unknown compress type");
    expect_read_error<double, 2>(header(3, 9, {1, 1}), "Unknown compress type");
}

TEST_F(MultiArrayFailure, UnsupportedWritesLeaveAnExistingFileAlone) {
    write_bytes(file, "keep");
    const auto a = array_of<double, 1>({1}, {1.0});
    EXPECT_THAT([&] { WriteMultiArray(file, vorada::io::Raw) << a; },
                ThrowsMessage<VoradaError>(StrEq("Unknown compress type")));
    const auto integers = array_of<long long, 1>({1}, {1});
    EXPECT_THAT([&] { WriteMultiArray(file, vorada::io::LabelCode) << integers; },
                ThrowsMessage<VoradaError>(StrEq("Unknown compress type")));
    const auto nan = array_of<double, 1>({2}, {1.0, std::numeric_limits<double>::quiet_NaN()});
    EXPECT_THROW(WriteMultiArray(file, vorada::io::RunLength) << nan, VoradaError);
    EXPECT_EQ(read_bytes(file), "keep");
}

TEST_F(MultiArrayFailure, AFullDeviceFailsAtTheMagicNumber) {
    const auto a = array_of<unsigned char, 1>({1}, {1});
    EXPECT_THAT([&] { WriteMultiArray("/dev/full", vorada::io::Raw) << a; },
                ThrowsMessage<VoradaFileError>(
                    StrEq("Error in file '/dev/full': Cannot write magic number into file")));
}

TEST_F(MultiArrayFailure, OutOfRangeFloatsPropagateTheirMessage) {
    // One slot 04 C0 7F 01 (exponent 128) padded to 11 bytes; escape EE.
    expect_read_error<double, 1>(
        header(0, 9, {1}) + u64(8) + Bytes{0xEE, 0x04, 0xC0, 0x7F, 0x01, 0xEE, 0x06, 0x00},
        "The float value read causes an overflow on this machine");
}

TEST_F(MultiArrayFailure, DoublesBelowThePortableRangeAreWrittenButNotRead) {
    WriteMultiArray(file, vorada::io::RunLength)
        << array_of<double, 1>({2}, {1.0, std::numeric_limits<double>::min()});
    MultiArray<double, 1> a;
    EXPECT_THAT([&] { ReadMultiArray(file) >> a; },
                ThrowsMessage<VoradaError>(
                    StrEq("The float value read causes an underflow on this machine")));
    EXPECT_EQ(a.num_elements(), 0u);
}

TEST_F(MultiArrayFailure, AFailedReadLeavesTheArrayUnchanged) {
    write_bytes(file, as_string(header(0, 0, {4}) + u64(4) + Bytes{0, 0, 5, 0x41}));
    auto a = array_of<unsigned char, 1>({3}, {9, 8, 7});
    EXPECT_THROW(ReadMultiArray(file) >> a, VoradaFileError);
    EXPECT_EQ(a.extent_list(), (std::vector<unsigned long long>{3}));
    EXPECT_EQ(a[2], 7);
}

// ---------------------------------------------------------------------------------------------
// Broken files kept in tests/data/io, each refused with a message naming the file and fault.

std::string data_file(const std::string& name) {
    const char* root = std::getenv("VORADA_SOURCE_DIR");
    if (root) {
        return std::string(root) + "/tests/data/io/" + name;
    }
    const std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/../data/io/" + name;
}

struct BrokenFile {
    const char* name;
    const char* reason;
};

template <typename T, std::size_t D>
void expect_broken(const BrokenFile& broken) {
    const std::string file = data_file(broken.name);
    MultiArray<T, D> a;
    EXPECT_THAT(
        [&] { ReadMultiArray(file) >> a; },
        ThrowsMessage<VoradaFileError>(StrEq("Error in file '" + file + "': " + broken.reason)));
}

TEST(ReadMultiArrayBrokenFiles, RunLengthFaults) {
    const BrokenFile bytes[] = {
        {"rle_run_past_end.mult", "run-length code passes the end of the array"},
        {"rle_payload_ends_early.mult", "run-length payload ends early"},
        {"rle_code_cut_after_escape.mult", "run-length code ends inside a code"},
        {"rle_too_few_bytes.mult", "run-length code ends before the array is filled"},
        {"extents_exceed_file.mult", "extents exceed what the file could hold"}};
    for (const auto& b : bytes) {
        expect_broken<unsigned char, 1>(b);
    }
    expect_broken<unsigned char, 2>({"header_cut_in_extents.mult", "header ends early"});
    expect_broken<unsigned char, 2>({"extent_beyond_index.mult", "extents overflow"});
    expect_broken<double, 2>({"extents_overflow.mult", "extents overflow"});
    expect_broken<double, 1>(
        {"float_slot_too_long.mult", "portable float is longer than its slot"});
}

TEST(ReadMultiArrayFuzzFindings, EmptyInt64ArrayWithTrailingBytesReadsAndWritesBack) {
    // An empty 1-D int64 array followed by junk; writing it back once copied from a null
    // pointer.
    MultiArray<long long, 1> a;
    ReadMultiArray(data_file("int64_empty_array_written_back.mult")) >> a;
    EXPECT_EQ(a.extent_list(), (std::vector<unsigned long long>{0}));
    TempDir dir;
    WriteMultiArray(dir.file("back.mult"), vorada::io::RunLength) << a;
    MultiArray<long long, 1> back({4});
    ReadMultiArray(dir.file("back.mult")) >> back;
    EXPECT_EQ(back.num_elements(), 0u);
}

TEST(ReadMultiArrayBrokenFiles, RawFaults) {
    expect_broken<unsigned char, 2>(
        {"raw_count_mismatch.bay", "raw element count does not match the extents"});
    expect_broken<unsigned char, 2>({"raw_payload_ends_early.bay", "raw payload ends early"});
}

TEST(ReadMultiArrayBrokenFiles, LabelCodeFaults) {
    const BrokenFile labels[] = {
        {"label_run_past_end.prl", "label run passes the end of the array"},
        {"label_above_in_first_row.prl", "label code refers to the row above in the first row"},
        {"label_code_ends_early.prl", "label code ends before the array is filled"},
        {"label_next_label_overflows.prl", "next label after the largest does not fit in 32 bits"},
        {"label_explicit_too_wide.prl", "explicit label does not fit in 32 bits"},
        {"label_width_missing.prl", "label code ends before the array is filled"},
        {"label_extents_exceed_file.prl", "extents exceed what the file could hold"}};
    for (const auto& b : labels) {
        expect_broken<unsigned int, 2>(b);
    }
}

long peak_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A header that claims far more elements than its short code fills must be refused before the
// array is allocated: well within 64 MiB and a second, not gigabytes and tens of seconds.
TEST(ReadMultiArrayBombs, ShortCodesAreRefusedBeforeTheArrayIsAllocated) {
    TempDir dir;
    const long before = peak_kib();
    // Run-length: 1 MiB of literals after a header claiming 8192 times as many bytes (8 GiB).
    const std::uint64_t coded = std::uint64_t{1} << 20;
    const std::string rle = dir.file("bomb.mult");
    write_bytes(rle, as_string(header(0, 0, {8192 * (coded - 1)}) + u64(coded) + Bytes{0x00} +
                               Bytes(coded - 1, 0x01)));
    MultiArray<unsigned char, 1> bytes;
    EXPECT_THAT(
        [&] { ReadMultiArray(rle) >> bytes; },
        ThrowsMessage<VoradaFileError>(
            StrEq("Error in file '" + rle + "': run-length code ends before the array is filled")));
    // Label code: runs of 255 copies of the label above cost 10 bits each; the header claims
    // 26 elements per bit, about what the file could hold (200 MB of labels).
    const std::uint64_t payload = std::uint64_t{1} << 18;
    const std::string prl = dir.file("bomb.prl");
    write_bytes(prl, as_string(header(1, 4, {1, 26 * 8 * (payload - 1)}) + Bytes{0}));
    {
        vorada::io::WriteBitStream bits(prl, vorada::io::Append);
        bits.write(7, 3);  // explicit label 0 in 0 bits, then a run of 1
        bits.write(0, 3);
        for (std::uint64_t i = 0; i < (8 * (payload - 1) + 3) / 10; ++i) {
            bits.write(0, 1);
            bits.write(256 + 255, 9);
        }
        bits.close();
    }
    MultiArray<unsigned int, 2> labels;
    EXPECT_THAT([&] { ReadMultiArray(prl) >> labels; },
                ThrowsMessage<VoradaFileError>(StrEq(
                    "Error in file '" + prl + "': label code ends before the array is filled")));
    EXPECT_LT(peak_kib() - before, 64 * 1024);
}

}  // namespace
