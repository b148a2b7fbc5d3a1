// The AJA renderer.
#pragma once

#include "backend/renderer_backend.h"

class CCoOXRendererAJA : public CRendererBackend<CCoOXRendererAJA> {};
