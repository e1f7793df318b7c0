#pragma once
// Slows a stereo mix down without changing its pitch: a thin wrapper around SoundTouch's
// time-domain stretcher (WSOLA: the source is cut into overlapping sequences of kSequenceMs, each
// laid down at native speed and cross-faded into the next at the best-matching offset within
// kSeekWindowMs), for 44.1 kHz interleaved stereo float frames.
//
// Memory: every buffer is sized in setSpeed, which primes the stretcher (runs a burst of silence
// through it, larger than anything feed/addTo ask for later, then clears it). After that, feed,
// addTo and clear neither allocate nor block, so the audio thread may call them.
//
// Where the output stands in the source. The stretcher moves its input on by exactly `speed` source
// frames per output frame (fixed hops; only the join offset within the seek window depends on the
// sound), so the source position of output frame n after clear(s) is a straight line,
//     s + n × speed + lead,      lead = (S × (1 − speed / 2) + V / 2) × (1 − speed)
// where S is the output sequence length in frames (what one hop lays down) and V the overlap. Within
// a sequence the source plays at native speed, so a sound is first heard near the end of the first
// sequence that reaches it (on average S × (1 − speed / 2) source frames into it, or half way into
// the cross-fade after it): the lead centres the line on that first hearing. The first sequence
// after a clear is not stretched at all (it starts at s and plays at native speed), so until the
// line overtakes it the position is s + n: sourcePosition() = s + min(n, n × speed + lead).
// Measured with clicks laid over the default level's music (bench/stretch_bench.cpp), the line
// reads a click's time within 1 ms on average when the click comes out, 95 % of them within 6 ms
// and all within 8 ms, at 50 % and at 75 %.
//
// Threads: none of its own and no lock; the owner serialises every call (the engine holds its spin
// lock). setSpeed allocates: never on the audio thread.
#include <cstdint>
#include <memory>

namespace soundtouch {
class SoundTouch;
}

class TimeStretch {
public:
    // Source frames the owner mixes per feed() (the size of input()).
    static constexpr unsigned kFeedFrames = 256;
    // Output frames addTo may be asked for at once.
    static constexpr unsigned kMaxOutFrames = 1024;
    // The stretcher's settings: sequence, seek window and overlap, in milliseconds. At slow tempos
    // SoundTouch would choose sequences of up to 90 ms and a 20 ms seek window, smoother but with the
    // moments a beat is heard spread over some 45 ms around the line above; these keep it within 8 ms.
    static constexpr int kSequenceMs = 40;
    static constexpr int kSeekWindowMs = 10;
    static constexpr int kOverlapMs = 8;

    TimeStretch();
    ~TimeStretch();
    TimeStretch(const TimeStretch&) = delete;
    TimeStretch& operator=(const TimeStretch&) = delete;

    // Sets the tempo (output plays `speed` source seconds per second; 0.5..1.0, pitch unchanged),
    // sizes and primes every buffer, and clears to source frame 0. False, changing nothing, for a
    // speed outside that range. Allocates: not on the audio thread.
    bool setSpeed(double speed);
    double speed() const { return speed_; }

    // Forgets all buffered input and output: the next output frame is source frame `sourceFrame`.
    void clear(std::uint64_t sourceFrame);

    // kFeedFrames × 2 floats the owner mixes the next source frames into, then hands over with feed.
    float* input() { return input_.get(); }
    // Takes `frames` (≤ kFeedFrames) frames from input() into the stretcher, processing what it can.
    void feed(unsigned frames);

    // Output frames ready to be taken.
    unsigned ready() const;

    // Adds up to `frames` (≤ kMaxOutFrames) ready output frames to `out` (interleaved stereo) and
    // returns how many it added; the frames after them in `out` are left as they were.
    unsigned addTo(float* out, unsigned frames);

    // The source frame (fractional) of the next output frame, as the header describes.
    double sourcePosition() const;

    // Output frames taken since the last clear, and the lead above (source frames).
    std::uint64_t framesOut() const { return framesOut_; }
    double lead() const { return lead_; }

private:
    std::unique_ptr<soundtouch::SoundTouch> touch_;
    std::unique_ptr<float[]> input_;  // kFeedFrames stereo frames
    std::unique_ptr<float[]> output_; // kMaxOutFrames stereo frames
    double speed_ = 1.0;
    double lead_ = 0.0;
    std::uint64_t start_ = 0;     // source frame of the first output frame after the last clear
    std::uint64_t framesOut_ = 0; // output frames taken since the last clear
};
