// The DeckLink renderer.
#pragma once

#include "renderer/renderer_backend.h"

class CCoOXRendererBMD : public CRendererBackend<CCoOXRendererBMD> {};
