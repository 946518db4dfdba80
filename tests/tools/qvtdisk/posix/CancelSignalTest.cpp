// Ctrl+C on POSIX: SIGINT raises the flag instead of ending the program, and
// a raised flag stops the verbs at their first progress report.
#include <gtest/gtest.h>

#include <csignal>

#include "Cancel.h"
#include "ToolConsole.h"
#include "VmdkImageTestKit.h"

namespace qvt {
namespace {

class SignalConsole : public test::ToolConsole {
 public:
  bool CancelRequested() override { return qvtdisk::CancelFlagRaised(); }
};

TEST(CancelSignal, SigintRaisesTheFlagAndTheExportStops) {
  test::TempFolder dir;
  test::MemoryDisk data(2048);
  test::DiskMaker(dir).SingleFile(L"disk.vmdk", data);

  ASSERT_TRUE(qvtdisk::InstallCancelHandler());
  qvtdisk::ClearCancelFlag();
  EXPECT_FALSE(qvtdisk::CancelFlagRaised());
  ASSERT_EQ(std::raise(SIGINT), 0);  // the program goes on
  EXPECT_TRUE(qvtdisk::CancelFlagRaised());

  SignalConsole console;
  EXPECT_EQ(qvtdisk::Run({"export", dir.Native(L"disk.vmdk").string(),
                          dir.Native(L"disk.raw").string()},
                         console),
            1);
  EXPECT_FALSE(dir.Exists(L"disk.raw"));
  qvtdisk::ClearCancelFlag();
  std::signal(SIGINT, SIG_DFL);
}

}  // namespace
}  // namespace qvt
