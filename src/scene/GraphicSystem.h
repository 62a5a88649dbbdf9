// The owner of everything drawn: the renderer set with the layer and surface
// factories of the renderer that came up, the file factory and image
// loaders, and what is on screen.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/Platform.h"

class CGraphicRenderer;
class CGraphicLoaders;
class CFileFactory;
class ILayer;
class ILayerFactory;
class ISurface;
class ISurfaceFactory;

class CGraphicSystem {
 public:
  // window is the game window the renderer presents into (0: none).
  CGraphicSystem(platform::WindowHandle window, int sceneWidth, int sceneHeight);
  ~CGraphicSystem();
  CGraphicSystem(const CGraphicSystem&) = delete;
  CGraphicSystem& operator=(const CGraphicSystem&) = delete;

  // Per-frame update of widgets and message windows.
  void Update();
  // Draws the scene through the active renderer.
  void Render();
  // Alt+Enter: switches between window and full screen where the renderer allows it.
  void ToggleFullscreen();

  int GetWidth() const { return width_; }
  int GetHeight() const { return height_; }
  platform::WindowHandle GetWindow() const { return window_; }

  // False when no renderer started (nothing will be drawn).
  bool HasRenderer() const;
  CGraphicRenderer* GetRenderer() const { return renderer_.get(); }
  // Factories of the active renderer, for every layer and surface made.
  ILayerFactory* GetLayerFactory() const { return layerFactory_; }
  ISurfaceFactory* GetSurfaceFactory() const { return surfaceFactory_; }
  CFileFactory* GetFileFactory() const { return fileFactory_.get(); }
  CGraphicLoaders* GetLoaders() const { return loaders_.get(); }

  // Whether the command line ("fsr") or system.ini ([SYSTEM]
  // FORCE_SOFTWARE_RENDER) asks for the software renderer.
  static bool IsSoftwareRendererForced();
  // That choice, as made when this graphic system was built.
  bool IsSoftwareForced() const { return softwareForced_; }

  // Interim scene until layer sets exist: image layers by id, drawn in
  // ascending byte order of their ids. ShowImage loads the file (with or
  // without its extension) into a new layer at x, y, replacing a layer of
  // the same id; true when it cannot be loaded (the old layer then stays).
  bool ShowImage(const std::string& id, const std::string& file, int x, int y);
  // Removes the layer of that id; nothing when there is none.
  void HideImage(const std::string& id);
  ILayer* FindImage(const std::string& id) const;
  size_t GetImageCount() const { return images_.size(); }

 private:
  struct CImageLayer {
    std::unique_ptr<ISurface> surface;
    std::unique_ptr<ILayer> layer;
    ~CImageLayer();
  };

  platform::WindowHandle window_;
  int width_, height_;
  bool softwareForced_ = false;
  std::unique_ptr<CGraphicRenderer> renderer_;
  ILayerFactory* layerFactory_ = nullptr;
  ISurfaceFactory* surfaceFactory_ = nullptr;
  std::unique_ptr<CFileFactory> fileFactory_;
  std::unique_ptr<CGraphicLoaders> loaders_;
  std::map<std::string, CImageLayer> images_;
};
