#pragma once
// The one place that configures miniaudio: every file that includes miniaudio must include it
// through here so that the declarations match the implementation compiled in miniaudio_impl.cpp.
// Only miniaudio's decoders and resampler are used; output goes through SDL, so miniaudio's own
// device, engine and node graph are left out.
#define MA_NO_DEVICE_IO
#define MA_NO_ENGINE
#define MA_NO_RESOURCE_MANAGER
#define MA_NO_NODE_GRAPH
#define MA_NO_GENERATION
#define MA_NO_ENCODING

// Ogg Vorbis comes from stb_vorbis (Debian's libstb); declaring it before miniaudio turns on
// miniaudio's Vorbis decoder.
#define STB_VORBIS_HEADER_ONLY
#include <stb_vorbis.h>

#include <miniaudio.h>
