// Opening web addresses: which texts count as one, and how the opener is
// started (its argument reaches it untouched, no shell sees it).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/Browser.h"

namespace {

TEST(Browser, OnlyWebAddressesAreAccepted) {
  for (const char* url : {"http://example.com", "https://example.com/a?b=c&d=e#f", "HTTPS://EXAMPLE.COM",
                          "mailto:someone@example.com", "http://example.com/$(touch x);rm -rf ~"})
    EXPECT_TRUE(platform::IsWebAddress(url)) << url;
  for (const char* url :
       {"", "file:///etc/passwd", "/usr/bin/xterm", "notepad.exe", "javascript:alert(1)", "http:", "http://",
        "https:///etc/passwd", "mailto:", "ftp://example.com", " http://example.com", "-http://example.com",
        "http://example.com/\nsecond", "data:text/html,hi", "smb://host/share"})
    EXPECT_FALSE(platform::IsWebAddress(url)) << url;
}

TEST(Browser, AnythingElseIsRefusedBeforeAnythingStarts) {
  EXPECT_TRUE(platform::OpenBrowser("file:///etc/passwd"));
  EXPECT_TRUE(platform::OpenBrowser("xterm"));
}

// A fake opener first in PATH records the arguments it was given.
TEST(Browser, TheOpenerGetsTheAddressAsOneArgumentWithoutAShell) {
  const auto dir = std::filesystem::temp_directory_path() / ("velmira_browser_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto out = dir / "args.txt";
  {
    std::ofstream script(dir / "xdg-open");
    script << "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" << out.string() << ".tmp'\nmv '" << out.string() << ".tmp' '"
           << out.string() << "'\n";
  }
  std::filesystem::permissions(dir / "xdg-open", std::filesystem::perms::owner_all);
  const char* oldPath = std::getenv("PATH");
  const std::string saved = oldPath ? oldPath : "";
  setenv("PATH", (dir.string() + ":" + saved).c_str(), 1);
  const std::string url = "http://example.com/a b;touch '" + (dir / "pwned").string() + "'&$(id)";
  const bool failed = platform::SpawnOpener(url);
  setenv("PATH", saved.c_str(), 1);
  ASSERT_FALSE(failed);
  for (int i = 0; i < 500 && !std::filesystem::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "1|" + url + "|");
  EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
  std::filesystem::remove_all(dir);
}

TEST(Browser, AMissingOpenerIsAFailure) {
  const char* oldPath = std::getenv("PATH");
  const std::string saved = oldPath ? oldPath : "";
  setenv("PATH", "/nonexistent/velmira", 1);
  const bool failed = platform::SpawnOpener("http://example.com");
  setenv("PATH", saved.c_str(), 1);
  EXPECT_TRUE(failed);
}

}  // namespace
