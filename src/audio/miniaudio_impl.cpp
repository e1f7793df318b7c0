// miniaudio's implementation, and that of its libvorbis data source, compiled once.
#define MINIAUDIO_IMPLEMENTATION
#include "audio/miniaudio_config.hpp"
