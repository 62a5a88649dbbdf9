// The sound loader registry: opens a name through a file factory and lets the
// registered loaders (in order) decode it.
#pragma once

#include <memory>
#include <vector>

#include "sound/Sound.h"

class CSoundLoaders : public ISoundLoader {
 public:
  // The factory is not owned and must outlive the registry.
  explicit CSoundLoaders(CFileFactory* factory) : factory_(factory) {}

  std::string GetExtension() override { return ""; }
  // Tries every loader in order on the file (each attempt from its start).
  bool Load(ISound** out, std::shared_ptr<CFile> file) override;
  // Takes ownership of the loader. True for a null loader; false (and no
  // change) when it is already registered.
  virtual bool AddLoader(ISoundLoader* loader);
  // Decodes the named sound: the name as given (loaders for its extension
  // first, then all), then the name with each loader's extension appended.
  virtual bool LoadFile(ISound** out, const char* name);

 private:
  bool Attempt(ISoundLoader& loader, ISound** out, const std::shared_ptr<CFile>& file);

  CFileFactory* factory_;
  std::vector<std::unique_ptr<ISoundLoader>> loaders_;
};
