#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "common/errors.h"
#include "io/readbitstream.h"
#include "io/writebitstream.h"
#include "tests/support/tempdir.h"

namespace vorada {
namespace io {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;
using vorada::testing::read_bytes;
using vorada::testing::TempDir;
using vorada::testing::write_bytes;

class BitStreamTest : public ::testing::Test {
  protected:
    TempDir directory;
    std::string path = directory.file("bits.bin");
};

TEST_F(BitStreamTest, FieldsArePackedMostSignificantBitFirst) {
    WriteBitStream writer(path, Overwrite);
    writer.write(5, 3);
    writer.write(100, 7);
    writer.write(33, 6);
    writer.close();
    EXPECT_EQ(read_bytes(path), std::string("\xB9\x21", 2));

    ReadBitStream reader(path);
    EXPECT_EQ(reader.read(3), 5u);
    EXPECT_EQ(reader.read(7), 100u);
    EXPECT_EQ(reader.read(6), 33u);
}

TEST_F(BitStreamTest, UnalignedSixtyFourBitFieldSpansNineBytes) {
    const std::uint64_t value = 0xF123456789ABCDEFull;
    WriteBitStream writer(path, Overwrite);
    writer.write(1, 1);
    writer.write(value, 64);
    writer.close();
    // 1 | F123456789ABCDEF, then 7 padding zeros.
    EXPECT_EQ(read_bytes(path), std::string("\xF8\x91\xA2\xB3\xC4\xD5\xE6\xF7\x80", 9));

    ReadBitStream reader(path);
    EXPECT_EQ(reader.read(1), 1u);
    EXPECT_EQ(reader.read(64), value);
}

TEST_F(BitStreamTest, ByteAlignedFieldsAndFieldsEndingOnAByteBoundary) {
    WriteBitStream writer(path, Overwrite);
    writer.write(0xAB, 8);
    writer.write(0x3, 4);
    writer.write(0x4, 4);
    writer.write(0x1234, 16);
    writer.write(0x5, 4);
    writer.write(0x678, 12);  // ends exactly on a byte
    writer.close();
    EXPECT_EQ(read_bytes(path), std::string("\xAB\x34\x12\x34\x56\x78", 6));
}

TEST_F(BitStreamTest, StrayHighBitsDoNotCorruptEarlierFields) {
    WriteBitStream writer(path, Overwrite);
    writer.write(1, 1);
    writer.write(0xFF, 3);  // only the low three bits belong to the field
    writer.close();
    EXPECT_EQ(read_bytes(path), std::string("\xF0", 1));
}

TEST_F(BitStreamTest, AppendKeepsTheExistingBytes) {
    write_bytes(path, "A");
    WriteBitStream writer(path, Append);
    writer.write('B', 8);
    writer.close();
    EXPECT_EQ(read_bytes(path), "AB");
}

TEST_F(BitStreamTest, WriterDestroyedWithoutCloseDropsThePartialByte) {
    {
        WriteBitStream writer(path, Overwrite);
        writer.write(5, 3);
    }
    EXPECT_EQ(read_bytes(path), "");
}

TEST_F(BitStreamTest, ReadClampsTheCountAndZeroReadsNothing) {
    write_bytes(path, std::string("\x01\x02\x03\x04\x05\x06\x07\x08\xFF\xFF", 10));
    ReadBitStream reader(path);
    EXPECT_EQ(reader.read(0), 0u);
    EXPECT_EQ(reader.tellg(), 0u);
    EXPECT_EQ(reader.read(70), 0x0102030405060708ull);
    EXPECT_EQ(reader.tellg(), 64u);
}

TEST_F(BitStreamTest, PositionsAreCountedInBits) {
    write_bytes(path, std::string("\x0F\xA5\x3C\x00\x00\x00\x00\x00\x00\x00", 10));
    ReadBitStream reader(path);
    EXPECT_EQ(reader.remaining_size(), 80u);
    EXPECT_EQ(reader.read(3), 0u);
    EXPECT_EQ(reader.tellg(), 3u);
    EXPECT_EQ(reader.remaining_size(), 72u);
    EXPECT_EQ(reader.tellg(), 3u);

    reader.seekg(11);  // bits 11 to 15 of A5 = 1010 0101: 00101
    EXPECT_EQ(reader.tellg(), 11u);
    EXPECT_EQ(reader.read(5), 0x05u);

    reader.seekg(4);
    EXPECT_EQ(reader.read(12), 0xFA5u);
}

TEST_F(BitStreamTest, ReadingPastTheEndNamesTheFileAndPositionAndMovesNothing) {
    write_bytes(path, "\xFF");
    ReadBitStream reader(path);
    EXPECT_EQ(reader.read(3), 0x7u);
    EXPECT_THAT(
        [&] { reader.read(16); },
        ThrowsMessage<VoradaFileError>(StrEq(
            "Error in file '" + path + "': reading 16 bits at bit 3 passes the end of the file")));
    EXPECT_EQ(reader.tellg(), 3u);
    EXPECT_EQ(reader.read(5), 0x1Fu);
    reader.seekg(4);
    EXPECT_EQ(reader.read(4), 0xFu);
}

TEST(ReadBitStream, FailuresThrowTheirMessages) {
    ReadBitStream closed;
    EXPECT_THAT(
        [&] { closed.read(3); },
        ThrowsMessage<VoradaError>(StrEq("Call 'open' before trying to read from a file.")));
    EXPECT_THAT([&] { closed.seekg(3); },
                ThrowsMessage<VoradaError>(
                    StrEq("Call 'open' before trying to move the pointer from a file.")));
    EXPECT_THAT([&] { closed.tellg(); },
                ThrowsMessage<VoradaError>(StrEq(
                    "Call 'open' before trying to get the position of the pointer in a file.")));
    EXPECT_THAT(
        [&] { closed.remaining_size(); },
        ThrowsMessage<VoradaError>(StrEq("Call 'open' before trying to get size of file.")));

    TempDir directory;
    const std::string missing = directory.file("missing.bin");
    EXPECT_THAT([&] { closed.open(missing); },
                ThrowsMessage<VoradaFileNotFound>(StrEq("File " + missing + " not found")));
    write_bytes(directory.file("a"), "x");
    closed.open(directory.file("a"));
    EXPECT_THAT([&] { closed.open(directory.file("a")); },
                ThrowsMessage<VoradaError>(StrEq("BitStream already open, close it first")));
}

TEST(WriteBitStream, FailuresThrowTheirMessages) {
    WriteBitStream closed;
    EXPECT_THAT([&] { closed.write(1, 1); },
                ThrowsMessage<VoradaError>(StrEq("Call 'open' before trying to write to file.")));

    TempDir directory;
    EXPECT_THAT([&] { closed.open(directory.file("a"), static_cast<OpenMode>(2)); },
                ThrowsMessage<VoradaError>(StrEq("Unknowm open mode in WriteBitStream")));
    const std::string unreachable = directory.file("no/such/dir/file.bin");
    EXPECT_THAT([&] { closed.open(unreachable, Overwrite); },
                ThrowsMessage<VoradaFileNotFound>(StrEq("File " + unreachable + " not found")));
    closed.open(directory.file("a"), Overwrite);
    EXPECT_THAT([&] { closed.open(directory.file("a"), Overwrite); },
                ThrowsMessage<VoradaError>(StrEq("BitStream already open, close it first")));
}

}  // namespace
}  // namespace io
}  // namespace vorada
