#include "sound/SoundTestUtil.h"

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/Audio.h"
#include "platform/Platform.h"

namespace soundtest {

std::shared_ptr<CFile> MemoryFile(std::vector<uint8_t> bytes) {
  return std::make_shared<CMemoryFile>(std::move(bytes));
}

void Append32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Append16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void AppendChunk(std::vector<uint8_t>& out, const char id[4], const std::vector<uint8_t>& body) {
  out.insert(out.end(), id, id + 4);
  Append32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

std::vector<uint8_t> MakeWave(const WaveSpec& shape) {
  std::vector<uint8_t> fmt;
  int block = shape.channels * shape.bits / 8;
  Append16(fmt, static_cast<uint16_t>(shape.formatTag));
  Append16(fmt, static_cast<uint16_t>(shape.channels));
  Append32(fmt, static_cast<uint32_t>(shape.rate));
  Append32(fmt, shape.bytesPerSecondOverride >= 0 ? static_cast<uint32_t>(shape.bytesPerSecondOverride)
                                                  : static_cast<uint32_t>(block * shape.rate));
  Append16(fmt, static_cast<uint16_t>(shape.blockAlignOverride >= 0 ? shape.blockAlignOverride : block));
  Append16(fmt, static_cast<uint16_t>(shape.bits));
  for (int i = 0; i < shape.fmtExtra; ++i) fmt.push_back(static_cast<uint8_t>(0xA0 + i));

  std::vector<uint8_t> body;
  body.insert(body.end(), {'W', 'A', 'V', 'E'});
  body.insert(body.end(), shape.beforeFmt.begin(), shape.beforeFmt.end());
  AppendChunk(body, "fmt ", fmt);
  body.insert(body.end(), shape.beforeData.begin(), shape.beforeData.end());
  body.insert(body.end(), {'d', 'a', 't', 'a'});
  Append32(body, shape.dataSizeOverride >= 0 ? static_cast<uint32_t>(shape.dataSizeOverride)
                                             : static_cast<uint32_t>(shape.pcm.size()));
  body.insert(body.end(), shape.pcm.begin(), shape.pcm.end());

  std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
  Append32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<uint8_t> ToBytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out;
  out.reserve(samples.size() * 2);
  for (int16_t s : samples) Append16(out, static_cast<uint16_t>(s));
  return out;
}

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> out(bytes.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
  }
  return out;
}

std::vector<int16_t> Pattern(int frames, int channels, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(-20000, 20000);
  std::vector<int16_t> out(static_cast<size_t>(frames) * channels);
  for (auto& s : out) s = static_cast<int16_t>(dist(rng));
  return out;
}

std::vector<int16_t> Sine(int frames, int channels, int rate, double hz, double amplitude) {
  std::vector<int16_t> out(static_cast<size_t>(frames) * channels);
  for (int i = 0; i < frames; ++i) {
    double v = amplitude * std::sin(2.0 * M_PI * hz * i / rate);
    for (int c = 0; c < channels; ++c) out[static_cast<size_t>(i) * channels + c] = static_cast<int16_t>(std::lrint(v));
  }
  return out;
}

std::vector<uint8_t> EncodeVorbis(const std::vector<int16_t>& samples, int channels, int rate, float quality) {
  std::vector<uint8_t> out;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
    vorbis_info_clear(&vi);
    return out;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block vb;
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 12345);

  auto emit = [&out](const ogg_page& page) {
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
  };
  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &codebooks);
  ogg_page page;
  while (ogg_stream_flush(&os, &page) != 0) emit(page);

  size_t frames = samples.size() / channels;
  size_t at = 0;
  bool eos = false;
  while (!eos) {
    size_t n = frames - at < 1024 ? frames - at : 1024;
    if (n == 0) {
      vorbis_analysis_wrote(&vd, 0);
    } else {
      float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
      for (size_t i = 0; i < n; ++i) {
        for (int c = 0; c < channels; ++c) buffer[c][i] = samples[(at + i) * channels + c] / 32768.0f;
      }
      vorbis_analysis_wrote(&vd, static_cast<int>(n));
      at += n;
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet)) {
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page) != 0) {
          emit(page);
          if (ogg_page_eos(&page)) eos = true;
        }
      }
    }
    if (n == 0 && !eos) {
      while (ogg_stream_flush(&os, &page) != 0) {
        emit(page);
        if (ogg_page_eos(&page)) eos = true;
      }
      eos = true;
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

std::vector<uint8_t> ReadAll(ISound& sound, int piece) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(static_cast<size_t>(piece));
  for (;;) {
    int n = sound.Read(buffer.data(), piece);
    if (n <= 0) break;
    out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  }
  return out;
}

CTempDir::CTempDir() {
  static int counter = 0;
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("velmira_sound_" + std::to_string(rd()) + "_" + std::to_string(++counter));
  std::filesystem::create_directories(path_);
}

CTempDir::~CTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void CTempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  std::ofstream f(path_ / name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

CNullOutput::CNullOutput(const std::string& dumpPath) : dumpPath_(dumpPath) {
  platform::AudioOptions options;
  options.backend = platform::AudioBackend::Null;
  options.dumpPath = dumpPath;
  failed_ = platform::AudioOpen(options);
  open_ = !failed_;
}

CNullOutput::~CNullOutput() {
  if (open_) platform::AudioClose();
}

void CNullOutput::Advance(uint32_t ms) {
  platform::SetVirtualTicks(platform::GetVirtualTicks() + (uint64_t{ms} << 10));
  platform::AudioPump();
}

std::vector<int16_t> CNullOutput::Finish() {
  if (open_) platform::AudioClose();
  open_ = false;
  std::vector<int16_t> samples;
  if (!dumpPath_.empty()) ReadDump(dumpPath_, samples);
  return samples;
}

bool ReadDump(const std::string& path, std::vector<int16_t>& samples) {
  std::ifstream f(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (bytes.size() < 44) return true;
  auto le32 = [&](size_t at) {
    return static_cast<uint32_t>(bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
                                 (static_cast<uint32_t>(bytes[at + 3]) << 24));
  };
  if (std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVEfmt ", 8) != 0) return true;
  if (le32(24) != 44100 || bytes[22] != 2 || bytes[34] != 16) return true;
  uint32_t dataBytes = le32(40);
  if (le32(4) != 36 + dataBytes || dataBytes != bytes.size() - 44) return true;
  samples = ToSamples(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()));
  return false;
}

}  // namespace soundtest
