// lint checks for movies and sliders: what would make a video tag skip its
// movie at once, or a slider tag refuse its parameters, at run time.
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Lint.h"
#include "files/PackFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Jpg.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "script/tags/TagUtil.h"
#include "video/MovieDecoder.h"
#include "video/VideoPlayer.h"

namespace {

// Values computed at run time cannot be judged here.
bool IsLiteral(const CScriptBlock& block, const char* attribute) {
  if (!block.HasAttribute(attribute)) return false;
  const std::string& value = block.GetAttribute(attribute);
  return value.empty() || value[0] != '$';
}

// Why the player would not play the movie named in a video tag; "" when it
// would. Movies are opened as loose files only, so an archive entry of that
// name does not count.
std::string WhyMovieFails(const std::string& cp932Name) {
  if (CVideoPlayer::CountCharacters(cp932Name) > CVideoPlayer::kMaxNameChars)
    return "the name is longer than 260 characters";
  const std::string native = platform::ResolveExistingFile(cp932Name);
  if (native.empty() || !platform::IsRegularFile(native)) {
    CPackFile packed;
    if (!packed.Open(cp932Name.c_str())) return "the movie is only inside an archive; movies must be loose files";
    return "the movie file is missing";
  }
  // What Play checks before it reports a start: the streams, and that a
  // movie with pictures yields one (or has sound to play over black).
  CMovieDecoder decoder;
  if (decoder.OpenFile(native)) return "the movie cannot be played (" + decoder.GetError() + ")";
  const CMovieInfo& info = decoder.GetInfo();
  if (info.hasVideo && decoder.DecodeVideo() && (!info.hasAudio || decoder.IsFailed()))
    return "the movie cannot be played (" + (decoder.IsFailed() ? decoder.GetError() : "it holds no picture") + ")";
  return "";
}

// Why the slider would refuse the tag's literal parameters; "" when nothing
// can be told before run time.
std::string WhySliderFails(const CScriptBlock& block, CGraphicLoaders& images, std::map<std::string, bool>& loads) {
  const bool horizontal = block.HasAttribute("width");
  const char* lengthName = horizontal ? "width" : "height";
  if (!horizontal && !block.HasAttribute("height")) return "neither width nor height";
  if (IsLiteral(block, lengthName)) {
    const int64_t length = tagutil::Atoi(block.GetAttribute(lengthName));
    if (length < 2) return std::string(lengthName) + " below 2";
    const char* startName = horizontal ? "x" : "y";
    if (IsLiteral(block, startName) &&
        tagutil::Atoi(block.GetAttribute(startName)) + length - 1 > std::numeric_limits<int32_t>::max())
      return "the track ends beyond the largest coordinate";
  }
  if (IsLiteral(block, "var_min") && IsLiteral(block, "var_max") &&
      tagutil::Atoi(block.GetAttribute("var_min")) == tagutil::Atoi(block.GetAttribute("var_max")))
    return "var_min equals var_max";
  for (const char* image : {"background_path", "controller_path"}) {
    if (!IsLiteral(block, image)) continue;
    const std::string& name = block.GetAttribute(image);
    auto known = loads.find(name);
    if (known == loads.end()) {
      CSurface surface;
      known = loads.emplace(name, !images.LoadFile(&surface, name.c_str())).first;
    }
    if (!known->second) return std::string(image) + " \"" + Cp932ToUtf8(name) + "\" cannot be loaded";
  }
  return "";
}

}  // namespace

void CheckVideoTags(const LintGame& game, std::vector<LintFinding>& findings) {
  static const std::string parameters = Utf8ToCp932("パラメータが不足しているか、間違っています。");
  CPackFileFactory files;
  CGraphicLoaders images(&files);
  (void)images.AddLoader(new CPng());
  (void)images.AddLoader(new CJpg());
  std::map<std::string, std::string> movies;
  std::map<std::string, bool> imageLoads;
  for (const LintScript& script : game.scripts) {
    for (const CScriptBlock& block : script.blocks) {
      if (block.GetType() != CScriptBlock::kTag) continue;
      if (block.GetText() == "video" && IsLiteral(block, "file")) {
        const std::string& file = block.GetAttribute("file");
        auto known = movies.find(file);
        if (known == movies.end()) known = movies.emplace(file, WhyMovieFails(file)).first;
        if (!known->second.empty())
          findings.push_back({script.name, block.GetLine(),
                              "warning: [video file=\"" + file + "\"] " + Utf8ToCp932(known->second) +
                                  ": the script goes on at once"});
      } else if (block.GetText() == "slider") {
        const std::string why = WhySliderFails(block, images, imageLoads);
        if (!why.empty())
          findings.push_back({script.name, block.GetLine(), "[slider] " + parameters + " (" + Utf8ToCp932(why) + ")"});
      }
    }
  }
}
