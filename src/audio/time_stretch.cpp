#include "audio/time_stretch.hpp"

#include "audio/audio_decode.hpp"

#include <SoundTouch.h>

#include <algorithm>
#include <cmath>

namespace {

// Silence run through at setSpeed: source frames per put, and puts. One large put grows the
// stretcher's input and output queues well past what the owner's small feeds and takes ever hold
// (about one sequence and a seek window, plus a feed), so they never grow again on the audio thread.
constexpr unsigned kPrimeFrames = 8192;
constexpr unsigned kPrimePuts = 3;

} // namespace

TimeStretch::TimeStretch()
    : touch_(std::make_unique<soundtouch::SoundTouch>()), input_(new float[kFeedFrames * 2]()),
      output_(new float[kMaxOutFrames * 2]()) {
    touch_->setSampleRate(kEngineSampleRate);
    touch_->setChannels(2);
    // The pitch is never shifted, so the rate transposer runs at 1: its anti-alias filter would only
    // add delay and work.
    touch_->setSetting(SETTING_USE_AA_FILTER, 0);
    touch_->setSetting(SETTING_USE_QUICKSEEK, 0);
    touch_->setSetting(SETTING_SEQUENCE_MS, kSequenceMs);
    touch_->setSetting(SETTING_SEEKWINDOW_MS, kSeekWindowMs);
    touch_->setSetting(SETTING_OVERLAP_MS, kOverlapMs);
}

TimeStretch::~TimeStretch() = default;

bool TimeStretch::setSpeed(double speed) {
    if (!std::isfinite(speed) || speed < 0.5 || speed > 1.0) {
        return false;
    }
    speed_ = speed;
    touch_->setTempo(speed);
    const double sequence = touch_->getSetting(SETTING_NOMINAL_OUTPUT_SEQUENCE);
    const double overlap = kOverlapMs * kEngineSampleRate / 1000.0;
    lead_ = (sequence * (1.0 - speed / 2.0) + overlap / 2.0) * (1.0 - speed);
    std::unique_ptr<float[]> silence(new float[kPrimeFrames * 2]());
    for (unsigned i = 0; i < kPrimePuts; ++i) {
        touch_->putSamples(silence.get(), kPrimeFrames);
        while (touch_->receiveSamples(output_.get(), kMaxOutFrames) > 0) {
        }
    }
    clear(0);
    return true;
}

void TimeStretch::clear(std::uint64_t sourceFrame) {
    touch_->clear();
    start_ = sourceFrame;
    framesOut_ = 0;
}

void TimeStretch::feed(unsigned frames) { touch_->putSamples(input_.get(), std::min(frames, kFeedFrames)); }

unsigned TimeStretch::ready() const { return touch_->numSamples(); }

unsigned TimeStretch::addTo(float* out, unsigned frames) {
    const unsigned got = touch_->receiveSamples(output_.get(), std::min(frames, kMaxOutFrames));
    for (unsigned i = 0; i < got * 2; ++i) {
        out[i] += output_[i];
    }
    framesOut_ += got;
    return got;
}

double TimeStretch::sourcePosition() const {
    const double n = double(framesOut_);
    return double(start_) + std::min(n, n * speed_ + lead_);
}
