#include <gtest/gtest.h>
#include <png.h>
#include <tinyxml2.h>
#include <zlib.h>

#include <boost/regex.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(Zlib, Level1StreamWithHeaderRoundTrips) {
  std::vector<std::uint8_t> grain(65536);
  for (std::size_t i = 0; i < grain.size(); ++i) grain[i] = static_cast<std::uint8_t>(i * 7 / 512);

  uLongf packedSize = compressBound(static_cast<uLong>(grain.size()));
  std::vector<std::uint8_t> packed(packedSize);
  ASSERT_EQ(compress2(packed.data(), &packedSize, grain.data(), static_cast<uLong>(grain.size()), 1),
            Z_OK);
  ASSERT_GE(packedSize, 2u);
  EXPECT_EQ(packed[0], 0x78) << "zlib header expected";
  EXPECT_EQ((packed[0] * 256 + packed[1]) % 31, 0) << "zlib header check bits";

  std::vector<std::uint8_t> back(grain.size());
  uLongf backSize = static_cast<uLongf>(back.size());
  ASSERT_EQ(uncompress(back.data(), &backSize, packed.data(), packedSize), Z_OK);
  EXPECT_EQ(backSize, grain.size());
  EXPECT_EQ(back, grain);
}

struct MemoryPng {
  std::vector<std::uint8_t> bytes;
  std::size_t readAt = 0;
};

void WriteToMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<MemoryPng*>(png_get_io_ptr(png));
  out->bytes.insert(out->bytes.end(), data, data + length);
}

void ReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* in = static_cast<MemoryPng*>(png_get_io_ptr(png));
  if (in->readAt + length > in->bytes.size()) png_error(png, "read past the end");
  std::memcpy(data, in->bytes.data() + in->readAt, length);
  in->readAt += length;
}

TEST(Libpng, DecodesFromMemoryAsBgr) {
  // A 2 x 1 picture: one red, one blue pixel.
  const std::uint8_t rgb[6] = {0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF};
  MemoryPng file;
  {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    ASSERT_NE(png, nullptr);
    png_infop info = png_create_info_struct(png);
    ASSERT_NE(info, nullptr);
    if (setjmp(png_jmpbuf(png))) {
      png_destroy_write_struct(&png, &info);
      FAIL() << "libpng failed to write";
    }
    png_set_write_fn(png, &file, &WriteToMemory, nullptr);
    png_set_IHDR(png, info, 2, 1, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_row(png, rgb);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
  }

  std::uint8_t bgr[6] = {};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  ASSERT_NE(png, nullptr);
  png_infop info = png_create_info_struct(png);
  ASSERT_NE(info, nullptr);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    FAIL() << "libpng failed to read";
  }
  png_set_read_fn(png, &file, &ReadFromMemory);
  png_read_info(png, info);
  png_set_bgr(png);
  png_read_update_info(png, info);
  ASSERT_EQ(png_get_image_width(png, info), 2u);
  ASSERT_EQ(png_get_rowbytes(png, info), 6u);
  png_read_row(png, bgr, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);

  const std::uint8_t expected[6] = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};
  EXPECT_EQ(std::memcmp(bgr, expected, 6), 0);
}

TEST(Tinyxml2, ParsesUtf8Attributes) {
  tinyxml2::XMLDocument doc;
  ASSERT_EQ(doc.Parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                      "<qvt><node title=\"仮想マシン\"/></qvt>"),
            tinyxml2::XML_SUCCESS);
  const tinyxml2::XMLElement* node = doc.RootElement()->FirstChildElement("node");
  ASSERT_NE(node, nullptr);
  EXPECT_STREQ(node->Attribute("title"), "仮想マシン");

  EXPECT_NE(doc.Parse("<qvt><node></qvt>"), tinyxml2::XML_SUCCESS);
}

TEST(BoostRegex, MatchesWholeWideLinesWithCaptures) {
  const boost::wregex pattern(LR"re(^[ \t]*displayName[ \t]*=[ \t]*"([^"]*)"[ \t]*(#.*)?$)re");
  boost::wsmatch match;
  const std::wstring line = L"displayName = \"テスト機\"  # note";
  ASSERT_TRUE(boost::regex_match(line, match, pattern));
  EXPECT_EQ(match[1].str(), L"テスト機");
  EXPECT_FALSE(boost::regex_match(std::wstring(L"displayName = \"x\" y"), match, pattern));
}

}  // namespace
