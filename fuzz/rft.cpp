// Prerendered font files from arbitrary bytes: the index, the entry view and
// the image loaders behind the glyph generator. Input: two bytes of
// character code (little-endian, as the renderer hands codes over), one
// byte of mode bits, then the file. Broken files must fail cleanly: no
// read outside the file or the entry, no crash, no glyph other than the
// two spaces from a file that cannot be read.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "files/MemoryFile.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Jpg.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"
#include "text/GlyphGenerator.h"
#include "text/RftFile.h"

namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;

// Serves the input as the one font file "Fuzz_16.rft".
class CFuzzFile : public CMemoryFile {
 public:
  CFuzzFile() : CMemoryFile(g_data, g_size) {}
  bool Open(const char* name) override { return std::strcmp(name, "Fuzz_16.rft") != 0; }
};

class CFuzzFileFactory : public CFileFactory {
 public:
  CFile* Create() override { return new CFuzzFile(); }
};

CGraphicLoaders& Loaders() {
  static CFuzzFileFactory factory;
  static CGraphicLoaders* loaders = [] {
    auto* l = new CGraphicLoaders(&factory);
    (void)l->AddLoader(new CPng());
    (void)l->AddLoader(new CJpg());
    CGraphicLoaders::SetGlobal(l);
    return l;
  }();
  return *loaders;
}

void Touch(ISurface* image) {
  if (!image) return;
  volatile uint8_t sink = 0;
  const int bytes = image->GetWidth() * image->GetBytesPerPixel();
  for (int y = 0; y < image->GetHeight() && bytes > 0; ++y) sink = sink ^ image->GetLine(y)[bytes - 1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  Loaders();
  const uint16_t code = uint16_t(data[0] | data[1] << 8);
  const uint8_t mode = data[2];
  g_data = data + 3;
  g_size = size - 3;

  // The view on its own, with seeks and reads the mode chooses.
  CRftFile view;
  if (!view.OpenGlyph("Fuzz_16", CGlyphGenerator::ToBigEndian(code))) {
    const int entrySize = view.GetSize();
    uint8_t buffer[64];
    for (int step = 0; step < 4; ++step) {
      const int offset = int(int8_t(mode << (2 * step))) * 3;
      if (view.Seek(offset, step % 3) == 0) {
        const int at = view.Tell();
        if (at < 0 || at > entrySize) __builtin_trap();
      }
      const int got = view.Read(buffer, sizeof buffer);
      if (got < 0 || view.Tell() > entrySize) __builtin_trap();
    }
  }

  CSurfaceFactory factory;
  CGlyphGenerator generator;
  if (generator.SelectFont(true, "Fuzz", 16, mode & 1, mode & 2, false, false)) __builtin_trap();
  generator.SetOutline(mode & 4);
  ISurfaceFactory* surfaces = (mode & 8) ? &factory : nullptr;
  Touch(generator.MakeGlyph(code, surfaces));
  Touch(generator.GetGlyph(code, surfaces, 0x123456));
  // The half-width space has no index entry: it always has an image.
  if (!generator.MakeGlyph(0x20, surfaces)) __builtin_trap();
  return 0;
}
