// Makes small test movies with the FFmpeg encoders: Motion JPEG pictures in
// an AVI file, optionally with 16-bit PCM sound. Each whole second of the
// movie has its own solid colour, so a test can tell from one pixel which
// second is on screen; the sound is silence with an optional square tone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MovieSpec {
  int width = 64;
  int height = 48;
  int fps = 10;
  int frames = 30;  // 0: a movie without pictures
  // 0xRRGGBB for second 0, 1, 2, ... (the last repeats).
  std::vector<uint32_t> colours = {0xFF0000, 0x00FF00, 0x0000FF};
  // Sound: sampleRate 0 for none.
  int sampleRate = 0;
  int channels = 2;
  int audioMs = 0;
  int toneStartMs = -1;  // a loud square wave from here ...
  int toneEndMs = -1;    // ... to here
  std::string container = "avi";
};

// Writes the movie to a native path; true on failure.
bool WriteMovie(const std::string& path, const MovieSpec& spec);
// The movie's bytes (empty on failure).
std::vector<uint8_t> MakeMovie(const MovieSpec& spec);
