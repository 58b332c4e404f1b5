// Byte arrays generated from files by cmake/embed-binary.cmake: the bytes as
// the file holds them, and no array for an empty or absent file.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "hw/driver_images.h"

namespace lirrin {

// Generated for this test from tests/hw/embed_fixture.bin, an empty file
// and a path that does not exist.
TDriverImageBytes EmbeddedFixture();
TDriverImageBytes EmbeddedEmptyFile();
TDriverImageBytes EmbeddedAbsentFile();

namespace {

TEST(EmbedBinary, BytesAsTheFileHoldsThem) {
  std::ifstream file(LIRRIN_EMBED_FIXTURE, std::ios::binary);
  const std::vector<unsigned char> expected{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  ASSERT_GT(expected.size(), 16u);  // more than one line of the generated source
  const TDriverImageBytes image = EmbeddedFixture();
  ASSERT_EQ(image.Size, expected.size());
  EXPECT_EQ(std::vector<unsigned char>(image.Bytes, image.Bytes + image.Size), expected);
}

TEST(EmbedBinary, EmptyOrAbsentFileGivesNoImage) {
  for (const TDriverImageBytes image : {EmbeddedEmptyFile(), EmbeddedAbsentFile()}) {
    EXPECT_EQ(image.Bytes, nullptr);
    EXPECT_EQ(image.Size, 0u);
  }
}

}  // namespace
}  // namespace lirrin
