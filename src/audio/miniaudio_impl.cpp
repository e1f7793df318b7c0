// miniaudio's implementation, and that of its libvorbis data source, compiled once.
#define MINIAUDIO_IMPLEMENTATION
#include "audio/miniaudio_config.hpp"

namespace {

ma_dr_flac* flacOf(const ma_decoder& decoder) {
    if (decoder.pBackendVTable != &g_ma_decoding_backend_vtable_flac || decoder.pBackend == nullptr) {
        return nullptr;
    }
    return static_cast<const ma_flac*>(decoder.pBackend)->dr;
}

} // namespace

bool flacFramePlace(const ma_decoder& decoder, FlacFramePlace& place) {
    const ma_dr_flac* flac = flacOf(decoder);
    if (flac == nullptr) {
        return false;
    }
    // A fixed-size stream numbers its frames in their headers, a variable-size one its samples.
    const auto& header = flac->currentFLACFrame.header;
    place.first = header.pcmFrameNumber;
    if (place.first == 0) {
        place.first = uint64_t(header.flacFrameNumber) * flac->maxBlockSizeInPCMFrames;
    }
    place.size = header.blockSizeInPCMFrames;
    place.remaining = flac->currentFLACFrame.pcmFramesRemaining;
    return true;
}

void flacRewindFrame(ma_decoder& decoder) {
    FlacFramePlace place;
    if (flacFramePlace(decoder, place)) {
        ma_dr_flac* flac = flacOf(decoder);
        flac->currentFLACFrame.pcmFramesRemaining = flac->currentFLACFrame.header.blockSizeInPCMFrames;
        flac->currentPCMFrame = place.first;
    }
}
