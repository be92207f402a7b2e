#include <gtest/gtest.h>

#include "common/errors.h"

namespace vorada {
namespace {

TEST(ErrorClasses, ComposeTheirMessages) {
    EXPECT_STREQ(VoradaError("plain text").what(), "plain text");
    EXPECT_STREQ(VoradaFileError("a/b.png", "bad header").what(),
                 "Error in file 'a/b.png': bad header");
    EXPECT_STREQ(VoradaFileNotFound("frames/frame000.png").what(),
                 "File frames/frame000.png not found");
    EXPECT_STREQ(VoradaNotImplemented("Buffer Color Mode not implemented").what(),
                 "NOT IMPLEMENTED : Buffer Color Mode not implemented");
}

TEST(ErrorClasses, AllDeriveFromTheBacktracedBase) {
    EXPECT_THROW(throw VoradaFileError("f", "r"), BacktracedVoradaException);
    EXPECT_THROW(throw VoradaFileNotFound("f"), BacktracedVoradaException);
    EXPECT_THROW(throw VoradaNotImplemented("x"), BacktracedVoradaException);
    EXPECT_THROW(throw VoradaError("x"), std::exception);
}

}  // namespace
}  // namespace vorada
