// Prerendered fonts: build a .rft file from a system font with the engine's
// own glyph generator, list one, extract its images; and render a line of
// text with given font settings to a PNG.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ToolCommand.h"
#include "graphics/PngWriter.h"
#include "graphics/Surface.h"
#include "platform/FontBackend.h"
#include "platform/TextCodec.h"
#include "text/GlyphGenerator.h"
#include "text/RftFile.h"
#include "text/RftWriter.h"

namespace {

int Fail(const char* command, const std::string& message) {
  std::fprintf(stderr, "velmira-tool %s: %s\n", command, message.c_str());
  return 1;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return true;
  in.seekg(0);
  out.resize(size_t(size));
  return !in.read(reinterpret_cast<char*>(out.data()), size);
}

// True on failure; a file that could not be written whole is removed.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  if (!out) return true;
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  out.close();
  if (out) return false;
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) std::filesystem::remove(path, ec);
  return true;
}

// A character of the index as UTF-8, for listings ("" when it is none).
std::string CharacterText(uint16_t code) {
  std::string bytes;
  if (code > 0xFF) bytes += char(code >> 8);
  bytes += char(code & 0xFF);
  uint32_t unused = 0;
  if (platform::ConvertCp932CharToUnicode(code, unused)) return "";
  return platform::ConvertCp932ToUtf8(bytes);
}

const char* ImageExtension(const std::vector<uint8_t>& bytes, uint32_t offset, uint32_t size) {
  if (size >= 8 && std::memcmp(bytes.data() + offset, "\x89PNG", 4) == 0) return "png";
  if (size >= 3 && bytes[offset] == 0xFF && bytes[offset + 1] == 0xD8) return "jpg";
  return "bin";
}

struct SFontOptions {
  std::string faceUtf8;
  int size = 24;
  bool bold = false, italic = false, underline = false, strikeout = false;
};

// Reads a font option at argv[i]; true when argv[i] is not one.
bool FontOption(int argc, char** argv, int& i, SFontOptions& font, std::string& error) {
  const std::string arg = argv[i];
  if (arg == "--face" || arg == "--size") {
    if (i + 1 >= argc) {
      error = arg + " needs a value";
      return false;
    }
    const char* value = argv[++i];
    if (arg == "--face") {
      font.faceUtf8 = value;
    } else {
      char* end = nullptr;
      const long size = std::strtol(value, &end, 10);
      if (!*value || *end || size < 1 || size > 255) error = "--size takes 1 to 255";
      font.size = int(size);
    }
    return false;
  }
  if (arg == "--bold") return font.bold = true, false;
  if (arg == "--italic") return font.italic = true, false;
  if (arg == "--underline") return font.underline = true, false;
  if (arg == "--strikeout") return font.strikeout = true, false;
  return true;
}

int Build(int argc, char** argv) {
  const char* usage = "usage: velmira-tool rft build --face FACE --size N [--bold] [--italic] [--rft2] OUT.rft";
  SFontOptions font;
  bool rft2 = false;
  std::string out, error;
  for (int i = 2; i < argc; ++i) {
    if (!FontOption(argc, argv, i, font, error)) {
      if (!error.empty()) return Fail("rft build", error + "\n" + usage);
      continue;
    }
    if (!std::strcmp(argv[i], "--rft2")) {
      rft2 = true;
    } else if (argv[i][0] == '-' || !out.empty()) {
      return Fail("rft build", std::string("unexpected argument '") + argv[i] + "'\n" + usage);
    } else {
      out = argv[i];
    }
  }
  if (font.faceUtf8.empty() || out.empty()) return Fail("rft build", usage);
  if (platform::InitFontBackend()) return Fail("rft build", "the font system (FreeType) could not start");
  const std::string face = platform::ConvertUtf8ToCp932(font.faceUtf8);
  platform::FontFaceInfo info;
  if (platform::GetFontBackend()->DescribeFace(face, info))
    return Fail("rft build", "no installed font can stand in for '" + font.faceUtf8 + "'");
  if (info.fallback)
    std::fprintf(stderr, "velmira-tool rft build: '%s' is not installed; using %s\n", font.faceUtf8.c_str(),
                 info.familyUtf8.c_str());

  CGlyphGenerator generator;
  if (generator.SelectFont(false, face, font.size, font.bold, font.italic, font.underline, font.strikeout))
    return Fail("rft build", "cannot select the font");
  CRftWriter writer(rft2 ? '2' : '1');
  const int made = RenderRftImages(generator, writer);
  std::vector<uint8_t> bytes;
  if (writer.Finish(bytes)) return Fail("rft build", "the font is too large for a .rft file");
  if (WriteFile(out, bytes)) return Fail("rft build", "cannot write " + out);
  std::printf("%s: %d of %d codes have a glyph (%s, %s, size %d), %zu bytes\n", out.c_str(), made,
              CRftFile::IndexEntryCount(writer.GetVersion()), info.familyUtf8.c_str(), info.filePath.c_str(),
              generator.GetSize(), bytes.size());
  platform::ShutdownFontBackend();
  return 0;
}

int LoadIndex(const char* command, const std::string& path, std::vector<uint8_t>& bytes, char& version,
              std::vector<CRftFile::SIndexEntry>& entries) {
  if (ReadFile(path, bytes)) return Fail(command, "cannot read " + path);
  bool shortIndex = false;
  if (CRftFile::ReadIndex(bytes, version, entries, shortIndex))
    return Fail(command, path + " is no prerendered font (magic rft0, rft1 or rft2)");
  if (shortIndex)
    std::fprintf(stderr, "velmira-tool %s: warning: %s ends inside its index (%zu of %d entries)\n", command,
                 path.c_str(), entries.size(), CRftFile::IndexEntryCount(version));
  return 0;
}

int List(int argc, char** argv) {
  if (argc != 3) return Fail("rft list", "usage: velmira-tool rft list FILE.rft");
  std::vector<uint8_t> bytes;
  std::vector<CRftFile::SIndexEntry> entries;
  char version = 0;
  if (int failed = LoadIndex("rft list", argv[2], bytes, version, entries)) return failed;
  std::printf("rft%c, %zu bytes\n", version, bytes.size());
  int images = 0, outside = 0;
  for (const auto& entry : entries) {
    if (entry.size == 0) continue;
    ++images;
    outside += entry.outside;
    std::printf("%04X %s offset %u size %u%s\n", entry.code, CharacterText(entry.code).c_str(), entry.offset,
                entry.size, entry.outside ? " OUTSIDE THE FILE" : "");
  }
  std::printf("%d images", images);
  if (outside) std::printf(", %d entries outside the file", outside);
  std::printf("\n");
  return outside ? 1 : 0;
}

int Extract(int argc, char** argv) {
  if (argc != 4) return Fail("rft extract", "usage: velmira-tool rft extract FILE.rft DIR");
  std::vector<uint8_t> bytes;
  std::vector<CRftFile::SIndexEntry> entries;
  char version = 0;
  if (int failed = LoadIndex("rft extract", argv[2], bytes, version, entries)) return failed;
  std::error_code ec;
  std::filesystem::create_directories(argv[3], ec);
  int written = 0, skipped = 0;
  for (const auto& entry : entries) {
    if (entry.size == 0) continue;
    if (entry.outside) {
      ++skipped;
      continue;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%04X.%s", entry.code, ImageExtension(bytes, entry.offset, entry.size));
    const std::vector<uint8_t> image(bytes.begin() + entry.offset, bytes.begin() + entry.offset + entry.size);
    if (WriteFile((std::filesystem::path(argv[3]) / name).string(), image))
      return Fail("rft extract", std::string("cannot write ") + name);
    ++written;
  }
  std::printf("%d images written to %s", written, argv[3]);
  if (skipped) std::printf(", %d entries outside the file skipped", skipped);
  std::printf("\n");
  return skipped ? 1 : 0;
}

int RftCommand(int argc, char** argv) {
  if (argc >= 2 && !std::strcmp(argv[1], "build")) return Build(argc, argv);
  if (argc >= 2 && !std::strcmp(argv[1], "list")) return List(argc, argv);
  if (argc >= 2 && !std::strcmp(argv[1], "extract")) return Extract(argc, argv);
  return Fail("rft", "usage: velmira-tool rft build|list|extract ...");
}

// Copies a 32-bit straight-alpha image over the target at (x, y) with the
// "over" operator.
void Blend(CSurface& target, ISurface* image, int x0, int y0) {
  for (int y = 0; y < image->GetHeight(); ++y) {
    const uint8_t* src = image->GetLine(y);
    uint8_t* dst = target.GetLine(y0 + y);
    if (!src || !dst) continue;
    for (int x = 0; x < image->GetWidth(); ++x) {
      const int tx = x0 + x;
      if (tx < 0 || tx >= target.GetWidth()) continue;
      const uint8_t* s = src + 4 * x;
      uint8_t* d = dst + 4 * tx;
      const int sa = image->GetFormat() == ISurface::PIXEL_BITS_32 ? 255 : s[3];
      const int da = d[3];
      const int outA = sa + da * (255 - sa) / 255;
      if (outA == 0) continue;
      for (int c = 0; c < 3; ++c) d[c] = uint8_t((s[c] * sa + d[c] * da * (255 - sa) / 255) / outA);
      d[3] = uint8_t(outA);
    }
  }
}

int Text(int argc, char** argv) {
  const char* usage =
      "usage: velmira-tool text --face FACE --size N [--bold] [--italic] [--color RRGGBB] [--outline RRGGBB] "
      "[--rendered] -o OUT.png TEXT";
  SFontOptions font;
  font.faceUtf8 = "ＭＳ ゴシック";
  uint32_t colour = 0xFFFFFF, outlineColour = 0;
  bool outline = false, rendered = false;
  std::string out, text, error;
  bool haveText = false;
  for (int i = 1; i < argc; ++i) {
    if (!FontOption(argc, argv, i, font, error)) {
      if (!error.empty()) return Fail("text", error + "\n" + usage);
      continue;
    }
    const std::string arg = argv[i];
    if ((arg == "--color" || arg == "--outline" || arg == "-o") && i + 1 >= argc)
      return Fail("text", arg + " needs a value\n" + usage);
    if (arg == "--color") {
      colour = uint32_t(std::strtoul(argv[++i], nullptr, 16)) & 0xFFFFFF;
    } else if (arg == "--outline") {
      outline = true;
      outlineColour = uint32_t(std::strtoul(argv[++i], nullptr, 16)) & 0xFFFFFF;
    } else if (arg == "--rendered") {
      rendered = true;
    } else if (arg == "-o") {
      out = argv[++i];
    } else if (!haveText) {
      text = arg;
      haveText = true;
    } else {
      return Fail("text", "unexpected argument '" + arg + "'\n" + usage);
    }
  }
  if (out.empty() || !haveText) return Fail("text", usage);
  if (!rendered && platform::InitFontBackend()) return Fail("text", "the font system (FreeType) could not start");
  const std::string face = platform::ConvertUtf8ToCp932(font.faceUtf8);
  const std::string cp932 = platform::ConvertUtf8ToCp932(text);

  CGlyphGenerator generator;
  if (generator.SelectFont(rendered, face, font.size, font.bold, font.italic, font.underline, font.strikeout))
    return Fail("text", "cannot select the font");
  // Left to right with each glyph's advance, one line, no line breaking.
  struct SPlaced {
    ISurface* main;
    ISurface* outline;
    int x;
  };
  std::vector<SPlaced> placed;
  const int offset = outline ? 1 : 0;
  int x = 0, height = generator.GetSize() + 2 * offset;
  for (size_t i = 0; i < cp932.size();) {
    const uint8_t lead = uint8_t(cp932[i]);
    const bool pair = ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC)) && i + 1 < cp932.size();
    const uint16_t code = pair ? uint16_t(lead | uint8_t(cp932[i + 1]) << 8) : lead;
    i += pair ? 2 : 1;
    generator.SetOutline(false);
    ISurface* main = generator.GetGlyph(code, nullptr, colour);
    ISurface* border = nullptr;
    if (outline) {
      generator.SetOutline(true);
      border = generator.GetGlyph(code, nullptr, outlineColour);
    }
    if (!main) continue;
    placed.push_back({main, border, x});
    height = std::max(height, main->GetHeight() + 2 * offset);
    x += main->GetWidth();
  }
  CSurface image;
  if (image.Create(std::max(x + 2 * offset, 1), height, ISurface::PIXEL_BITS_32A))
    return Fail("text", "image too large");
  image.Clear();
  for (const SPlaced& p : placed) {
    if (p.outline) Blend(image, p.outline, p.x, 0);
    Blend(image, p.main, p.x + offset, offset);
  }
  std::vector<uint8_t> png;
  if (EncodePng(&image, png) || WriteFile(out, png)) return Fail("text", "cannot write " + out);
  std::printf("%s: %dx%d, %zu glyphs\n", out.c_str(), image.GetWidth(), image.GetHeight(), placed.size());
  platform::ShutdownFontBackend();
  return 0;
}

}  // namespace

VELMIRA_TOOL_COMMAND(rft,
                     "rft build --face FACE --size N [--bold] [--italic] [--underline] [--strikeout] [--rft2] OUT "
                     "| rft list FILE | rft extract FILE DIR  prerendered fonts",
                     RftCommand);
VELMIRA_TOOL_COMMAND(text,
                     "text [--face FACE] [--size N] [--bold] [--italic] [--underline] [--strikeout] [--color RRGGBB] "
                     "[--outline RRGGBB] [--rendered] -o OUT.png TEXT  render one line of text",
                     Text);
