// Ctrl+C at the running qvtdisk program: a SIGINT while a verb writes its
// temporary copies (or a copy its new disk) ends it with status 1 and
// "stopped", what it wrote removed and every live file as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "PeerChainKit.h"
#include "SparseTestKit.h"

namespace qvt {
namespace {

// Starts the program with its stderr into `errPath`; its process id.
pid_t Start(const std::vector<std::string>& args, const std::string& errPath) {
  std::vector<std::string> all = {QVT_QVTDISK_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int out = open("/dev/null", O_WRONLY);
    if (err < 0 || out < 0 || dup2(err, 2) < 0 || dup2(out, 1) < 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// True once `name` exists in the folder and holds at least `bytes` bytes.
bool Reached(const test::TempFolder& dir, const std::wstring& name, std::uintmax_t bytes) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(dir.Native(name), error);
  return !error && size >= bytes;
}

// Waits until the work has written `name` up to `bytes` and interrupts the
// program there; its exit status, or -1 when it ended before.
int InterruptOnceWritten(pid_t pid, const test::TempFolder& dir, const std::wstring& name,
                         std::uintmax_t bytes) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!Reached(dir, name, bytes)) {
    if (waitpid(pid, &status, WNOHANG) == pid) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(pid, SIGINT);
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProgramSignal, SigintWhileWorkingRollsBackAndLeavesTheFilesAsTheyWere) {
  if (!test::PeerToolsAvailable()) GTEST_SKIP() << "qemu-img and qemu-io are not installed";
  test::TempFolder dir;
  // Enough grains in both disks that moving them takes a while after the
  // temporary copy of the live file is complete: the signal then comes in
  // the grain loop, past the file copy (which removes its own partial file).
  std::string log;
  ASSERT_TRUE(test::MakeChain(dir, "monolithicSparse", "1G",
                              {{L"base.vmdk", "-c 'write -q -P 0x5a 0 512M'"},
                               {L"top.vmdk", "-c 'write -q -P 0x31 512M 256M'"}},
                              &log))
      << log;
  const test::FolderState before = test::Snapshot(dir);
  const std::string top = dir.Native(L"top.vmdk").string();
  const std::string base = dir.Native(L"base.vmdk").string();
  const std::string errPath = (dir.Native().parent_path() /
                               (dir.Native().filename().string() + "-stderr.txt")).string();
  const auto size = [&](const wchar_t* name) { return std::filesystem::file_size(dir.Native(name)); };
  const struct {
    std::vector<std::string> args;
    std::wstring written;
    std::uintmax_t bytes;
  } cases[] = {
      {{"consolidate", top, base}, L"top.vmdk_QVT_TEMP", size(L"top.vmdk")},
      {{"commit", top, base}, L"base.vmdk_QVT_TEMP", size(L"base.vmdk")},
      {{"copy", top, dir.Native(L"copy.vmdk").string()}, L"copy.vmdk", 1},
  };
  for (const auto& c : cases) {
    const std::vector<std::string>& args = c.args;
    const pid_t pid = Start(args, errPath);
    ASSERT_GT(pid, 0);
    const int status = InterruptOnceWritten(pid, dir, c.written, c.bytes);
    std::string err;
    test::Run("cat " + test::Quote(errPath), &err);
    EXPECT_EQ(status, 1) << args[0] << " (-1: it ended before the signal): " << err;
    EXPECT_EQ(err, "qvtdisk: stopped\n") << args[0];
    EXPECT_EQ(test::Snapshot(dir), before) << args[0];
  }
  std::filesystem::remove(errPath);
}

}  // namespace
}  // namespace qvt
