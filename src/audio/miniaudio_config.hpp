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

// Where a FLAC decoder stands: its current frame, as that frame's header places it in the song.
struct FlacFramePlace {
    uint64_t first = 0;     // the song frame the current frame starts on
    uint64_t size = 0;      // its frames
    uint64_t remaining = 0; // of those, still to give (0: the next read decodes the next frame)
};
// Fills `place` for a decoder opened on a FLAC file with miniaudio's own FLAC backend; false for any
// other decoder. Any thread, on its own decoder.
bool flacFramePlace(const ma_decoder& decoder, FlacFramePlace& place);
// Makes the current frame, already decoded, give its frames again from its first, and sets the
// decoder's own count of frames given to that frame's place. That count is short after the decoder
// skipped a frame it could not decode, and its seeks start from it. Any thread, on its own decoder.
void flacRewindFrame(ma_decoder& decoder);
