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

// Ogg Vorbis is decoded by libvorbis (through libvorbisfile), which the decoder reaches as a
// custom backend (miniaudio_libvorbis.h). miniaudio's built-in Vorbis support would use stb_vorbis,
// whose header parser overruns and leaks on corrupt files, so it is left out.
#define MA_NO_VORBIS

#include <miniaudio.h>
#include <miniaudio_libvorbis.h>

// Lets a decoder built from `config` reach Ogg Vorbis through libvorbis, from memory or through
// read and seek callbacks (a file); streams of no or more than 32 channels are refused. Any thread.
void useVorbisBackend(ma_decoder_config& config);
