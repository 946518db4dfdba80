#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Heap.h"
#include "VmdkDescriptor.h"
#include "VmdkDescriptorTestSupport.h"

namespace qvt {
namespace {

using test::NewRecord;
using test::StringOf;

// A layout with its extent entries.
struct Layout {
  VmdkLayout layout{};
  std::vector<VmdkLayoutExtent> entries;

  Layout(std::uint32_t split, std::uint32_t kind, std::vector<std::string> names,
         std::uint32_t sectors) {
    for (const std::string& n : names) {
      VmdkLayoutExtent e{};
      std::memcpy(e.fileName, n.data(),
                  n.size() < sizeof(e.fileName) ? n.size() : sizeof(e.fileName));
      e.sectors = sectors;
      entries.push_back(e);
    }
    layout.split = split;
    layout.kind = kind;
    layout.adapter = kVmdkAdapterLsiLogic;
    layout.hwVersionIndex = 4;
    layout.encoding = kVmdkEncodingNone;
    layout.extentCount = static_cast<std::uint32_t>(entries.size());
    layout.entries = entries.data();
  }
};

constexpr ImageGeometry kGeometry{2097152, 16, 63, 512};

// The text, or "<failed>" when the writer refused.
std::string Write(const VmdkLayout& layout, const ImageGeometry& g = kGeometry,
                  TextEncoding out = ENC_SHIFT_JIS, std::uint32_t capacity = 65536) {
  std::vector<std::uint8_t> target(capacity + 1, 0xCC);
  const std::uint32_t n = VmdkWriteBaseDescriptor(target.data(), capacity, layout, g, out);
  if (n == 0) return "<failed>";
  EXPECT_LT(n, capacity);
  EXPECT_EQ(target[n], 0) << "terminated";
  EXPECT_EQ(target[capacity], 0xCC) << "nothing past the capacity";
  return std::string(reinterpret_cast<const char*>(target.data()), n);
}

TEST(WriteBaseDescriptor, WritesTheTemplateExactly) {
  const Layout l(0, kVmdkLayoutSparse, {"disk.vmdk"}, 2097152);
  EXPECT_EQ(Write(l.layout),
            "# Disk DescriptorFile\n"
            "version=1\n"
            "CID=fffffffe\n"
            "parentCID=ffffffff\n"
            "createType=\"monolithicSparse\"\n"
            "\n"
            "# Extent description\n"
            "RW 2097152 SPARSE \"disk.vmdk\"\n"
            "\n"
            "# The Disk Data Base \n"
            "#DDB\n"
            "\n"
            "ddb.virtualHWVersion = \"7\"\n"
            "ddb.geometry.cylinders = \"2080\"\n"
            "ddb.geometry.heads = \"16\"\n"
            "ddb.geometry.sectors = \"63\"\n"
            "ddb.adapterType = \"lsilogic\"\n");
}

struct LayoutCase {
  const char* what;
  std::uint32_t split;
  std::uint32_t kind;
  std::uint32_t streamOptimized;
  std::uint32_t extents;
  const char* createType;
  const char* extentLines;
  bool thin;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.what; }

class TemplateLayouts : public testing::TestWithParam<LayoutCase> {};

TEST_P(TemplateLayouts, NameTheirTypeAndExtentsAndParseBack) {
  const LayoutCase& c = GetParam();
  std::vector<std::string> names;
  for (std::uint32_t i = 1; i <= c.extents; ++i)
    names.push_back("d-" + std::to_string(i) + ".vmdk");
  Layout l(c.split, c.kind, names, 100);
  l.layout.streamOptimized = c.streamOptimized;
  const std::string text = Write(l.layout);
  EXPECT_NE(text.find(std::string("createType=\"") + c.createType + "\"\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find(std::string("# Extent description\n") + c.extentLines + "\n# The Disk"),
            std::string::npos)
      << text;
  const std::string thin = "ddb.thinProvisioned = \"1\"\n";
  EXPECT_EQ(
      text.size() >= thin.size() && text.compare(text.size() - thin.size(), thin.size(), thin) == 0,
      c.thin);

  // What the writer makes, the parser takes, with the same layout.
  auto d = NewRecord();
  ASSERT_TRUE(test::Parse(text, d.get())) << text;
  EXPECT_EQ(d->split, c.split || c.kind == kVmdkLayoutVmfs ? 1u : 0u);
  EXPECT_EQ(d->flat, c.kind != kVmdkLayoutSparse ? 1u : 0u);
  EXPECT_EQ(d->extentCount, c.extents);
  EXPECT_EQ(StringOf(d->cid), "fffffffe");
  EXPECT_EQ(StringOf(d->parentCid), "ffffffff");
}

INSTANTIATE_TEST_SUITE_P(
    All, TemplateLayouts,
    testing::Values(LayoutCase{"single sparse", 0, kVmdkLayoutSparse, 0, 1, "monolithicSparse",
                               "RW 100 SPARSE \"d-1.vmdk\"\n", false},
                    LayoutCase{"split sparse", 1, kVmdkLayoutSparse, 0, 2, "twoGbMaxExtentSparse",
                               "RW 100 SPARSE \"d-1.vmdk\"\nRW 100 SPARSE \"d-2.vmdk\"\n", false},
                    LayoutCase{"single flat", 0, kVmdkLayoutFlat, 0, 1, "monolithicFlat",
                               "RW 100 FLAT \"d-1.vmdk\" 0\n", false},
                    LayoutCase{"split flat", 1, kVmdkLayoutFlat, 0, 2, "twoGbMaxExtentFlat",
                               "RW 100 FLAT \"d-1.vmdk\" 0\nRW 100 FLAT \"d-2.vmdk\" 0\n", false},
                    LayoutCase{"vmfs", 1, kVmdkLayoutVmfs, 0, 1, "vmfs",
                               "RW 100 VMFS \"d-1.vmdk\"\n", true},
                    LayoutCase{"stream-optimized", 0, kVmdkLayoutSparse, 1, 1, "streamOptimized",
                               "RDONLY 100 SPARSE \"d-1.vmdk\"\n", false}));

TEST(WriteBaseDescriptor, NamesAStreamOptimizedExtentWithoutANameByThePlaceholder) {
  Layout l(0, kVmdkLayoutSparse, {""}, 100);
  l.layout.streamOptimized = 1;
  EXPECT_NE(Write(l.layout).find("RDONLY 100 SPARSE \"generated-stream.vmdk\"\n"),
            std::string::npos);
}

TEST(WriteBaseDescriptor, WritesTheEncodingLineAskedFor) {
  Layout l(0, kVmdkLayoutSparse, {"disk.vmdk"}, 2048);
  l.layout.encoding = kVmdkEncodingShiftJis;
  EXPECT_NE(Write(l.layout).find("version=1\nencoding=\"Shift_JIS\"\nCID=fffffffe\n"),
            std::string::npos);
  l.layout.encoding = kVmdkEncodingUtf8;
  EXPECT_NE(Write(l.layout, kGeometry, ENC_UTF8).find("version=1\nencoding=\"UTF-8\"\nCID="),
            std::string::npos);
  l.layout.encoding = 3;
  EXPECT_EQ(Write(l.layout), "<failed>");
}

TEST(WriteBaseDescriptor, ConvertsTheNamesToTheOutputEncoding) {
  const std::string sjis = test::Encoded("ディスク.vmdk", ENC_SHIFT_JIS);
  Layout l(0, kVmdkLayoutSparse, {sjis}, 2048);
  l.layout.encoding = kVmdkEncodingUtf8;
  const std::string utf8 = Write(l.layout, kGeometry, ENC_UTF8);
  EXPECT_NE(utf8.find("RW 2048 SPARSE \"ディスク.vmdk\"\n"), std::string::npos) << utf8;
  l.layout.encoding = kVmdkEncodingShiftJis;
  EXPECT_NE(Write(l.layout).find("RW 2048 SPARSE \"" + sjis + "\"\n"), std::string::npos);
}

struct GeometryCase {
  std::uint32_t adapter;
  ImageGeometry geometry;
  const char* lines;
};

class TemplateGeometry : public testing::TestWithParam<GeometryCase> {};

TEST_P(TemplateGeometry, DividesTheCapacityAndCapsIde) {
  Layout l(0, kVmdkLayoutSparse, {"disk.vmdk"}, 2048);
  l.layout.adapter = GetParam().adapter;
  const std::string text = Write(l.layout, GetParam().geometry);
  EXPECT_NE(text.find(GetParam().lines), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TemplateGeometry,
    testing::Values(
        // 200 GiB: 419430400 / 255 / 63 = 26108 cylinders, over the IDE limit.
        GeometryCase{kVmdkAdapterIde,
                     {419430400, 255, 63, 512},
                     "cylinders = \"16383\"\nddb.geometry.heads = \"255\"\nddb.geometry.sectors = "
                     "\"63\"\nddb.adapterType = \"ide\"\n"},
        GeometryCase{kVmdkAdapterLsiLogic,
                     {419430400, 255, 63, 512},
                     "cylinders = \"26108\"\nddb.geometry.heads = \"255\""},
        GeometryCase{kVmdkAdapterBusLogic,
                     {419430400, 255, 63, 512},
                     "cylinders = \"26108\"\nddb.geometry.heads = \"255\"\nddb.geometry.sectors = "
                     "\"63\"\nddb.adapterType = \"buslogic\"\n"},
        GeometryCase{kVmdkAdapterIde, {16383 * 16 * 63, 16, 63, 512}, "cylinders = \"16383\""},
        GeometryCase{kVmdkAdapterIde, {100, 16, 63, 512}, "cylinders = \"0\""},
        // A source without geometry (a child opened alone) gets the one a
        // base descriptor without geometry keys stands for.
        GeometryCase{kVmdkAdapterLsiLogic,
                     {2097152, 0, 63, 512},
                     "cylinders = \"2080\"\nddb.geometry.heads = \"16\"\nddb.geometry.sectors = "
                     "\"63\"\n"},
        GeometryCase{kVmdkAdapterLsiLogic,
                     {2097152, 255, 0, 512},
                     "cylinders = \"2080\"\nddb.geometry.heads = \"16\"\nddb.geometry.sectors = "
                     "\"63\"\n"}));

TEST(WriteBaseDescriptor, RefusesLayoutsItCannotDescribe) {
  Layout good(0, kVmdkLayoutSparse, {"disk.vmdk"}, 2048);
  ASSERT_NE(Write(good.layout), "<failed>");

  struct Case {
    const char* what;
    void (*change)(VmdkLayout*);
  };
  const Case cases[] = {
      {"single file with two extents", [](VmdkLayout* l) { l->extentCount = 2; }},
      {"no extents", [](VmdkLayout* l) { l->extentCount = 0; }},
      {"no entries", [](VmdkLayout* l) { l->entries = nullptr; }},
      {"more extents than a descriptor takes",
       [](VmdkLayout* l) {
         l->split = 1;
         l->extentCount = kVmdkMaxExtents + 1;
       }},
      {"unknown kind", [](VmdkLayout* l) { l->kind = 3; }},
      {"unknown adapter", [](VmdkLayout* l) { l->adapter = kVmdkAdapterNone; }},
      {"adapter 3", [](VmdkLayout* l) { l->adapter = 3; }},
      {"unknown hardware version",
       [](VmdkLayout* l) { l->hwVersionIndex = kVmdkHwVersionUnknown; }},
      {"hardware version index 11", [](VmdkLayout* l) { l->hwVersionIndex = 11; }},
      {"stream-optimized flat",
       [](VmdkLayout* l) {
         l->streamOptimized = 1;
         l->kind = kVmdkLayoutFlat;
       }},
  };
  for (const Case& c : cases) {
    Layout l(0, kVmdkLayoutSparse, {"disk.vmdk", "disk2.vmdk"}, 2048);
    l.layout.extentCount = 1;
    c.change(&l.layout);
    if (l.layout.extentCount > 2 && l.layout.entries != nullptr) {
      l.entries.resize(l.layout.extentCount, l.entries[0]);
      l.layout.entries = l.entries.data();
    }
    EXPECT_EQ(Write(l.layout), "<failed>") << c.what;
  }
}

TEST(WriteBaseDescriptor, FailsWhenTheTextOrItsTerminatorDoesNotFit) {
  const Layout l(0, kVmdkLayoutSparse, {"disk.vmdk"}, 2048);
  const std::string text = Write(l.layout);
  const auto length = static_cast<std::uint32_t>(text.size());
  EXPECT_EQ(Write(l.layout, kGeometry, ENC_SHIFT_JIS, length), "<failed>")
      << "no room for the terminator";
  EXPECT_EQ(Write(l.layout, kGeometry, ENC_SHIFT_JIS, length + 1), text);
  std::uint8_t byte = 0;
  EXPECT_EQ(VmdkWriteBaseDescriptor(&byte, 1, l.layout, kGeometry, ENC_SHIFT_JIS), 0u);
  EXPECT_EQ(VmdkWriteBaseDescriptor(nullptr, 100, l.layout, kGeometry, ENC_SHIFT_JIS), 0u);
}

TEST(WriteBaseDescriptor, TakesTheLongestNameAndRefusesAnUnterminatedOne) {
  Layout l(1, kVmdkLayoutFlat, {std::string(519, 'n'), "b.vmdk"}, 2048);
  const std::string text = Write(l.layout, kGeometry, ENC_SHIFT_JIS, 1 << 20);
  EXPECT_NE(text.find("RW 2048 FLAT \"" + std::string(519, 'n') + "\" 0\n"), std::string::npos);
  std::memset(l.entries[1].fileName, 'x', sizeof(l.entries[1].fileName));
  EXPECT_EQ(Write(l.layout, kGeometry, ENC_SHIFT_JIS, 1 << 20), "<failed>");
}

TEST(WriteBaseDescriptor, WritesAThousandExtents) {
  std::vector<std::string> names;
  for (int i = 1; i <= 1000; ++i) names.push_back(std::string(500, 'a') + std::to_string(i));
  Layout l(1, kVmdkLayoutSparse, names, 8);
  const std::string text = Write(l.layout, kGeometry, ENC_SHIFT_JIS, 1 << 20);
  auto d = NewRecord();
  ASSERT_TRUE(test::Parse(text, d.get()));
  EXPECT_EQ(d->extentCount, 1000u);
}

TEST(WriteBaseDescriptor, FailsWhenTheHeapRefuses) {
  const Layout l(0, kVmdkLayoutSparse, {"disk.vmdk"}, 2048);
  InjectAllocationFailureAfter(0);
  EXPECT_EQ(Write(l.layout), "<failed>");
  InjectAllocationFailureAfter(-1);
}

}  // namespace
}  // namespace qvt
