// velmira-tool rft and text, run as authors run them.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/TempDir.h"

namespace {

int RunTool(const std::string& arguments, std::string& output) {
  const std::string command = std::string(VELMIRA_TOOL) + " " + arguments + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buffer;
  size_t n;
  output.clear();
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(RftTool, BuildListExtract) {
  TempDir dir;
  std::string output;
  const std::string font = dir / "Gothic_12.rft";
  ASSERT_EQ(RunTool("rft build --face 'ＭＳ ゴシック' --size 12 " + font, output), 0) << output;
  EXPECT_NE(output.find("of 13180 codes have a glyph"), std::string::npos) << output;
  const std::string bytes = ReadAll(font);
  ASSERT_GT(bytes.size(), 4u + 8u * 13180u);
  EXPECT_EQ(bytes.substr(0, 4), "rft1");

  ASSERT_EQ(RunTool("rft list " + font, output), 0) << output;
  EXPECT_NE(output.find("\n0041 A offset "), std::string::npos);
  EXPECT_NE(output.find("\n8140 　 offset "), std::string::npos);  // the full-width space has its empty image
  EXPECT_NE(output.find("\n889F 亜 offset "), std::string::npos);

  ASSERT_EQ(RunTool("rft extract " + font + " " + (dir / "out"), output), 0) << output;
  EXPECT_EQ(ReadAll(dir / "out/0041.png").substr(1, 3), "PNG");

  // A file cut inside its index, and one whose entries point past its end.
  dir.Write("short.rft", bytes.substr(0, 4 + 8 * 100 + 3));
  EXPECT_EQ(RunTool("rft list " + (dir / "short.rft"), output), 1) << output;
  EXPECT_NE(output.find("ends inside its index (100 of 13180 entries)"), std::string::npos) << output;
  EXPECT_NE(output.find("OUTSIDE THE FILE"), std::string::npos) << output;
  dir.Write("bad.rft", "rftX");
  EXPECT_EQ(RunTool("rft list " + (dir / "bad.rft"), output), 1);

  ASSERT_EQ(RunTool("rft build --face 'ＭＳ ゴシック' --size 8 --rft2 " + (dir / "Small_8.rft"), output), 0) << output;
  EXPECT_EQ(ReadAll(dir / "Small_8.rft").substr(0, 4), "rft2");
  EXPECT_EQ(RunTool("rft build --face X --size 0 " + (dir / "x.rft"), output), 1);
}

TEST(RftTool, TextRendersOneLine) {
  TempDir dir;
  std::string output;
  ASSERT_EQ(RunTool("text --size 16 --outline 000000 -o " + (dir / "line.png") + " 'あいう abc'", output), 0) << output;
  // Three full-width, four half-width cells of 16 and 8, and the outline's 2.
  EXPECT_NE(output.find("82x18, 7 glyphs"), std::string::npos) << output;
  EXPECT_EQ(ReadAll(dir / "line.png").substr(1, 3), "PNG");
}

}  // namespace
