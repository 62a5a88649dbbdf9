// Decodes arbitrary bytes as a JPEG through the engine's loader, and through
// the loader registry. Broken input must fail cleanly: library errors become
// failure results, nothing is read outside the data and no image is
// allocated from a size the data cannot back.
#include <cstddef>
#include <cstdint>

#include "files/File.h"
#include "graphics/GraphicLoader.h"
#include "graphics/Jpg.h"
#include "files/MemoryFile.h"
#include "graphics/Png.h"
#include "graphics/Surface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemoryFile file(data, size);
  CSurface surface;
  if (!CJpg().Load(&surface, &file)) {
    const int bpp = surface.GetBytesPerPixel();
    volatile uint8_t sink = 0;
    for (int y = 0; y < surface.GetHeight(); ++y) sink = sink ^ surface.GetLine(y)[surface.GetWidth() * bpp - 1];
  }
  // The registry tries both loaders on the same file, each from the start.
  CFileFactory files;
  CGraphicLoaders loaders(&files);
  loaders.AddLoader(new CPng());
  loaders.AddLoader(new CJpg());
  CMemoryFile again(data, size);
  loaders.Load(&surface, &again);
  return 0;
}
