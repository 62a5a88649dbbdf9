// Sound tags: background music with fades and cross-fades, sound effects on
// channels named by id, and voices that belong to the page they are on.
#include "script/tags/SoundTags.h"

#include <cstdio>

#include "files/PackFile.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"
#include "scene/Easing.h"
#include "scene/Tween.h"
#include "script/tags/MessageTags.h"
#include "script/tags/SystemTags.h"
#include "script/tags/TagFamilies.h"
#include "script/tags/TagUtil.h"
#include "sound/DxSound.h"
#include "sound/SoundLoaders.h"
#include "sound/Vorbis.h"
#include "sound/Wave.h"
#include "vars/QelVariables.h"

namespace {

// Volumes never fade to 0: a fade-in starts and a fade-out ends at 1.
constexpr int kFadeFloor = 1;

void LogSlot(const char* what, const CSoundTagState::CSlot& slot) {
  if (!LogIsOpen()) return;
  LogWrite("[sound] " + std::string(what) + " " + slot.name + " file=\"" + slot.file + "\"");
}

}  // namespace

CSoundTagState::CSoundTagState()
    : m_files(std::make_unique<CPackFileFactory>()), m_loaders(std::make_unique<CSoundLoaders>(m_files.get())) {
  m_loaders->AddLoader(new CVorbisLoader());
  m_loaders->AddLoader(new CWaveLoader());
  m_bgm[0].name = "bgm.a";
  m_bgm[1].name = "bgm.b";
  for (CSlot& slot : m_bgm) slot.player = std::make_unique<CDxSound>();
}

CSoundTagState::~CSoundTagState() {
  // The registry outlives this state; its tweens must not keep calling
  // players that are about to go.
  for (CSlot& slot : m_bgm) FinishFade(slot);
  for (auto& [id, slot] : m_channels) FinishFade(slot);
}

std::unique_ptr<ISound> CSoundTagState::Decode(const std::string& file) {
  ISound* sound = nullptr;
  if (m_loaders->LoadFile(&sound, file.c_str())) return nullptr;
  return std::unique_ptr<ISound>(sound);
}

bool CSoundTagState::IsFading(const CSlot& slot) const {
  return slot.fade >= 0 && CTweenRegistry::Instance().IsAlive(slot.fade);
}

void CSoundTagState::FinishFade(CSlot& slot) {
  if (slot.fade >= 0) CTweenRegistry::Instance().Kill(slot.fade);
  slot.fade = -1;
}

void CSoundTagState::StartFade(CSlot& slot, int from, int to, int time, int ease, bool stopAtEnd) {
  ISoundPlayer* player = slot.player.get();
  auto tween = std::make_unique<CIntTween>([player](int32_t v) { player->SetVolume(v); }, from, to, time, 0);
  tween->SetEase(ease);
  if (stopAtEnd) {
    // Slots live as long as this state, whose destructor ends its fades.
    CSlot* target = &slot;
    tween->SetOnComplete([this, target]() { Stop(*target); });
  }
  slot.fade = CTweenRegistry::Instance().Register(std::move(tween));
}

void CSoundTagState::Stop(CSlot& slot) {
  if (slot.player->IsPlaying()) LogSlot("stop", slot);
  slot.player->Stop();
}

void CSoundTagState::FreeSound(CSlot& slot) {
  if (!slot.sound) return;
  slot.player->Close();
  slot.sound.reset();
}

bool CSoundTagState::Open(CSlot& slot, std::unique_ptr<ISound> sound, const std::string& file, bool isStatic) {
  slot.player->Stop();
  FreeSound(slot);
  slot.file = file;
  slot.sound = std::move(sound);
  LogSlot("open", slot);
  if (!slot.player->Open(slot.sound.get(), isStatic)) return false;
  slot.player->Close();
  slot.sound.reset();
  return true;
}

bool CSoundTagState::Play(CSlot& slot, bool loop) {
  slot.loop = loop;
  LogSlot(loop ? "play loop" : "play once", slot);
  return slot.player->Play(loop);
}

bool CSoundTagState::IsChannelPlaying(const std::string& id) {
  auto it = m_channels.find(id);
  return it != m_channels.end() && it->second.player->IsPlaying() != 0;
}

void CSoundTagState::OnEvent(CMainScript&, ScriptEvent event) {
  if (event != ScriptEvent::kBoot) return;
  // Fades are finished before they are forgotten: one left running would
  // later stop whatever its player plays by then.
  for (CSlot& slot : m_bgm) {
    FinishFade(slot);
    Stop(slot);
  }
  for (auto& [id, slot] : m_channels) {
    FinishFade(slot);
    Stop(slot);
  }
}

void CSoundTagState::OnFrame(CMainScript& script) {
  for (CSlot& slot : m_bgm) slot.player->Update();
  CQelVariables& vars = script.GetVariables();
  // Players without a fade follow their volume variable, so a changed
  // setting reaches the sounds already playing.
  int music = vars.GetInt("s.bgmvol");
  for (CSlot& slot : m_bgm) {
    if (!IsFading(slot) && slot.player->GetVolume() != music) slot.player->SetVolume(music);
  }
  int effects = vars.GetInt("s.sevol");
  for (auto& [id, slot] : m_channels) {
    if (!IsFading(slot) && slot.player->GetVolume() != effects) slot.player->SetVolume(effects);
    // A one-shot effect that has ended gives its memory back; the channel
    // and its player stay.
    if (slot.sound && !slot.loop && !IsFading(slot) && !slot.player->IsPlaying()) FreeSound(slot);
  }
}

bool CSoundTagState::HoldsAutoWait(CMainScript& script) {
  CSystemTagState* system = script.FindFamily<CSystemTagState>();
  if (!system) return false;
  for (const std::string& id : system->m_autoSyncList) {
    if (IsChannelPlaying(id)) return true;
  }
  return false;
}

std::string CSoundTagState::Dump() {
  std::string out;
  auto line = [&](CSlot& slot) {
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "\" playing=%d volume=%d loop=%d fade=%d\n", slot.player->IsPlaying(),
                  slot.player->GetVolume(), slot.loop ? 1 : 0, IsFading(slot) ? 1 : 0);
    // A channel whose sound was let go (stopped, or a one-shot that ended)
    // holds no file any more.
    out += slot.name + " file=\"" + (slot.sound ? slot.file : std::string()) + numbers;
  };
  for (CSlot& slot : m_bgm) line(slot);
  for (auto& [id, slot] : m_channels) line(slot);
  return out;
}

namespace {

using State = CSoundTagState;
using Slot = CSoundTagState::CSlot;

void ReportFile(CMainScript& script, const CScriptBlock& record) {
  static const std::string format =
      Utf8ToCp932("%s(%d): [%s file=\"%s\"] 指定されたファイルは見つからないか、非対応形式です。");
  script.ReportFormat(format.c_str(), script.GetCursor().m_file.c_str(), record.m_line, record.m_text.c_str(),
                      record.GetAttribute("file").c_str());
}

int Volume(CMainScript& script, const char* name) { return script.GetVariables().GetInt(name); }

int Time(const CScriptBlock& record) { return tagutil::Atoi(record.GetAttribute("time")); }

// splay, sfadein
bool MusicPlay(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  for (Slot& slot : state.m_bgm) state.Stop(slot);
  for (Slot& slot : state.m_bgm) state.FinishFade(slot);
  for (Slot& slot : state.m_bgm) state.FreeSound(slot);
  const std::string& file = record.GetAttribute("file");
  Slot& a = state.m_bgm[0];
  std::unique_ptr<ISound> sound = state.Decode(file);
  // The music has stopped, so a later save must not bring the old record
  // back.
  if (!sound || state.Open(a, std::move(sound), file, false)) {
    ReportFile(script, record);
    if (!replay) script.GetSaveData().ClearMusicRecord();
    return false;
  }
  state.m_bActive = false;
  int volume = Volume(script, "s.bgmvol");
  if (record.HasAttribute("time")) {
    state.StartFade(a, kFadeFloor, volume, Time(record), kEaseInSine, false);
    a.player->SetVolume(kFadeFloor);
  } else {
    a.player->SetVolume(volume);
  }
  if (state.Play(a, record.GetAttribute("loop") != "0")) ReportFile(script, record);
  if (!replay) script.RecordForReplay(std::string(), record);
  return false;
}

bool CrossFade(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  // Decoding comes first: a file that fails leaves both players and their
  // fades exactly as they were.
  const std::string& file = record.GetAttribute("file");
  std::unique_ptr<ISound> sound = state.Decode(file);
  if (!sound) {
    ReportFile(script, record);
    return false;
  }
  for (Slot& slot : state.m_bgm) state.FinishFade(slot);
  const bool toB = !state.m_bActive;
  Slot& in = state.m_bgm[toB ? 1 : 0];
  Slot& out = state.m_bgm[toB ? 0 : 1];
  if (state.Open(in, std::move(sound), file, false)) {
    ReportFile(script, record);
    return false;
  }
  int time = Time(record);
  state.StartFade(in, kFadeFloor, Volume(script, "s.bgmvol"), time, kEaseOutSine, false);
  state.StartFade(out, out.player->GetVolume(), kFadeFloor, time, kEaseOutSine, true);
  in.player->SetVolume(kFadeFloor);
  state.m_bActive = toB;
  if (state.Play(in, record.GetAttribute("loop") != "0")) ReportFile(script, record);
  if (!replay) script.RecordForReplay(std::string(), record);
  return false;
}

// sfadeout, sstop
bool MusicStop(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  if (record.HasAttribute("time")) {
    // The other player's fade (the end of a cross-fade) keeps running and
    // keeps its entry, so nothing holds that player against it.
    Slot& current = state.CurrentMusic();
    state.FinishFade(current);
    state.StartFade(current, current.player->GetVolume(), kFadeFloor, Time(record), kEaseInSine, true);
  } else {
    for (Slot& slot : state.m_bgm) {
      state.Stop(slot);
      state.FreeSound(slot);
      state.FinishFade(slot);
    }
    state.m_bActive = false;
  }
  if (!replay) script.GetSaveData().ClearMusicRecord();
  return false;
}

// seplay, sefadein, and the sound of voice
bool EffectPlay(State& state, CMainScript& script, const CScriptBlock& record, bool) {
  const std::string& id = record.GetAttribute("id");
  auto [it, created] = state.m_channels.try_emplace(id);
  Slot& slot = it->second;
  if (created) {
    slot.name = "se." + id;
    slot.player = std::make_unique<CDxSound>();
  } else {
    state.Stop(slot);
    state.FinishFade(slot);
  }
  state.FreeSound(slot);
  if (record.HasAttribute("skippable") && tagutil::Atoi(record.GetAttribute("skippable")) != 0 && script.IsSkipping())
    return false;

  const std::string& file = record.GetAttribute("file");
  std::unique_ptr<ISound> sound = state.Decode(file);
  if (!sound || state.Open(slot, std::move(sound), file, true)) {
    ReportFile(script, record);
    return false;
  }
  int volume = Volume(script, "s.sevol");
  if (record.HasAttribute("time")) {
    state.StartFade(slot, kFadeFloor, volume, Time(record), kEaseInSine, false);
    slot.player->SetVolume(kFadeFloor);
  } else {
    slot.player->SetVolume(volume);
  }
  if (state.Play(slot, record.GetAttribute("loop") == "1")) ReportFile(script, record);
  return false;
}

// sefadeout, sestop
bool EffectStop(State& state, CMainScript&, const CScriptBlock& record, bool) {
  // An id that was never played has nothing to stop; no channel is made.
  auto it = state.m_channels.find(record.GetAttribute("id"));
  if (it == state.m_channels.end()) return false;
  Slot& slot = it->second;
  state.FinishFade(slot);
  if (record.HasAttribute("time")) {
    state.StartFade(slot, slot.player->GetVolume(), kFadeFloor, Time(record), kEaseInSine, true);
  } else {
    state.Stop(slot);
    state.FreeSound(slot);
  }
  return false;
}

void RecordOnPage(CMainScript& script, const CScriptBlock& record) {
  CMessageTagState* message = script.FindFamily<CMessageTagState>();
  script.RecordForReplay(message ? message->m_currentWindowId : std::string(), record);
}

bool Voice(State& state, CMainScript& script, const CScriptBlock& record, bool replay) {
  // Recorded first, so that the page keeps its voice even when the file
  // fails now.
  if (!replay) RecordOnPage(script, record);
  return EffectPlay(state, script, record, replay);
}

bool VoiceEnd(State&, CMainScript& script, const CScriptBlock& record, bool replay) {
  if (!replay) RecordOnPage(script, record);
  return false;
}

}  // namespace

void AddSoundTags(CTagRegistry& registry) {
  const TagReplay kNone = TagReplay::kNone;
  const TagReplay kMusic = TagReplay::kMusic;
  const TagReplay kMessage = TagReplay::kMessage;
  tagutil::AddFamilyOrDie(
      registry, "sound", &CreateFamilyState<State>,
      {
          TagRow<&MusicPlay>("splay", {"file"}, kMusic, "plays background music"),
          TagRow<&MusicPlay>("sfadein", {"file", "time"}, kMusic, "fades background music in"),
          TagRow<&MusicStop>("sfadeout", {"time"}, kNone, "fades the background music out"),
          TagRow<&MusicStop>("sstop", {}, kNone, "stops the background music"),
          TagRow<&CrossFade>("sxfade", {"file", "time"}, kMusic, "cross-fades to new background music"),
          TagRow<&EffectPlay>("seplay", {"id", "file"}, kNone, "plays a sound effect on a channel"),
          TagRow<&EffectPlay>("sefadein", {"id", "file", "time"}, kNone, "fades a sound effect in"),
          TagRow<&EffectStop>("sefadeout", {"id", "time"}, kNone, "fades a sound effect out"),
          TagRow<&EffectStop>("sestop", {"id"}, kNone, "stops a sound effect"),
          TagRow<&Voice>("voice", {}, kMessage, "plays a voice for the current page"),
          TagRow<&VoiceEnd>("/voice", {}, kMessage, "ends the voice's part of the page"),
      });
}
