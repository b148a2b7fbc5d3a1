// The DeckLink renderer.
#pragma once

#include "backend/renderer_backend.h"

class CCoOXRendererBMD : public CRendererBackend<CCoOXRendererBMD> {};
