// The metadata text: what the strict grammar and the meaning checks accept,
// where the accepted volumes land, and that hostile text is only refused.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "Lvm2Metadata.h"
#include "Lvm2Placement.h"
#include "Lvm2TestKit.h"

namespace qvt {
namespace {

using test::Lvm2Text;
using test::TestLv;

const std::vector<TestLv> kTwoLvs = {{"lv1", 2, 0}, {"lv_two", 3, 2}};

// Parses and places `text` for the synthetic PV at sector `pvFirst`; the
// extents placed, or false.
bool Place(const std::string& text, std::vector<Lvm2VolumeExtent>* out, std::uint32_t pvFirst = 0) {
  // The text is copied into a buffer of exactly its size, so that ASan sees
  // any read past the slice.
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[text.size() + 1]);
  std::memcpy(bytes.get(), text.data(), text.size());
  auto metadata = std::make_unique<Lvm2Metadata>();
  Lvm2Label label{};
  std::memcpy(label.pvId, test::kPvId, sizeof label.pvId);
  Lvm2Placement placement{};
  out->clear();
  const TextView view{bytes.get(), static_cast<std::uint32_t>(text.size())};
  if (!ParseLvm2Metadata(view, metadata.get()) ||
      !PlaceLvm2Volumes(*metadata, label, pvFirst, &placement)) {
    return false;
  }
  out->assign(placement.volumes, placement.volumes + placement.count);
  return true;
}

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(Lvm2Metadata, TwoLinearVolumesLandAfterPeStartAtTheirExtents) {
  std::vector<Lvm2VolumeExtent> v;
  ASSERT_TRUE(Place(Lvm2Text(kTwoLvs), &v, 100));
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].firstSector, 100u + 2048u);
  EXPECT_EQ(v[0].sectorCount, 2u * 8192u);
  // extent_size 8192 and a stripe at extent 2: 16384 sectors after pe_start.
  EXPECT_EQ(v[1].firstSector, 100u + 2048u + 16384u);
  EXPECT_EQ(v[1].sectorCount, 3u * 8192u);
}

TEST(Lvm2Metadata, AVolumeGroupWithoutLogicalVolumesPlacesNone) {
  std::vector<Lvm2VolumeExtent> v;
  ASSERT_TRUE(Place(Lvm2Text({}), &v));
  EXPECT_TRUE(v.empty());
}

TEST(Lvm2Metadata, LayoutsOfRealLvm2ThatTheGrammarStillTakes) {
  const std::string base = Lvm2Text(kTwoLvs);
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"a comment line between keys", Replace(base, "seqno = 4\n", "seqno = 4\n# a note\n")},
      {"a comment ending at CR", Replace(base, "seqno = 4\n", "seqno = 4 # note\r")},
      {"CR LF line ends",
       [&] {
         std::string t;
         for (char c : base) t += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return t;
       }()},
      {"a list over several lines with comments",
       Replace(base, "[\"ALLOCATABLE\"]", "[ # first\n\"ALLOCATABLE\" ,\n\"X\"\n]")},
      {"keys in another order",
       Replace(base, "seqno = 4\nformat = \"lvm2\"\n", "format = \"lvm2\"\nseqno = 4\n")},
      {"a text cut at the VG's end (no trailer) but with version first",
       "version = 1\n" + base.substr(0, base.find("# Generated"))},
  };
  for (const auto& c : cases) {
    std::vector<Lvm2VolumeExtent> v;
    ASSERT_TRUE(Place(c.text, &v)) << c.what;
    EXPECT_EQ(v.size(), 2u) << c.what;
  }
}

TEST(Lvm2Metadata, TextsTheGrammarRejects) {
  const std::string base = Lvm2Text(kTwoLvs);
  const std::string lvs = "logical_volumes {\n\n";
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"a hyphen in a volume name", Replace(base, "lv_two {", "lv-home {")},
      {"an unknown key", Replace(base, "seqno = 4", "system_id = \"x\"")},
      {"a key twice", Replace(base, "seqno = 4", "seqno = 4\nseqno = 5")},
      {"a missing extent_size", Replace(base, "extent_size = 8192", "")},
      {"a missing version", Replace(base, "version = 1", "")},
      {"a missing pe_start", Replace(base, "pe_start = 2048", "")},
      {"a missing stripes list", Replace(base, "stripes = [\n\"pv0\", 0\n]", "")},
      {"a second equals sign", Replace(base, "seqno = 4", "seqno == 4")},
      {"a number with a sign", Replace(base, "seqno = 4", "seqno = +4")},
      {"a number past 32 bits", Replace(base, "seqno = 4", "seqno = 4294967296")},
      {"a quoted number", Replace(base, "pe_count = 15", "pe_count = \"15\"")},
      {"a bare word with a quote", Replace(base, "seqno = 4", "seqno = 4\"")},
      {"a string across a line end", Replace(base, "\"lvm2\"", "\"lv\nm2\"")},
      {"an unterminated string at the end", base + "contents2 = \"abc"},
      {"an unterminated list", Replace(base, "flags = []\nextent_size", "flags = [\nextent_size")},
      {"a trailing comma in a list", Replace(base, "[\"ALLOCATABLE\"]", "[\"ALLOCATABLE\",]")},
      {"a missing comma in a list",
       Replace(base, "[\"READ\", \"WRITE\", \"VISIBLE\"]", "[\"READ\" \"WRITE\"]")},
      {"an odd stripes list", Replace(base, "\"pv0\", 0\n", "\"pv0\", 0, \"pv0\"\n")},
      {"a stripe extent that is no number", Replace(base, "\"pv0\", 0\n", "\"pv0\", \"0\"\n")},
      {"stripe_count not matching the pairs",
       Replace(base, "\"pv0\", 0\n", "\"pv0\", 0, \"pv0\", 5\n")},
      {"segment_count not matching the sections",
       Replace(base, "segment_count = 1", "segment_count = 2")},
      {"an unclosed section", base.substr(0, base.rfind('}'))},
      {"a stray closing brace", base + "}\n"},
      {"an unknown list in the volume group",
       Replace(base, lvs, "historical_volumes {\n}\n" + lvs)},
      {"physical_volumes twice", Replace(base, lvs, "physical_volumes {\n}\n" + lvs)},
      {"a key inside physical_volumes",
       Replace(base, "physical_volumes {\n", "physical_volumes {\nx = 1\n")},
      {"a section inside a physical volume",
       Replace(base, "pe_count = 15", "pe_count = 15\nsub {\n}")},
      {"a section inside a segment",
       Replace(base, "stripe_count = 1", "stripe_count = 1\nsub {\n}")},
      {"a control character", Replace(base, "seqno = 4", "\x01seqno = 4")},
      {"a key without a value", Replace(base, "seqno = 4", "seqno =")},
      {"an identifier without = or {", Replace(base, "seqno = 4", "seqno 4")},
      {"five logical volumes",
       Lvm2Text({{"a", 1, 0}, {"b", 1, 1}, {"c", 1, 2}, {"d", 1, 3}, {"e", 1, 4}})},
      {"five segments", Replace(Replace(base, "segment_count = 1", "segment_count = 5"),
                                "segment1 {", "s2 {\n}\ns3 {\n}\ns4 {\n}\ns5 {\n}\nsegment1 {")},
  };
  for (const auto& c : cases) {
    std::vector<Lvm2VolumeExtent> v;
    EXPECT_FALSE(Place(c.text, &v)) << c.what;
  }
}

TEST(Lvm2Metadata, LayoutsBeyondOneLinearPvAreRefused) {
  const std::string base = Lvm2Text(kTwoLvs);
  const std::string pv1 = "pv1 {\nid = \"" + std::string(test::kPvIdText) +
                          "\"\ndev_size = 131072\npe_start = 2048\npe_count = 15\n}\n";
  const std::string seg2 =
      "segment2 {\nstart_extent = 2\nextent_count = 1\ntype = \"striped\"\n"
      "stripe_count = 1\nstripes = [\"pv0\", 10]\n}\n";
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"two segments", Replace(Replace(base, "segment_count = 1", "segment_count = 2"),
                               "segment1 {", seg2 + "segment1 {")},
      {"two stripes", Replace(Replace(base, "stripe_count = 1", "stripe_count = 2"), "\"pv0\", 0\n",
                              "\"pv0\", 0, \"pv0\", 8\n")},
      {"two physical volumes", Replace(base, "pv0 {", pv1 + "pv0 {")},
      {"two volume groups", base + "vg2 {\nextent_size = 8192\n}\n"},
      {"no volume group", "version = 1\n"},
      {"another PV identifier", Replace(base, "dvJwL0-9yfy", "dvJwL0-9yfz")},
      {"an identifier without its hyphens", Replace(base, "dvJwL0-9yfy-DboV", "dvJwL0x9yfy-DboV")},
      {"an identifier that is too short", Replace(base, "-5FE3Gk\"", "-5FE3G\"")},
      {"an unquoted identifier",
       Replace(base, "\"" + std::string(test::kPvIdText) + "\"", test::kPvIdText)},
      {"a start_extent other than 0", Replace(base, "start_extent = 0", "start_extent = 1")},
      {"a mirror segment", Replace(base, "type = \"striped\"", "type = \"mirror\"")},
      {"a stripe on an unknown PV", Replace(base, "\"pv0\", 2", "\"pv7\", 2")},
      {"extents past pe_count", Replace(base, "\"pv0\", 2", "\"pv0\", 13")},
      {"pe_count past the device", Replace(base, "pe_count = 15", "pe_count = 16")},
      {"extent_size 0", Replace(base, "extent_size = 8192", "extent_size = 0")},
      {"an empty segment", Replace(base, "extent_count = 2", "extent_count = 0")},
  };
  for (const auto& c : cases) {
    std::vector<Lvm2VolumeExtent> v;
    EXPECT_FALSE(Place(c.text, &v)) << c.what;
  }
}

TEST(Lvm2Metadata, SectorsPast32BitsAreRefusedNotWrapped) {
  // 2^21 extents of 2^11 sectors: 2^32 sectors, more than a PV of 32-bit
  // dev_size can hold.
  const std::string huge = Lvm2Text({{"lv1", 2097152, 0}}, 2048, 2048, 2097152, 4294967295u);
  std::vector<Lvm2VolumeExtent> v;
  EXPECT_FALSE(Place(huge, &v));
  // The volume fits, but the PV's own start pushes its end past 2^32.
  const std::string fits = Lvm2Text({{"lv1", 1, 0}}, 8192, 2048, 15, 131072);
  EXPECT_TRUE(Place(fits, &v, 4294967295u - 2048 - 8192));
  EXPECT_FALSE(Place(fits, &v, 4294967295u - 2048 - 8191));
}

TEST(Lvm2Metadata, HostileTextsAreRefusedWithoutOverreading) {
  const std::string base = Lvm2Text(kTwoLvs);
  const std::string cases[] = {
      "",
      "#",
      "\"",
      "[",
      "{",
      "}",
      "=",
      "a",
      "a =",
      "a = [",
      "a = \"",
      "a {",
      "version = 1 x {",
      "version = 1\nvg {\n",
      std::string(3000, '{'),
      "version = 1\n" + Repeat("a {\n", 1000),
      "version=1\nvg{physical_volumes{pv0{",
      "version = 1\nvg {\nextent_size = 1\nlogical_volumes {\nlv {\nsegment_count = 1\ns {\n"
      "stripes = [\"pv0\", 0, \"pv0\", 0, \"pv0\", 0, \"pv0\", 0, \"pv0\", 0]\n",
      std::string("version = 1\0\n", 13),
      base.substr(0, base.size() / 2),
      base.substr(0, base.find("stripes = [") + 11),
  };
  for (const std::string& text : cases) {
    std::vector<Lvm2VolumeExtent> v;
    EXPECT_FALSE(Place(text, &v)) << text.substr(0, 60);
  }
}

// Random byte changes to a real layout: every outcome is an answer, never a
// crash or a read outside the text (run under ASan to see the latter).
TEST(Lvm2Metadata, MutatedTextsGiveAnAnswerOrARefusal) {
  const std::string base = Lvm2Text(kTwoLvs);
  const char alphabet[] = "{}[]=\",#\n\r\t 0123456789-_azAZ\x80\xff";
  std::mt19937 random(20240611);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string text = base;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % text.size();
      switch (random() % 3) {
        case 0: text[at] = alphabet[random() % (sizeof alphabet - 1)]; break;
        case 1: text.erase(at, 1 + random() % 8); break;
        default: text.resize(at); break;
      }
      if (text.empty()) break;
    }
    std::vector<Lvm2VolumeExtent> v;
    if (Place(text, &v)) {
      ++accepted;
      for (const Lvm2VolumeExtent& e : v) {
        EXPECT_GE(e.firstSector, 2048u);
        EXPECT_LE(static_cast<std::uint64_t>(e.firstSector) + e.sectorCount, 2048u + 15u * 8192u);
      }
    }
  }
  // Changes inside comments and status lists keep the text sound.
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace qvt
