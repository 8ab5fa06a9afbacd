#include "platform/run_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "platform/error.h"
#include "support/temp_dir.h"

namespace {

TEST(RunLock, SecondHolderIsRefusedNamingTheFirstUntilItEnds) {
  praxtest::TempDir dir;
  std::optional<prax::RunLock> first;
  first.emplace(dir.Text());
  try {
    prax::RunLock second(dir.Text());
    FAIL() << "a second lock on the same network directory was granted";
  } catch (const prax::Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("process " + std::to_string(::getpid())), std::string::npos) << message;
    EXPECT_NE(message.find("PRAXSERVER.LCK"), std::string::npos) << message;
  }
  first.reset();
  // The lock file stays behind, as after a killed process; it is no obstacle.
  EXPECT_NO_THROW(prax::RunLock third(dir.Text()));
}

TEST(RunLock, MissingNetworkDirectoryNamesTheFile) {
  praxtest::TempDir dir;
  try {
    prax::RunLock lock(dir.Text() + "missing/");
    FAIL();
  } catch (const prax::Error& e) {
    EXPECT_NE(std::string(e.what()).find("PRAXSERVER.LCK"), std::string::npos);
  }
}

}  // namespace
