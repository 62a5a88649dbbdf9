#include "graphics/GraphicLoader.h"

#include "files/File.h"
#include "files/FileName.h"
#include "graphics/Surface.h"

namespace {
CGraphicLoaders* g_globalLoaders = nullptr;
}

CGraphicLoaders* CGraphicLoaders::GetGlobal() { return g_globalLoaders; }
void CGraphicLoaders::SetGlobal(CGraphicLoaders* loaders) { g_globalLoaders = loaders; }

bool CGraphicLoaders::AddLoader(IGraphicLoader* loader) {
  if (!loader) return true;
  for (const auto& known : m_loaders)
    if (known.get() == loader) return false;
  m_loaders.emplace_back(loader);
  return false;
}

bool CGraphicLoaders::TryLoad(IGraphicLoader* loader, ISurface* target, CFile* file, int start) {
  // Every attempt starts where the file stood on entry: a loader that gave
  // up after reading a few bytes must not leave the next one mid-file.
  if (file->Seek(start, 0) != 0) return true;
  return loader->Load(target, file);
}

bool CGraphicLoaders::Load(ISurface* target, CFile* file) {
  if (!target || !file) return true;
  const int start = file->Tell();
  if (start < 0) return true;
  for (const auto& loader : m_loaders)
    if (!TryLoad(loader.get(), target, file, start)) return false;
  return true;
}

bool CGraphicLoaders::LoadFile(ISurface* target, const char* name) {
  if (!target || !name || !m_fileFactory) return true;
  std::unique_ptr<CFile> file(m_fileFactory->Create());
  if (!file) return true;

  if (!file->Open(name)) {
    const std::string ext = CFileName(name).GetExtension();
    if (!ext.empty()) {
      for (const auto& loader : m_loaders)
        if (loader->GetExtension() == ext && !TryLoad(loader.get(), target, file.get(), 0)) return false;
    }
    for (const auto& loader : m_loaders)
      if (!TryLoad(loader.get(), target, file.get(), 0)) return false;
    file->Close();
  }

  for (const auto& loader : m_loaders) {
    const std::string withExt = std::string(name) + "." + loader->GetExtension();
    if (file->Open(withExt.c_str())) continue;
    const bool failed = TryLoad(loader.get(), target, file.get(), 0);
    file->Close();
    if (!failed) return false;
  }
  return true;
}
