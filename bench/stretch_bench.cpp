// The practice mode's time stretch on the default level's mix (run from assets/, or give a level
// manifest): CPU of mixing at 100 %, 75 % and 50 % as a share of one core, the longest 1024-frame
// callback, heap allocations while mixing (there must be none), and how far the song clock is
// from clicks laid over the music when they come out of the stretcher.
//   cd assets && ../build/dev/bench/bench_stretch [levels/level.json]
#include "audio/audio_engine.hpp"
#include "audio/audio_system.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {
std::atomic<long> gAllocations{0};
}

// Every allocation of the process is counted; the bench reads the count around the mixing. GCC takes
// the replaced operators for the library's and warns that free does not match new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr double kRate = 44100.0;
constexpr unsigned kCallback = 1024;

double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Irregular clicks, 0.35 to 0.6 s apart, as a stereo float WAV of `seconds`.
std::vector<unsigned char> clickWav(double seconds, std::vector<double>& at) {
    const size_t frames = size_t(seconds * kRate);
    std::vector<float> samples(frames * 2, 0.0f);
    for (double t = 0.3; t < seconds - 0.1; t += 0.35 + 0.25 * std::fabs(std::sin(t * 13.0))) {
        at.push_back(std::ceil(t * kRate) / kRate);
        for (size_t k = 0; k < 88; ++k) {
            const float v = 0.5f * std::exp(-float(k) / 30.0f) * (k % 2 ? 1.0f : -1.0f);
            samples[(size_t(std::ceil(t * kRate)) + k) * 2] =
                samples[(size_t(std::ceil(t * kRate)) + k) * 2 + 1] = v;
        }
    }
    const uint32_t dataBytes = uint32_t(samples.size() * 4), frame = 8;
    const uint32_t header[] = {0x46464952,       36 + dataBytes, 0x45564157,    0x20746d66,        16,
                               3u | 2u * 65536u, 44100,          44100 * frame, frame | 32u << 16, 0x61746164,
                               dataBytes};
    std::vector<unsigned char> out(sizeof header + dataBytes);
    std::memcpy(out.data(), header, sizeof header);
    std::memcpy(out.data() + sizeof header, samples.data(), dataBytes);
    return out;
}

struct Mix {
    AudioEngine engine;
    AudioHandle group = 0;
};

// Starts every source in one group at `speed`, all audible, as the game's layers at full volume.
void start(Mix& mix, const std::vector<Wav*>& sources, double speed) {
    mix.engine.init(AudioBackend::NullDriver);
    mix.group = mix.engine.createVoiceGroup();
    mix.engine.setGroupSpeed(mix.group, speed);
    for (Wav* source : sources) {
        mix.engine.addVoiceToGroup(mix.group, mix.engine.play(*source, 1.0f, 0.0f, true));
    }
    mix.engine.setPause(mix.group, false);
}

void measureCpu(const std::vector<Wav*>& stems, double speed) {
    Mix mix;
    start(mix, stems, speed);
    std::vector<float> out(kCallback * 2);
    for (int i = 0; i < 44; ++i) {
        mix.engine.mix(out.data(), kCallback); // warm: the stretcher's first sequence
    }
    const unsigned callbacks = unsigned(60.0 * kRate / kCallback);
    std::vector<double> each(callbacks);
    const long allocationsBefore = gAllocations.load();
    const double begin = threadSeconds();
    for (unsigned i = 0; i < callbacks; ++i) {
        const double t0 = threadSeconds();
        mix.engine.mix(out.data(), kCallback);
        each[i] = threadSeconds() - t0;
    }
    const double cpu = threadSeconds() - begin;
    const long allocations = gAllocations.load() - allocationsBefore;
    std::sort(each.begin(), each.end());
    std::printf("speed %3.0f %%: %zu stems, 60 s of output mixed in %.3f s of CPU = %.2f %% of one core; "
                "%u-frame callback p50 %.3f p99 %.3f max %.3f ms; allocations while mixing: %ld\n",
                speed * 100, stems.size(), cpu, 100.0 * cpu / 60.0, kCallback, each[callbacks / 2] * 1000.0,
                each[callbacks * 99 / 100] * 1000.0, each.back() * 1000.0, allocations);
}

// The clicks alternate in sign every sample: at the top of the spectrum, where the music has next to
// nothing, so a second difference of the mix finds them.
void measureClicks(const std::vector<Wav*>& stems, Wav& clicks, const std::vector<double>& at, double speed) {
    Mix mix;
    std::vector<Wav*> all = stems;
    all.push_back(&clicks);
    start(mix, all, speed);
    std::vector<float> out(kMixBlockFrames * 2);
    std::vector<double> errors;
    double lastOnset = -1.0;
    float previous[2] = {0.0f, 0.0f};
    size_t next = 0;
    const double seconds = std::min(50.0, clicks.getLength() - 1.0);
    for (unsigned block = 0; block < unsigned(seconds / speed * kRate / kMixBlockFrames); ++block) {
        const double clock = mix.engine.getStreamTime(mix.group);
        mix.engine.mix(out.data(), kMixBlockFrames);
        for (unsigned j = 0; j < kMixBlockFrames; ++j) {
            const double time = clock + j * speed / kRate;
            const float curvature = std::fabs(out[j * 2] - 2.0f * previous[1] + previous[0]);
            previous[0] = previous[1];
            previous[1] = out[j * 2];
            if (curvature > 0.8f && time - lastOnset > 0.15) {
                lastOnset = time;
                while (next + 1 < at.size() && std::fabs(at[next + 1] - time) < std::fabs(at[next] - time)) {
                    ++next;
                }
                errors.push_back((time - at[next]) * 1000.0);
            }
        }
    }
    std::vector<double> magnitude(errors.size());
    double mean = 0.0;
    for (size_t i = 0; i < errors.size(); ++i) {
        magnitude[i] = std::fabs(errors[i]);
        mean += errors[i] / double(errors.size());
    }
    std::sort(magnitude.begin(), magnitude.end());
    if (magnitude.empty()) {
        std::printf("speed %3.0f %%: no click found\n", speed * 100);
        return;
    }
    std::printf(
        "speed %3.0f %%: %zu clicks over the music (of %zu laid): clock - click time when heard: mean "
        "%+.2f ms, |error| p50 %.2f p95 %.2f max %.2f ms\n",
        speed * 100, errors.size(),
        size_t(std::count_if(at.begin(), at.end(), [&](double t) { return t < seconds; })), mean,
        magnitude[magnitude.size() / 2], magnitude[magnitude.size() * 95 / 100], magnitude.back());
}

} // namespace

int main(int argc, char** argv) {
    const std::string manifest = argc > 1 ? argv[1] : "levels/level.json";
    std::ifstream in(manifest);
    const nlohmann::json level = nlohmann::json::parse(in, nullptr, false);
    if (level.is_discarded() || !level.contains("stems")) {
        std::fprintf(stderr, "bench_stretch: cannot read %s (run from assets/)\n", manifest.c_str());
        return 1;
    }
    const std::string folder = manifest.substr(0, manifest.find_last_of('/') + 1);
    std::vector<std::string> paths;
    for (const auto& stem : level["stems"]) {
        paths.push_back(folder + stem.value("file", ""));
    }
    AudioSystem audio;
    std::vector<DecodedStem> decoded = decodeStemFiles(audio, paths);
    std::vector<std::unique_ptr<Wav>> owned;
    std::vector<Wav*> stems;
    double length = 0.0;
    for (DecodedStem& stem : decoded) {
        if (stem.outcome == DecodedStem::Outcome::Decoded) {
            stem.source->setLooping(true);
            length = std::max(length, stem.source->getLength());
            stems.push_back(stem.source.get());
            owned.push_back(std::move(stem.source));
        }
    }
    if (stems.empty()) {
        std::fprintf(stderr, "bench_stretch: no stem of %s decoded\n", manifest.c_str());
        return 1;
    }
    for (const double speed : {1.0, 0.75, 0.5}) {
        measureCpu(stems, speed);
    }
    std::vector<double> at;
    const std::vector<unsigned char> bytes = clickWav(length, at);
    Wav clicks;
    clicks.loadMem(bytes.data(), bytes.size());
    for (const double speed : {0.75, 0.5}) {
        measureClicks(stems, clicks, at, speed);
    }
    return 0;
}
