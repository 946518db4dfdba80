// The freedesktop.org Trash as the recycle bin: where the file goes, what
// its info file says, and what happens when names collide.
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "PlatformFile.h"
#include "PlatformTestSupport.h"

namespace qvt::platform::test {
namespace {

std::string ReadText(const std::string& nativePath) {
  std::ifstream in(nativePath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& nativePath) {
  struct stat st;
  return lstat(nativePath.c_str(), &st) == 0;
}

// The info file's Path line, or "" when it is not of the Trash format.
std::string InfoPath(const std::string& info) {
  static const std::regex kFormat(
      "\\[Trash Info\\]\nPath=([^\n]*)\n"
      "DeletionDate=[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\n");
  std::smatch match;
  return std::regex_match(info, match, kFormat) ? match[1].str() : std::string();
}

// Each test has its own folder with a data home inside, where its trash is.
class PosixTrashTest : public FolderTest {
 protected:
  void SetUp() override {
    FolderTest::SetUp();
    ASSERT_TRUE(NativePathFromWindows(Folder(), &native_));
    bin_ = std::make_unique<ScopedRecycleBin>(Child(L"data"));
    trash_ = native_ + "/data/Trash";
  }
  void TearDown() override {
    bin_.reset();
    FolderTest::TearDown();
  }

  std::string native_;  // the test's folder
  std::string trash_;   // its home trash
  std::unique_ptr<ScopedRecycleBin> bin_;
};

TEST_F(PosixTrashTest, AFileGoesToTheHomeTrashWithItsInfo) {
  // a Japanese name with a space: both are percent-encoded in the info file
  const std::wstring path = Child(L"表示 ソ.vmdk");
  const std::string data = Pattern(5000);
  ASSERT_TRUE(WriteWholeFile(path, data));
  ASSERT_TRUE(FileRecycle(path));
  EXPECT_FALSE(PathExists(path));

  const std::string name = "\xE8\xA1\xA8\xE7\xA4\xBA \xE3\x82\xBD.vmdk";
  EXPECT_TRUE(ReadText(trash_ + "/files/" + name) == data);
  const std::string info = ReadText(trash_ + "/info/" + name + ".trashinfo");
  EXPECT_EQ(InfoPath(info), native_ + "/%E8%A1%A8%E7%A4%BA%20%E3%82%BD.vmdk") << info;
  for (const char* folder : {"", "/files", "/info"}) {
    struct stat st;
    ASSERT_EQ(stat((trash_ + folder).c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
  }
}

TEST_F(PosixTrashTest, ReservedCharactersArePercentEncoded) {
  const std::wstring path = Child(L"a%b#c?d&e+f;g~h_i-j.k");
  ASSERT_TRUE(WriteWholeFile(path, "x"));
  ASSERT_TRUE(FileRecycle(path));
  const std::string info = ReadText(trash_ + "/info/a%b#c?d&e+f;g~h_i-j.k.trashinfo");
  EXPECT_EQ(InfoPath(info), native_ + "/a%25b%23c%3Fd%26e%2Bf%3Bg~h_i-j.k") << info;
}

TEST_F(PosixTrashTest, ASecondFileOfTheSameNameGetsANumber) {
  const std::wstring path = Child(L"same.txt");
  for (const char* content : {"one", "two", "three"}) {
    ASSERT_TRUE(WriteWholeFile(path, content));
    ASSERT_TRUE(FileRecycle(path));
  }
  EXPECT_EQ(ReadText(trash_ + "/files/same.txt"), "one");
  EXPECT_EQ(ReadText(trash_ + "/files/same.txt.2"), "two");
  EXPECT_EQ(ReadText(trash_ + "/files/same.txt.3"), "three");
  for (const char* info : {"same.txt", "same.txt.2", "same.txt.3"}) {
    EXPECT_EQ(InfoPath(ReadText(trash_ + "/info/" + info + ".trashinfo")),
              native_ + "/same.txt")
        << info;
  }
}

// A file in files/ whose info file was lost is never overwritten.
TEST_F(PosixTrashTest, AnOrphanInTheTrashIsNotReplaced) {
  ASSERT_TRUE(WriteWholeFile(Child(L"first.txt"), "first"));
  ASSERT_TRUE(FileRecycle(Child(L"first.txt")));
  ASSERT_EQ(unlink((trash_ + "/info/first.txt.trashinfo").c_str()), 0);
  ASSERT_TRUE(WriteWholeFile(Child(L"first.txt"), "second"));
  ASSERT_TRUE(FileRecycle(Child(L"first.txt")));
  EXPECT_EQ(ReadText(trash_ + "/files/first.txt"), "first");
  EXPECT_EQ(ReadText(trash_ + "/files/first.txt.2"), "second");
  EXPECT_FALSE(Exists(trash_ + "/info/first.txt.trashinfo"));
  EXPECT_TRUE(Exists(trash_ + "/info/first.txt.2.trashinfo"));
}

TEST_F(PosixTrashTest, AFolderGoesToTheTrashWhole) {
  ASSERT_TRUE(DirectoryCreate(Child(L"machine")));
  ASSERT_TRUE(WriteWholeFile(Child(L"machine\\disk.vmdk"), "disk"));
  ASSERT_TRUE(FileRecycle(Child(L"machine")));
  EXPECT_FALSE(PathExists(Child(L"machine")));
  EXPECT_EQ(ReadText(trash_ + "/files/machine/disk.vmdk"), "disk");
}

TEST_F(PosixTrashTest, WhatCannotBeRecycledLeavesNoInfoFile) {
  ASSERT_TRUE(WriteWholeFile(Child(L"kept.txt"), "kept"));
  const struct {
    std::wstring path;
    const char* why;
  } cases[] = {
      {Child(L"missing.txt"), "a missing file"},
      {L"relative\\kept.txt", "a relative path"},
      {L"C:\\kept.txt", "another drive"},
      {Folder() + L"\\..", "a name of .."},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(FileRecycle(c.path)) << c.why;
  }
  EXPECT_TRUE(PathExists(Child(L"kept.txt")));
  EXPECT_FALSE(Exists(trash_ + "/info/missing.txt.trashinfo"));
}

TEST_F(PosixTrashTest, ATrashThatCannotBeMadeFailsAndKeepsTheFile) {
  ASSERT_TRUE(WriteWholeFile(Child(L"data"), "a file where the data folder should be"));
  ASSERT_TRUE(WriteWholeFile(Child(L"kept.txt"), "kept"));
  EXPECT_FALSE(FileRecycle(Child(L"kept.txt")));
  EXPECT_TRUE(PathExists(Child(L"kept.txt")));
}

// A file on another filesystem than the home trash goes to the trash at the
// top of its own filesystem, with a path relative to that top. /dev/shm is
// a tmpfs of its own on most Linux systems.
TEST_F(PosixTrashTest, AFileOnAnotherFilesystemGoesToItsTopTrash) {
  struct stat shm;
  struct stat home;
  if (stat("/dev/shm", &shm) != 0 || stat(native_.c_str(), &home) != 0 ||
      shm.st_dev == home.st_dev || access("/dev/shm", W_OK) != 0) {
    GTEST_SKIP() << "no writable /dev/shm on a filesystem of its own";
  }
  const std::string top = "/dev/shm";  // its mount point
  const std::string topTrash = top + "/.Trash-" + std::to_string(getuid());
  const bool trashExisted = Exists(topTrash);
  char folder[] = "/dev/shm/qvt-trash-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string base = std::string(folder).substr(top.size() + 1);
  const std::wstring path = WindowsPathFromNative(folder) + L"\\表 1.bin";
  const std::string name = "\xE8\xA1\xA8 1.bin";
  const bool written = WriteWholeFile(path, "moved, not copied");
  const bool recycled = written && FileRecycle(path);
  const std::string stored = topTrash + "/files/" + name;
  const std::string infoFile = topTrash + "/info/" + name + ".trashinfo";
  const std::string content = ReadText(stored);
  const std::string info = ReadText(infoFile);
  const bool leftBehind = Exists(std::string(folder) + "/" + name);
  const bool homeInfo = Exists(trash_ + "/info/" + name + ".trashinfo");
  // Clean up before judging, so a failure leaves nothing in /dev/shm.
  unlink(stored.c_str());
  unlink(infoFile.c_str());
  RemoveTree(WindowsPathFromNative(folder));
  if (!trashExisted) RemoveTree(WindowsPathFromNative(topTrash));

  ASSERT_TRUE(written);
  ASSERT_TRUE(recycled);
  EXPECT_FALSE(leftBehind);
  EXPECT_FALSE(homeInfo) << "the home trash's info file was not removed";
  EXPECT_EQ(content, "moved, not copied");
  EXPECT_EQ(InfoPath(info), base + "/%E8%A1%A8%201.bin") << info;
}

}  // namespace
}  // namespace qvt::platform::test
