// The AJA renderer.
#pragma once

#include "renderer/renderer_backend.h"

class CCoOXRendererAJA : public CRendererBackend<CCoOXRendererAJA> {};
