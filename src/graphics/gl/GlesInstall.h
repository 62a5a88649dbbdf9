// Puts the GPU renderer ahead of software in every graphic system made from
// now on (unless software is forced), and lets `-renderer gles` start it on a
// software rasterizer.
#pragma once

class CGraphicSystem;
class CGlesRenderer;

void RegisterGlesRenderer();
// The GPU renderer of a graphic system when it is the active one, else none.
CGlesRenderer* GetActiveGlesRenderer(const CGraphicSystem& graphics);
