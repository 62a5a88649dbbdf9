// Image loaders decode an open file into a surface. CGraphicLoaders is the
// registry: it opens a name through the file factory and hands the file to
// the loader that fits.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CFile;
class CFileFactory;
class ISurface;

class IGraphicLoader {
 public:
  virtual ~IGraphicLoader() = default;
  // The file name extension the loader handles ("png", "jpg"), or "".
  virtual std::string GetExtension() const = 0;
  // Creates the target with the image's size and format and fills it.
  // Reads from the file's current position. Returns true on failure.
  virtual bool Load(ISurface* target, CFile* file) = 0;
};

class CGraphicLoaders : public IGraphicLoader {
 public:
  // The file factory is not owned.
  explicit CGraphicLoaders(CFileFactory* fileFactory) : m_fileFactory(fileFactory) {}
  CGraphicLoaders(const CGraphicLoaders&) = delete;
  CGraphicLoaders& operator=(const CGraphicLoaders&) = delete;

  std::string GetExtension() const override { return ""; }
  // Tries every loader in registration order, each from the position the
  // file had on entry; false at the first success.
  bool Load(ISurface* target, CFile* file) override;

  // Takes ownership when the loader is appended. True for a missing loader;
  // false with nothing changed when it is already registered (the caller
  // keeps it then).
  virtual bool AddLoader(IGraphicLoader* loader);
  // Opens name and decodes it: first by the loaders of its extension, then
  // by every loader, then as name + "." + each loader's extension in turn
  // (so "bg01" finds bg01.png before bg01.jpg). Returns true on failure.
  virtual bool LoadFile(ISurface* target, const char* name);

  CFileFactory* GetFileFactory() const { return m_fileFactory; }

  // The registry published for code that has no graphic system at hand
  // (none until the graphic system publishes one).
  static CGraphicLoaders* GetGlobal();
  static void SetGlobal(CGraphicLoaders* loaders);

 private:
  // Loads with one loader from the given start position.
  static bool TryLoad(IGraphicLoader* loader, ISurface* target, CFile* file, int start);

  CFileFactory* m_fileFactory;
  std::vector<std::unique_ptr<IGraphicLoader>> m_loaders;
};
