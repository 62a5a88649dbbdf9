// What the sound tags keep between tags: the two music players used in turn
// by cross-fades, the sound-effect channels by id, and the volume fade of
// each player (a tween in the process-wide registry).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "script/MainScript.h"
#include "script/TagRegistry.h"
#include "sound/Sound.h"
#include "sound/SoundPlayer.h"

class CFileFactory;
class CSoundLoaders;

class CSoundTagState : public CTagFamilyState {
 public:
  // One player with the sound it was opened with and its fade.
  struct CSlot {
    std::string name;  // "bgm.a", "bgm.b", "se.ID": logs and dumps
    std::string file;  // the file last opened on it
    bool loop = false;
    // Declared before the player so that the player (which may still point
    // at the decoder) goes first.
    std::unique_ptr<ISound> sound;
    std::unique_ptr<ISoundPlayer> player;
    int32_t fade = -1;  // tween handle, -1 for none
  };

  CSoundTagState();
  ~CSoundTagState() override;

  void OnEvent(CMainScript& script, ScriptEvent event) override;
  void OnFrame(CMainScript& script) override;
  bool HoldsAutoWait(CMainScript& script) override;

  // The music player that holds the current music.
  CSlot& CurrentMusic() { return m_bgm[m_bActive ? 1 : 0]; }
  // A channel exists and its player plays.
  bool IsChannelPlaying(const std::string& id);
  // One line per player: file, playing state, volume, loop, fade registered.
  std::string Dump();

  // Decodes a file; null (nothing reported) when it cannot be.
  std::unique_ptr<ISound> Decode(const std::string& file);
  bool IsFading(const CSlot& slot) const;
  // Puts a running fade at its end value (without its stop) and forgets it.
  void FinishFade(CSlot& slot);
  // A fade of the slot's volume from -> to over time ms; a fade-out stops
  // the player when it ends.
  void StartFade(CSlot& slot, int from, int to, int time, int ease, bool stopAtEnd);
  void Stop(CSlot& slot);
  // Closes the player before its sound goes.
  void FreeSound(CSlot& slot);
  // Opens the sound on the slot's player (the slot takes it); true on failure.
  bool Open(CSlot& slot, std::unique_ptr<ISound> sound, const std::string& file, bool isStatic);
  bool Play(CSlot& slot, bool loop);

  CSlot m_bgm[2];
  // False: player A holds the current music; true: player B.
  bool m_bActive = false;
  // Channels in ascending byte order of their ids, never removed.
  std::map<std::string, CSlot> m_channels;

 private:
  std::unique_ptr<CFileFactory> m_files;
  std::unique_ptr<CSoundLoaders> m_loaders;
};
