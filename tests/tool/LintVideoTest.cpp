// velmira-tool lint on video and slider tags: movies the player would skip at
// once, and slider parameters the slider refuses.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

#include "ImageBytes.h"
#include "files/PackTool.h"
#include "LintRun.h"
#include "support/TempDir.h"
#include "video/MovieFixture.h"

namespace {

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

}  // namespace

TEST(Lint, ReportsMoviesThatWouldNotPlay) {
  TempDir game;
  const std::string movie = Bytes(MakeMovie(MovieSpec{}));
  ASSERT_FALSE(movie.empty());
  game.Write("op.avi", movie);
  game.Write("Upper.AVI", movie);
  game.Write("junk.avi", std::string(3000, 'j'));
  game.Write("packed/inside.avi", movie);
  std::string error;
  ASSERT_FALSE(
      packtool::PackDirectory(game.Path() + "/packed", game.Path() + "/velmira.pfs", packtool::SPackOptions(), error))
      << error;
  game.Write("start.iet",
             "[video file=op.avi][video file=upper.avi][video file=$name]\n"
             "[video file=gone.avi]\n"
             "[video file=junk.avi]\n"
             "[video file=inside.avi]\n"
             "[video file=" +
                 std::string(257, 'n') + ".avi]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_EQ(out.find("start.iet(1)"), std::string::npos) << out;
  EXPECT_NE(out.find("start.iet(2): warning: [video file=\"gone.avi\"] the movie file is missing"), std::string::npos)
      << out;
  EXPECT_NE(out.find("start.iet(3): warning: [video file=\"junk.avi\"] the movie cannot be played"), std::string::npos)
      << out;
  EXPECT_NE(out.find("start.iet(4): warning: [video file=\"inside.avi\"] the movie is only inside an archive"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("start.iet(5): warning: [video file=\"nnn"), std::string::npos) << out;
  EXPECT_NE(out.find("longer than 260 characters"), std::string::npos) << out;
}

TEST(Lint, ReportsSliderParametersTheSliderRefuses) {
  TempDir game;
  game.Write("bar.png", image_bytes::MakePng(8, 8));
  game.Write("knob.png", image_bytes::MakePng(4, 4));
  const std::string common = " background_path=bar.png controller_path=knob.png var_name=s.v id=s";
  game.Write("start.iet", "[slider x=0 y=0 width=100 var_min=0 var_max=10" + common +
                              "][slider x=0 y=0 height=$h var_min=$a var_max=$a" + common +
                              "]\n"
                              "[slider x=0 y=0 var_min=0 var_max=10" +
                              common +
                              "]\n"
                              "[slider x=0 y=0 width=1 var_min=0 var_max=10" +
                              common +
                              "]\n"
                              "[slider x=0 y=0 height=50 var_min=7 var_max=7" +
                              common +
                              "]\n"
                              "[slider x=2147483600 y=0 width=100 var_min=0 var_max=10" +
                              common +
                              "]\n"
                              "[slider x=0 y=0 width=100 var_min=0 var_max=10 background_path=gone.png "
                              "controller_path=knob.png var_name=s.v id=s]\n");
  std::string out;
  EXPECT_EQ(RunLint(game.Path(), out), 1);
  EXPECT_EQ(out.find("start.iet(1)"), std::string::npos) << out;
  const std::string message = "[slider] パラメータが不足しているか、間違っています。 (";
  EXPECT_NE(out.find("start.iet(2): " + message + "neither width nor height)"), std::string::npos) << out;
  EXPECT_NE(out.find("start.iet(3): " + message + "width below 2)"), std::string::npos) << out;
  EXPECT_NE(out.find("start.iet(4): " + message + "var_min equals var_max)"), std::string::npos) << out;
  EXPECT_NE(out.find("start.iet(5): " + message + "the track ends beyond"), std::string::npos) << out;
  EXPECT_NE(out.find("start.iet(6): " + message + "background_path \"gone.png\" cannot be loaded)"), std::string::npos)
      << out;
}
