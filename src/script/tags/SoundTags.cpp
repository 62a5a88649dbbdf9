// Sound tags: background music, sound effects and voices.
#include "script/MainScript.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"

namespace {
using State = CStatelessFamily;
}  // namespace

void AddSoundTags(CTagRegistry& registry) {
  using tagutil::NotYet;
  const TagReplay kNone = TagReplay::kNone;
  const TagReplay kMusic = TagReplay::kMusic;
  const TagReplay kMessage = TagReplay::kMessage;
  tagutil::AddFamilyOrDie(
      registry, "sound", &CreateFamilyState<State>,
      {
          TagRow<&NotYet<State>>("splay", {"file"}, kMusic, "plays background music"),
          TagRow<&NotYet<State>>("sfadein", {"file", "time"}, kMusic, "fades background music in"),
          TagRow<&NotYet<State>>("sfadeout", {"time"}, kNone, "fades the background music out"),
          TagRow<&NotYet<State>>("sstop", {}, kNone, "stops the background music"),
          TagRow<&NotYet<State>>("sxfade", {"file", "time"}, kMusic, "cross-fades to new background music"),
          TagRow<&NotYet<State>>("seplay", {"id", "file"}, kNone, "plays a sound effect on a channel"),
          TagRow<&NotYet<State>>("sefadein", {"id", "file", "time"}, kNone, "fades a sound effect in"),
          TagRow<&NotYet<State>>("sefadeout", {"id", "time"}, kNone, "fades a sound effect out"),
          TagRow<&NotYet<State>>("sestop", {"id"}, kNone, "stops a sound effect"),
          TagRow<&NotYet<State>>("voice", {}, kMessage, "plays a voice for the current page"),
          TagRow<&NotYet<State>>("/voice", {}, kMessage, "ends the voice's part of the page"),
      });
}
