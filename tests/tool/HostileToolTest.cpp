// velmira-tool given nonsense, hostile game folders and a full disk.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ImageBytes.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Runs the tool through the shell; `prefix` runs first in the same shell
// (a file size limit stands in for a full disk).
int RunTool(const std::string& arguments, std::string& output, const std::string& prefix = "") {
  const std::string command = "sh -c \"" + prefix + " exec " + VELMIRA_TOOL + " " + arguments + "\" 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buffer;
  size_t n;
  output.clear();
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.append(buffer.data(), n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Writes larger than about 4 KB fail as on a full disk.
const char* const kFullDisk = "trap '' XFSZ; ulimit -f 8;";

std::string Wave(int seconds) {
  auto le = [](std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const uint32_t data = 22050u * 2u * static_cast<uint32_t>(seconds);
  std::string out = "RIFF";
  le(out, 36 + data, 4);
  out += "WAVEfmt ";
  le(out, 16, 4);
  le(out, 1, 2);
  le(out, 1, 2);
  le(out, 22050, 4);
  le(out, 44100, 4);
  le(out, 2, 2);
  le(out, 16, 2);
  out += "data";
  le(out, data, 4);
  for (uint32_t i = 0; i < data / 2; ++i) le(out, (i * 37) & 0x3FFF, 2);
  return out;
}

}  // namespace

TEST(HostileTool, ArgumentsThatMakeNoSenseAreRefused) {
  TempDir dir;
  dir.Write("a.wav", Wave(1));
  std::string out;
  for (const char* volume : {"nan", "inf", "-inf", "1e300", "1001", "-1"}) {
    EXPECT_NE(RunTool("play a.wav --game " + dir.Path() + " --out " + dir / "o.wav" + " --volume " + volume, out), 0)
        << volume;
    EXPECT_NE(out.find("play:"), std::string::npos) << out;
  }
  for (const char* seconds : {"nan", "inf", "-2"}) {
    EXPECT_NE(RunTool("play a.wav --game " + dir.Path() + " --out " + dir / "o.wav" + " --seconds " + seconds, out), 0)
        << seconds;
  }
  EXPECT_EQ(RunTool("play a.wav --game " + dir.Path() + " --out " + dir / "o.wav" + " --volume 500", out), 0) << out;

  EXPECT_NE(RunTool("lint /nonexistent", out), 0);
  EXPECT_NE(out.find("/nonexistent"), std::string::npos) << out;
  dir.Write("s.iet", "*s\n");
  EXPECT_NE(RunTool("parse " + dir / "s.iet" + " --game /nonexistent", out), 0);
  EXPECT_NE(out.find("/nonexistent"), std::string::npos) << out;

  EXPECT_NE(RunTool("eval 1+", out), 0);
  EXPECT_NE(out.find("cannot evaluate"), std::string::npos) << out;
  EXPECT_NE(RunTool("eval 1/0", out), 0);
  // Failures that a bracket around them would hide: a name that ends the
  // text (inside brackets it would be created) and a doubled operator.
  EXPECT_NE(RunTool("eval f.nope", out), 0) << out;
  EXPECT_NE(RunTool("eval 1+=2", out), 0) << out;
  // An empty string is a value, not a failure.
  EXPECT_EQ(RunTool("eval 1+2 \\\"''\\\"", out), 0) << out;
  EXPECT_EQ(out, "3\n\n");
}

TEST(HostileTool, LintDecodesImagesAsTheEngineDoes) {
  using image_bytes::MakePng;
  TempDir game;
  game.Write("start.iet", "*start\r\n");
  game.Write("image/good.png", MakePng(4, 4));
  game.Write("image/photo.png", image_bytes::MakeJpeg());  // a JPEG the engine loads whatever its name
  game.Write("image/photo.jpg", image_bytes::MakeJpeg());
  game.Write("image/zero.png", MakePng(0, 4, 8, 6, 4, 4));
  game.Write("image/wide.png", MakePng(65537, 1));
  std::string crc = MakePng(4, 4);
  crc[crc.size() - 20] ^= 0x55;  // inside the image data: its CRC no longer matches
  game.Write("image/crc.png", crc);
  const std::string good = MakePng(64, 64);
  game.Write("image/cut.png", good.substr(0, good.size() - 30));
  game.Write("image/text.jpg", "not an image");
  std::string out;
  EXPECT_EQ(RunTool("lint " + game.Path() + " 2>/dev/null", out), 1);
  for (const char* bad : {"image/zero.png", "image/wide.png", "image/crc.png", "image/cut.png", "image/text.jpg"}) {
    EXPECT_NE(out.find(std::string(bad) + ": warning: the engine will not load"), std::string::npos) << bad << out;
  }
  EXPECT_NE(out.find("65537x1"), std::string::npos) << out;
  EXPECT_EQ(out.find("good.png"), std::string::npos) << out;
  EXPECT_EQ(out.find("photo"), std::string::npos) << out;
}

TEST(HostileTool, LintWarnsAboutScriptsSavedAsUtf8) {
  TempDir game;
  game.Write("bom.iet", "\xEF\xBB\xBF*start\r\n");
  game.Write("utf8.iet", "*start\r\n\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF\r\n");  // こんにちは
  game.Write("cp932.iet", "*start\r\n\x82\xB1\x82\xF1\x82\xC9\x82\xBF\x82\xCD\r\n");
  std::string out;
  EXPECT_EQ(RunTool("lint " + game.Path() + " 2>/dev/null", out), 1);
  EXPECT_NE(out.find("bom.iet: warning: saved as UTF-8? the engine reads CP932"), std::string::npos) << out;
  EXPECT_NE(out.find("utf8.iet: warning: saved as UTF-8? the engine reads CP932"), std::string::npos) << out;
  EXPECT_EQ(out.find("cp932.iet"), std::string::npos) << out;
}

TEST(HostileTool, ToolsFindTagIniInTheGamesArchive) {
  TempDir game;
  game.Write("src/tag.ini", "[wait]\n0=time\n");
  game.Write("start.iet", "[&linetag allow=1]\nwait 500\n");
  std::string out;
  ASSERT_EQ(RunTool("pack " + game / "src" + " " + game / "velmira.pfs", out), 0) << out;
  fs::remove_all(game / "src");
  EXPECT_EQ(RunTool("lint " + game.Path() + " 2>/dev/null", out), 0) << out;
  EXPECT_EQ(RunTool("parse " + game / "start.iet" + " 2>/dev/null", out), 0) << out;
  EXPECT_NE(out.find("\"text\":\"wait\",\"attr\":{\"time\":\"500\"}"), std::string::npos) << out;
}

TEST(HostileTool, LintSeesSymlinkedFoldersAndReportsLoops) {
  TempDir game, shared;
  game.Write("start.iet", "*start\r\n");
  shared.Write("broken.iet", "[lyc id=x\n");
  fs::create_directory_symlink(shared.Path(), game / "chapter");
  std::string out;
  EXPECT_EQ(RunTool("lint " + game.Path() + " 2>/dev/null", out), 1);
  EXPECT_NE(out.find("chapter/broken.iet(2): "), std::string::npos) << out;

  fs::create_directory_symlink(game.Path(), fs::path(shared.Path()) / "back");
  EXPECT_EQ(RunTool("lint " + game.Path(), out), 1);
  EXPECT_NE(out.find("leads back into itself: chapter/back"), std::string::npos) << out;
  EXPECT_NE(RunTool("pack " + game.Path() + " " + shared / "a.pfs", out), 0);
  EXPECT_NE(out.find("leads back into itself"), std::string::npos) << out;
}

TEST(HostileTool, ListShowsWhereEntriesPointAndDamage) {
  TempDir dir;
  dir.Write("src/a.txt", "aaaa");
  dir.Write("src/b.txt", "bbbb");
  dir.Write("src/saveg.dat", "BOWG");
  std::string out;
  ASSERT_EQ(RunTool("pack " + dir / "src" + " " + dir / "g.pfs --format pf2 --archive-path other.pfs", out), 0) << out;
  EXPECT_EQ(RunTool("list " + dir / "g.pfs 2>/dev/null", out), 0);
  EXPECT_EQ(out, "a.txt\t91\t4\tother.pfs\nb.txt\t95\t4\tother.pfs\n");

  ASSERT_EQ(RunTool("pack " + dir / "src" + " " + dir / "s.pfs --include-saves", out), 0) << out;
  EXPECT_EQ(RunTool("list " + dir / "s.pfs", out), 0);
  EXPECT_NE(out.find("saveg.dat"), std::string::npos) << out;

  // A pf1 directory that promises more entries than it holds: the intact
  // ones are listed, the damage is reported.
  ASSERT_EQ(RunTool("pack " + dir / "src" + " " + dir / "p.pfs", out), 0) << out;
  std::fstream f(dir / "p.pfs", std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(11);
  f.put('\x09');
  f.close();
  EXPECT_EQ(RunTool("list " + dir / "p.pfs", out), 1);
  EXPECT_NE(out.find("a.txt\t"), std::string::npos) << out;
  EXPECT_NE(out.find("b.txt\t"), std::string::npos) << out;
  EXPECT_NE(out.find("damaged directory: directory ends"), std::string::npos) << out;
}

TEST(HostileTool, WriteFailuresAreReportedAndLeaveNothingHalfWritten) {
  TempDir dir;
  std::string big;
  for (int i = 0; i < 100000; ++i) big += static_cast<char>(i * 13);
  dir.Write("src/big.bin", big);
  dir.Write("a.wav", Wave(2));
  std::string out;
  EXPECT_NE(RunTool("pack " + dir / "src" + " " + dir / "out.pfs", out, kFullDisk), 0);
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "out.pfs"));

  EXPECT_NE(RunTool("play a.wav --game " + dir.Path() + " --out " + dir / "o.wav", out, kFullDisk), 0);
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
  EXPECT_EQ(out.find("wrote"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "o.wav"));

  ASSERT_EQ(RunTool("pack " + dir / "src" + " " + dir / "ok.pfs", out), 0) << out;
  EXPECT_NE(RunTool("extract " + dir / "ok.pfs" + " " + dir / "x", out, kFullDisk), 0);
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(dir / "x/big.bin"));
}

TEST(HostileTool, FontBuildOnAFullDiskFails) {
  TempDir dir;
  std::string out;
  const std::string font = dir / "Gothic_12.rft";
  EXPECT_NE(RunTool("rft build --face Gothic --size 12 " + font, out, kFullDisk), 0);
  EXPECT_NE(out.find("cannot write"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(font));
}
