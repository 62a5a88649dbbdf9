// The tag reference lists every tag the engine registers.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "script/tags/TagFamilies.h"

namespace {

std::string RunTool(const std::string& arguments) {
  FILE* pipe = popen((std::string(VELMIRA_TOOL) + " " + arguments + " 2>/dev/null").c_str(), "r");
  std::string out;
  if (!pipe) return out;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  pclose(pipe);
  return out;
}

}  // namespace

TEST(TagsTool, TheReferenceListsEveryRegisteredTag) {
  const std::string markdown = RunTool("tags --markdown");
  for (const CTagRow& row : GetTagRegistry().GetRows()) {
    const std::string cell = "| `" + (row.name.empty() ? std::string("(empty)") : row.name) + "` |";
    EXPECT_NE(markdown.find(cell), std::string::npos) << row.name;
    EXPECT_NE(markdown.find(row.summary), std::string::npos) << row.name;
  }
  EXPECT_NE(markdown.find("| `lyc` | id, file | layer |"), std::string::npos);
  EXPECT_NE(markdown.find("## sound tags"), std::string::npos);
  EXPECT_NE(RunTool("tags").find("  splay\tfile\tmusic\t"), std::string::npos);
  EXPECT_EQ(RunTool("tags --bogus"), "");
}
