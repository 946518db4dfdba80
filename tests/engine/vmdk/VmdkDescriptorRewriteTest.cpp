#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "VmdkDescriptor.h"
#include "VmdkDescriptorTestSupport.h"
#include "VmdkFixtures.h"

namespace qvt {
namespace {

using test::Changed;
using test::kBaseText;
using test::kChildText;
using test::NewRecord;
using test::StringOf;
using test::ViewOf;

struct ChangeDeleter {
  void operator()(_VMWARE_VMDK_CHANGE_PARAM* c) const { VmdkFreeChange(c); }
};
using Change = std::unique_ptr<_VMWARE_VMDK_CHANGE_PARAM, ChangeDeleter>;

Change NewChange() {
  Change c(VmdkAllocChange());
  if (c == nullptr) ADD_FAILURE() << "no change record";
  return c;
}

std::string Workstation() {
  for (std::size_t i = 0; i < test::kVmdkFixtureCount; ++i) {
    const test::Fixture& f = test::kVmdkFixtures[i];
    if (std::strcmp(f.name, "workstation-twoGbMaxExtentSparse.vmdk") == 0) {
      return std::string(reinterpret_cast<const char*>(f.bytes), f.size);
    }
  }
  ADD_FAILURE() << "the Workstation descriptor is not compiled in";
  return std::string();
}

// The rewritten text, or "<failed>".
std::string Rewrite(const std::string& source, const _VMWARE_VMDK_CHANGE_PARAM& change,
                    TextEncoding sourceEnc = ENC_SHIFT_JIS, TextEncoding targetEnc = ENC_SHIFT_JIS,
                    std::uint32_t capacity = 1 << 20, TextEncoding valueEnc = ENC_SHIFT_JIS,
                    TextEncoding nameEnc = ENC_SHIFT_JIS) {
  std::vector<std::uint8_t> storage(capacity + 1, 0xCC);
  ByteBuffer target;
  BufferInit(&target, storage.data(), capacity);
  // An exactly sized copy of the source, so that ASan sees any over-read.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[source.size() + 1]);
  std::memcpy(copy.get(), source.data(), source.size());
  const TextView view = MakeView(copy.get(), static_cast<std::uint32_t>(source.size()));
  if (!VmdkRewriteDescriptor(view, sourceEnc, &target, targetEnc, change, valueEnc, nameEnc)) {
    return "<failed>";
  }
  EXPECT_EQ(storage[capacity], 0xCC) << "nothing past the capacity";
  EXPECT_EQ(storage[target.length], 0) << "terminated";
  return StringOf(BufferView(target));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void SetView(TextView* view, const char* text) {
  *view = MakeView(text, static_cast<std::uint32_t>(std::strlen(text)));
}

void SetExtent(_VMWARE_VMDK_CHANGE_PARAM* c, std::uint32_t i, std::uint32_t sectors,
               const std::string& name, bool makeSparse = false) {
  ASSERT_TRUE(VmdkChangeSetExtent(c, i, sectors, name.data(),
                                  static_cast<std::uint32_t>(name.size()), makeSparse));
}

TEST(RewriteWorkstationDescriptor, ParsesWithItsUnknownKeys) {
  const std::string text = Workstation();
  auto d = NewRecord();
  ASSERT_TRUE(test::Parse(text, d.get()));
  EXPECT_EQ(d->split, 1u);
  EXPECT_EQ(d->extentCount, 11u);
  EXPECT_EQ(d->extents[10].sectors, 20480u);
  EXPECT_EQ(StringOf(d->extents[10].fileName), "OpenSUSE 64-bit-s011.vmdk");
  EXPECT_EQ(d->textEncoding, ENC_UTF8);
  EXPECT_EQ(d->hwVersionIndex, 6u);
  EXPECT_EQ(d->cylinders, 2610u);
  EXPECT_EQ(d->heads, 255u);
  EXPECT_EQ(d->adapterType, kVmdkAdapterLsiLogic);
}

TEST(RewriteWorkstationDescriptor, AnEmptyChangeReproducesItByteForByte) {
  const std::string text = Workstation();
  const Change c = NewChange();
  EXPECT_EQ(Rewrite(text, *c, ENC_UTF8, ENC_UTF8), text);
}

TEST(RewriteWorkstationDescriptor, ANewLinkChangesOnlyItsLines) {
  const std::string text = Workstation();
  const Change c = NewChange();
  c->setCid = 1;
  SetView(&c->cid, "0badf00d");
  c->setParentCid = 1;
  SetView(&c->parentCid, "bb3b482f");
  c->setParentFileNameHint = 1;
  SetView(&c->parentFileNameHint, "..\\base\\OpenSUSE.vmdk");
  const std::vector<std::string> before = Lines(text);
  const std::vector<std::string> after = Lines(Rewrite(text, *c, ENC_UTF8, ENC_UTF8));
  ASSERT_EQ(after.size(), before.size() + 1);
  std::size_t j = 0;
  for (std::size_t i = 0; i < before.size(); ++i, ++j) {
    if (before[i].rfind("CID=", 0) == 0) {
      EXPECT_EQ(after[j], "CID=0badf00d");
    } else if (before[i].rfind("parentCID=", 0) == 0) {
      EXPECT_EQ(after[j], "parentCID=bb3b482f");
    } else {
      EXPECT_EQ(after[j], before[i]);
    }
    if (before[i].rfind("createType=", 0) == 0) {
      ++j;
      EXPECT_EQ(after[j], "parentFileNameHint=\"..\\base\\OpenSUSE.vmdk\"")
          << "a new hint goes right behind createType";
    }
  }
}

TEST(RewriteWorkstationDescriptor, CrLfBreaksBecomeLf) {
  const std::string text = Workstation();
  std::string crlf;
  for (char ch : text) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  const Change c = NewChange();
  EXPECT_EQ(Rewrite(crlf, *c, ENC_UTF8, ENC_UTF8), text);
}

// One key changed in one source line: the line that comes out.
struct KeyCase {
  const char* what;
  const char* line;
  void (*set)(_VMWARE_VMDK_CHANGE_PARAM*);
  const char* expected;
};

void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.what; }

class RewriteOneKey : public testing::TestWithParam<KeyCase> {};

TEST_P(RewriteOneKey, KeepsEverythingButTheValue) {
  const KeyCase& k = GetParam();
  const Change c = NewChange();
  k.set(c.get());
  const std::string source = std::string("# head\n") + k.line + "\n# tail\n";
  EXPECT_EQ(Rewrite(source, *c), std::string("# head\n") + k.expected + "# tail\n");
}

void NewCid(_VMWARE_VMDK_CHANGE_PARAM* c) {
  c->setCid = 1;
  SetView(&c->cid, "0badf00d");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RewriteOneKey,
    testing::Values(
        KeyCase{"bare CID with blanks and a comment", "CID=12345678   # made today", NewCid,
                "CID=0badf00d   # made today\n"},
        KeyCase{"quoted CID loses its quotes", "CID=\"12345678\"", NewCid, "CID=0badf00d\n"},
        KeyCase{"blanks around = and before the key", "  cid \t=  12345678#x", NewCid,
                "  cid \t=  0badf00d#x\n"},
        KeyCase{"empty CID", "CID=", NewCid, "CID=0badf00d\n"},
        KeyCase{"CID with only a comment", "CID = # none", NewCid, "CID = 0badf00d# none\n"},
        KeyCase{"version", "version=1",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setVersion = 1;
                  c->version = 3;
                },
                "version=3\n"},
        KeyCase{"encoding Shift_JIS", "encoding = \"UTF-8\"",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setEncoding = 1;
                  c->encoding = kVmdkEncodingShiftJis;
                },
                "encoding = \"Shift_JIS\"\n"},
        KeyCase{"encoding: any other value is UTF-8", "encoding=Shift_JIS",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setEncoding = 1;
                  c->encoding = 7;
                },
                "encoding=\"UTF-8\"\n"},
        KeyCase{"createType gains quotes", "createType=monolithicFlat",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setCreateType = 1;
                  SetView(&c->createType, "monolithicSparse");
                },
                "createType=\"monolithicSparse\"\n"},
        KeyCase{"bare ddb value gains quotes", "ddb.adapterType = ide  # old",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setAdapterType = 1;
                  c->adapterType = kVmdkAdapterLsiLogic;
                },
                "ddb.adapterType = \"lsilogic\"  # old\n"},
        KeyCase{"hardware version index 9 is 12", "ddb.virtualHWVersion = \"14\"",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setHwVersion = 1;
                  c->hwVersionIndex = 9;
                },
                "ddb.virtualHWVersion = \"12\"\n"},
        KeyCase{"geometry in decimal", "DDB.Geometry.Heads=\"16\"",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setHeads = 1;
                  c->heads = 4294967295u;
                },
                "DDB.Geometry.Heads=\"4294967295\"\n"},
        KeyCase{"hint re-pointed in place",
                "parentFileNameHint = \"..\\mid\\mid.vmdk\"   # was",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setParentFileNameHint = 1;
                  SetView(&c->parentFileNameHint, "..\\base\\base.vmdk");
                },
                "parentFileNameHint = \"..\\base\\base.vmdk\"   # was\n"},
        KeyCase{"set and remove drops the line", "parentFileNameHint=\"p.vmdk\"",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) {
                  c->setParentFileNameHint = 1;
                  c->removeParentFileNameHint = 1;
                },
                ""},
        KeyCase{"remove alone changes nothing", "parentFileNameHint=\"p.vmdk\"",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) { c->removeParentFileNameHint = 1; },
                "parentFileNameHint=\"p.vmdk\"\n"},
        KeyCase{"unknown keys are copied", "ddb.toolsVersion = \"9282\"",
                [](_VMWARE_VMDK_CHANGE_PARAM* c) { c->setUuid = c->removeUuid = 1; },
                "ddb.toolsVersion = \"9282\"\n"}));

TEST(RewriteDescriptor, LinesThatAreNoKeyLinesAreCopiedAndTheKeyCountsAsAbsent) {
  const Change c = NewChange();
  NewCid(c.get());
  EXPECT_EQ(Rewrite("CID= \nnot a line of any kind\n", *c),
            "CID= \nnot a line of any kind\nCID=0badf00d\n");
}

TEST(RewriteDescriptor, TheWorkstationCidRewrittenKeepsTheUnknownKeysAround) {
  const Change c = NewChange();
  NewCid(c.get());
  const std::string out = Rewrite(Workstation(), *c, ENC_UTF8, ENC_UTF8);
  EXPECT_EQ(out, Changed(Workstation(), "CID=bb3b482f\n", "CID=0badf00d\n"));
}

TEST(RewriteDescriptor, InsertsAMissingEncodingRightBehindVersion) {
  const Change c = NewChange();
  c->setEncoding = 1;
  c->encoding = kVmdkEncodingUtf8;
  EXPECT_EQ(Rewrite(kBaseText, *c),
            Changed(kBaseText, "version=1\n", "version=1\nencoding=\"UTF-8\"\n"));
}

TEST(RewriteDescriptor, InsertsAMissingUuidRightBehindTheHardwareVersion) {
  const std::string source =
      Changed(kBaseText, "ddb.uuid = \"60 00 C2 97 7d 00 44 2b-53 6d e1 38 f2 fd fc 4b\"\n", "");
  const Change c = NewChange();
  c->setUuid = 1;
  SetView(&c->uuid, "01 02");
  EXPECT_EQ(Rewrite(source, *c),
            Changed(source, "Version = \"7\"\n", "Version = \"7\"\nddb.uuid = \"01 02\"\n"));
}

TEST(RewriteDescriptor, AppendsMissingKeysAndExtentsInTheirOrder) {
  const Change c = NewChange();
  c->setAdapterType = 1;
  c->adapterType = kVmdkAdapterBusLogic;
  c->setSectors = 1;
  c->sectors = 3;
  c->setHeads = 1;
  c->heads = 2;
  c->setCylinders = 1;
  c->cylinders = 1;
  c->setUuid = 1;
  SetView(&c->uuid, "u");
  c->setHwVersion = 1;
  c->hwVersionIndex = 10;
  c->setParentFileNameHint = 1;
  SetView(&c->parentFileNameHint, "d");
  c->setCreateType = 1;
  SetView(&c->createType, "c");
  c->setParentCid = 1;
  SetView(&c->parentCid, "b");
  c->setCid = 1;
  SetView(&c->cid, "a");
  c->setEncoding = 1;
  c->encoding = kVmdkEncodingUtf8;
  c->setVersion = 1;
  c->version = 1;
  c->extentCount = 2;
  SetExtent(c.get(), 0, 5, "e.vmdk");
  SetExtent(c.get(), 1, 6, "f.vmdk");
  EXPECT_EQ(Rewrite("# nothing yet", *c),
            "# nothing yet\n"
            "version=1\n"
            "encoding=\"UTF-8\"\n"
            "CID=a\n"
            "parentCID=b\n"
            "createType=\"c\"\n"
            "parentFileNameHint=\"d\"\n"
            "ddb.virtualHWVersion = \"13\"\n"
            "ddb.uuid = \"u\"\n"
            "ddb.geometry.cylinders = \"1\"\n"
            "ddb.geometry.heads = \"2\"\n"
            "ddb.geometry.sectors = \"3\"\n"
            "ddb.adapterType = \"buslogic\"\n"
            "RW 5 SPARSE \"e.vmdk\"\n"
            "RW 6 SPARSE \"f.vmdk\"\n");
}

TEST(RewriteDescriptor, AnExtraExtentGoesRightBehindTheLastExtentLine) {
  const Change c = NewChange();
  c->extentCount = 2;
  SetExtent(c.get(), 1, 4096, "base-s002.vmdk");
  EXPECT_EQ(Rewrite(kBaseText, *c), Changed(kBaseText, "\"base.vmdk\"\n",
                                            "\"base.vmdk\"\nRW 4096 SPARSE \"base-s002.vmdk\"\n"));
}

TEST(RewriteDescriptor, ReplacesExtentsKeepingTheirBlanksAndComments) {
  const std::string source =
      "version=1\n"
      " RW\t100 FLAT  \"a-f001.vmdk\" \t 0 # first\n"
      "RDONLY 200 VMFS \"a-f002.vmdk\" 7\n"
      "RW 300 FLAT \"a-f003.vmdk\" 0\n";
  const Change c = NewChange();
  c->extentCount = 3;
  SetExtent(c.get(), 0, 111, "c-s001.vmdk", true);
  SetExtent(c.get(), 1, 222, "c-s002.vmdk", false);
  // Entry 2 is not replaced: its line stays as it is.
  EXPECT_EQ(Rewrite(source, *c),
            "version=1\n"
            " RW\t111 SPARSE  \"c-s001.vmdk\" # first\n"
            "RDONLY 222 VMFS \"c-s002.vmdk\" 7\n"
            "RW 300 FLAT \"a-f003.vmdk\" 0\n");
}

TEST(RewriteDescriptor, ASingleFlatExtentTurnedSparseLosesItsOffset) {
  const Change c = NewChange();
  c->extentCount = 1;
  SetExtent(c.get(), 0, 2048, "c.vmdk", true);
  EXPECT_EQ(Rewrite("RDONLY 2048 FLAT \"p-flat.vmdk\" 0  # data\n", *c),
            "RW 2048 SPARSE \"c.vmdk\"  # data\n");
}

TEST(RewriteDescriptor, DropsEveryDdbLineWhenAsked) {
  const Change c = NewChange();
  c->dropDdb = 1;
  const std::string out = Rewrite(Workstation(), *c, ENC_UTF8, ENC_UTF8);
  std::string expected;
  for (const std::string& line : Lines(Workstation())) {
    if (line.rfind("ddb.", 0) != 0) expected += line + "\n";
  }
  EXPECT_EQ(out, expected);
  EXPECT_NE(out.find("#DDB\n"), std::string::npos) << "comments are no keys";
}

TEST(RewriteDescriptor, LastLineWithoutBreakGetsOneUnlessItIsACopiedExtentLine) {
  const Change c = NewChange();
  EXPECT_EQ(Rewrite("version=1\nCID=1", *c), "version=1\nCID=1\n");
  EXPECT_EQ(Rewrite("version=1\n# end", *c), "version=1\n# end\n");
  EXPECT_EQ(Rewrite("version=1\nRW 1 SPARSE \"a.vmdk\"", *c), "version=1\nRW 1 SPARSE \"a.vmdk\"");
  c->extentCount = 1;
  SetExtent(c.get(), 0, 2, "b.vmdk");
  EXPECT_EQ(Rewrite("version=1\nRW 1 SPARSE \"a.vmdk\"", *c),
            "version=1\nRW 2 SPARSE \"b.vmdk\"\n");
}

TEST(RewriteDescriptor, WhatFollowsACopiedLastExtentLineStartsOnALineOfItsOwn) {
  const Change c = NewChange();
  c->extentCount = 2;
  SetExtent(c.get(), 1, 9, "b.vmdk");
  EXPECT_EQ(Rewrite("version=1\nRW 1 SPARSE \"a.vmdk\"", *c),
            "version=1\nRW 1 SPARSE \"a.vmdk\"\nRW 9 SPARSE \"b.vmdk\"\n");
  const Change key = NewChange();
  NewCid(key.get());
  EXPECT_EQ(Rewrite("version=1\nRW 1 SPARSE \"a.vmdk\"", *key),
            "version=1\nRW 1 SPARSE \"a.vmdk\"\nCID=0badf00d\n");
}

TEST(RewriteDescriptor, ConvertsLinesValuesAndNamesBetweenEncodings) {
  const std::string sjisSource =
      test::Encoded("version=1\n# 日本語のコメント\nRW 8 SPARSE \"ソフト.vmdk\"\n", ENC_SHIFT_JIS);
  const Change c = NewChange();
  EXPECT_EQ(Rewrite(sjisSource, *c, ENC_SHIFT_JIS, ENC_UTF8),
            "version=1\n# 日本語のコメント\nRW 8 SPARSE \"ソフト.vmdk\"\n");

  c->extentCount = 1;
  SetExtent(c.get(), 0, 8, "表.vmdk");  // UTF-8 name
  c->setParentFileNameHint = 1;
  const std::string hint = test::Encoded("..\\親.vmdk", ENC_SHIFT_JIS);
  c->parentFileNameHint = ViewOf(hint);
  EXPECT_EQ(Rewrite("version=1\nRW 8 SPARSE \"x.vmdk\"\n", *c, ENC_UTF8, ENC_SHIFT_JIS, 4096,
                    ENC_SHIFT_JIS, ENC_UTF8),
            "<failed>")
      << "the hint is not UTF-8";
  c->setParentFileNameHint = 0;
  EXPECT_EQ(Rewrite("version=1\nRW 8 SPARSE \"x.vmdk\"\n", *c, ENC_UTF8, ENC_SHIFT_JIS, 4096,
                    ENC_SHIFT_JIS, ENC_UTF8),
            test::Encoded("version=1\nRW 8 SPARSE \"表.vmdk\"\n", ENC_SHIFT_JIS));
}

TEST(RewriteDescriptor, FailsOnOverflowAndOnValuesWithoutText) {
  const Change c = NewChange();
  const std::string whole = Rewrite(kBaseText, *c);
  ASSERT_EQ(whole, kBaseText);
  const auto length = static_cast<std::uint32_t>(whole.size());
  EXPECT_EQ(Rewrite(kBaseText, *c, ENC_SHIFT_JIS, ENC_SHIFT_JIS, length), "<failed>")
      << "no room for the terminator";
  EXPECT_EQ(Rewrite(kBaseText, *c, ENC_SHIFT_JIS, ENC_SHIFT_JIS, length + 1), kBaseText);
  EXPECT_EQ(Rewrite(kBaseText, *c, ENC_SHIFT_JIS, ENC_SHIFT_JIS, 10), "<failed>");

  struct Case {
    const char* what;
    void (*set)(_VMWARE_VMDK_CHANGE_PARAM*);
  };
  const Case cases[] = {
      {"adapter 3",
       [](_VMWARE_VMDK_CHANGE_PARAM* ch) {
         ch->setAdapterType = 1;
         ch->adapterType = 3;
       }},
      {"hardware version index 11",
       [](_VMWARE_VMDK_CHANGE_PARAM* ch) {
         ch->setHwVersion = 1;
         ch->hwVersionIndex = 11;
       }},
      {"more extents than a descriptor takes",
       [](_VMWARE_VMDK_CHANGE_PARAM* ch) { ch->extentCount = kVmdkMaxExtents + 1; }},
      {"a name Shift_JIS cannot hold",
       [](_VMWARE_VMDK_CHANGE_PARAM* ch) {
         static const char kEmoji[] = "\xF0\x9F\x98\x80.vmdk";
         ch->extentCount = 1;
         VmdkChangeSetExtent(ch, 0, 1, kEmoji, sizeof(kEmoji) - 1, false);
       }},
  };
  for (const Case& k : cases) {
    const Change ch = NewChange();
    k.set(ch.get());
    EXPECT_EQ(Rewrite(kBaseText, *ch, ENC_SHIFT_JIS, ENC_SHIFT_JIS, 1 << 20, ENC_UTF8, ENC_UTF8),
              "<failed>")
        << k.what;
  }
  // An adapter that is set and removed needs no text.
  const Change removed = NewChange();
  removed->setAdapterType = removed->removeAdapterType = 1;
  removed->adapterType = 3;
  EXPECT_EQ(Rewrite(kBaseText, *removed),
            Changed(kBaseText, "ddb.adapterType = \"lsilogic\"\n", ""));
}

TEST(RewriteDescriptor, RefusesSourceEncodingsItCannotScanByBytes) {
  const Change c = NewChange();
  std::uint8_t storage[64];
  ByteBuffer target;
  BufferInit(&target, storage, sizeof(storage));
  const std::string utf16(
      "v\0=\0"
      "1\0\n\0",
      8);
  EXPECT_FALSE(VmdkRewriteDescriptor(ViewOf(utf16), ENC_UTF16LE, &target, ENC_SHIFT_JIS, *c,
                                     ENC_SHIFT_JIS, ENC_SHIFT_JIS));
}

TEST(RewriteDescriptor, MakesAChildThatParsesAsOne) {
  // What creating a child does with its parent's descriptor.
  const Change c = NewChange();
  c->setCid = 1;
  SetView(&c->cid, "5f000000");
  c->setParentCid = 1;
  SetView(&c->parentCid, "12345678");
  c->setParentFileNameHint = 1;
  SetView(&c->parentFileNameHint, "..\\base\\base.vmdk");
  c->dropDdb = 1;
  c->extentCount = 1;
  SetExtent(c.get(), 0, 2048, "child.vmdk", true);
  const std::string child = Rewrite(kBaseText, *c);
  auto d = NewRecord();
  ASSERT_TRUE(test::Parse(child, d.get())) << child;
  EXPECT_EQ(d->isChild, 1u);
  EXPECT_EQ(StringOf(d->cid), "5f000000");
  EXPECT_EQ(StringOf(d->parentCid), "12345678");
  EXPECT_EQ(StringOf(d->parentFileNameHint), "..\\base\\base.vmdk");
  EXPECT_EQ(StringOf(d->extents[0].fileName), "child.vmdk");
  EXPECT_EQ(child.find("ddb."), std::string::npos);
}

TEST(RewriteDescriptor, HostileSourcesDoNotCrash) {
  const Change c = NewChange();
  c->extentCount = 3;
  SetExtent(c.get(), 0, 1, "a");
  SetExtent(c.get(), 2, 1, "c");
  NewCid(c.get());
  const std::string sources[] = {
      "",
      "\r",
      "\n\r\n\r",
      "=",
      "\"",
      "CID",
      "CID=\"",
      "RW 1 SPARSE \"",
      "RW 1 SPARSE \"a\" ",
      std::string(5000, '"'),
      std::string(5000, ' '),
      std::string("CID=\0\0\0", 7),
  };
  for (const std::string& s : sources) {
    const std::string out = Rewrite(s, *c);
    EXPECT_NE(out, "<failed>") << testing::PrintToString(s);
  }
}

TEST(ChangeSetExtent, RefusesEntriesAndNamesThatDoNotFit) {
  const Change c = NewChange();
  const std::string name(kPathBufferSize, 'n');
  EXPECT_TRUE(
      VmdkChangeSetExtent(c.get(), kVmdkMaxExtents - 1, 1, name.data(), kPathBufferSize, false));
  EXPECT_EQ(c->extents[kVmdkMaxExtents - 1].fileName.data,
            c->extents[kVmdkMaxExtents - 1].nameStorage);
  EXPECT_FALSE(VmdkChangeSetExtent(c.get(), kVmdkMaxExtents, 1, "a", 1, false));
  EXPECT_FALSE(VmdkChangeSetExtent(c.get(), 0, 1, name.data(), kPathBufferSize + 1, false));
  EXPECT_EQ(c->extents[0].replace, 0) << "a refused entry stays as it was";
}

}  // namespace
}  // namespace qvt
