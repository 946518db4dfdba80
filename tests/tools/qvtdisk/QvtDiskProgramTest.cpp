// The built qvtdisk program, run as a user runs it: its streams and exit
// status. POSIX only (the Windows build's tests run under Wine, which does
// not start programs through a shell).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include "SparseTestKit.h"
#include "VmdkImageTestKit.h"

namespace qvt {
namespace {

#if defined(_WIN32)
#define QVT_NEED_SHELL() GTEST_SKIP() << "qvtdisk.exe is run by the in-process tests under Wine"
int Status(int status) { return status; }
#else
#define QVT_NEED_SHELL() (void)0
int Status(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
#endif

// stdout only; stderr goes to `err` when given.
int Program(const std::string& arguments, std::string* out, std::string* err = nullptr,
            const test::TempFolder* dir = nullptr) {
  // In a subshell, so that the 2>&1 test::Run adds finds stderr taken.
  std::string command = "(" + test::Quote(QVT_QVTDISK_PATH) + " " + arguments + " 2>" +
                        (dir != nullptr ? test::Quote(dir->Native(L"stderr.txt").string())
                                        : std::string("/dev/null")) +
                        ")";
  std::string output;
  const int status = test::Run(command, &output);
  if (out != nullptr) *out = output;
  if (err != nullptr && dir != nullptr) *err = dir->ReadFile(L"stderr.txt");
  return Status(status);
}

TEST(QvtDiskProgram, ExitsWithTheDocumentedStatusAndWritesToTheRightStream) {
  QVT_NEED_SHELL();
  test::TempFolder dir;
  test::MemoryDisk data(2048);
  data.Pattern(0, 4096, 0x11);
  test::DiskMaker(dir).SingleFile(L"disk.vmdk", data);
  const std::string disk = test::Quote(dir.Native(L"disk.vmdk").string());

  std::string out;
  std::string err;
  EXPECT_EQ(Program("", &out, &err, &dir), 2);
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("usage: qvtdisk VERB"), std::string::npos);

  EXPECT_EQ(Program("info " + disk, &out, &err, &dir), 0);
  EXPECT_EQ(out.rfind("kind: VMDK\ncapacity: 2048 sectors (1048576 bytes)\n", 0), 0u) << out;
  EXPECT_EQ(err, "");

  const std::string raw = test::Quote(dir.Native(L"disk.raw").string());
  EXPECT_EQ(Program("export " + disk + " " + raw, &out, &err, &dir), 0) << err;
  EXPECT_EQ(err, "") << "no progress bar when stderr is a file";
  const std::string bytes = dir.ReadFile(L"disk.raw");
  EXPECT_TRUE(std::vector<std::uint8_t>(bytes.begin(), bytes.end()) == data.bytes);

  EXPECT_EQ(Program("info " + test::Quote(dir.Native(L"none.vmdk").string()), &out, &err, &dir), 3);
  EXPECT_NE(err.find("DISK_E_OPEN (-201)"), std::string::npos) << err;

  // Relative paths are taken against the working folder.
  EXPECT_EQ(Program("info disk.vmdk", &out, nullptr, nullptr), 3) << "not in this folder";
  const std::string cd = "cd " + test::Quote(dir.Native().string()) + " && ";
  EXPECT_EQ(Status(test::Run(cd + test::Quote(QVT_QVTDISK_PATH) + " info disk.vmdk", &out)), 0)
      << out;
}

}  // namespace
}  // namespace qvt
