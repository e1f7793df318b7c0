// miniaudio's implementation, compiled once. stb_vorbis itself is linked from libstb.
#define MINIAUDIO_IMPLEMENTATION
#include "audio/miniaudio_config.hpp"
