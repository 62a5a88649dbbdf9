// Every image of the loader fuzz corpora, decoded straight into GL surfaces
// and drawn: a broken file fails cleanly, a good one uploads and draws
// without reading outside its rows.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "GlesHarness.h"
#include "files/MemoryFile.h"
#include "graphics/Jpg.h"
#include "graphics/Png.h"

namespace {

using ImageCorpus = CGlesFixture;

TEST_F(ImageCorpus, DecodesIntoGlSurfacesAndDraws) {
  CPng png;
  CJpg jpg;
  int files = 0, loaded = 0;
  for (const auto& [folder, loader] :
       {std::pair<const char*, IGraphicLoader*>{"png", &png}, std::pair<const char*, IGraphicLoader*>{"jpeg", &jpg}}) {
    const std::filesystem::path dir = std::filesystem::path(VELMIRA_TEST_DATA_DIR) / "../fuzz/corpus" / folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      CMemoryFile file(bytes.data(), bytes.size());
      CGlesSurface surface(gl.get());
      ++files;
      if (loader->Load(&surface, &file)) continue;
      ++loaded;
      CGlesLayer layer(gl.get());
      layer.SetSurface(&surface);
      layer.SetXScale(70000);
      DrawGl({&layer});
    }
  }
  EXPECT_GT(files, 0);
  EXPECT_GT(loaded, 0);
}

}  // namespace
