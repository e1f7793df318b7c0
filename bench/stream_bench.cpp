// Streamed stems against stems decoded whole, in one run: resident memory and time to first sound
// for the default level and for a generated ten-minute level of eight Ogg Vorbis stems; the mixer's
// and the decoding thread's processor time for eight streamed stems mixed at the device's pace; and,
// with --play-minutes N, N minutes of the ten-minute level through the output device that
// SDL_AUDIO_DRIVER selects, counting underruns.
//
//   bench_stream [--assets DIR] [--pace-seconds S] [--play-minutes N] [--long-whole no]
//                [--level MANIFEST]
//
// --level measures the level at MANIFEST (a level.json, such as one vibrelle-level wrote) in place
// of the generated ten-minute one.
//
// Each load is measured in a child process of its own, so that one measurement's memory does not
// stay in the next one's resident set. Run from anywhere; DIR defaults to ./assets or the current
// folder when it holds levels/level.json.
#include "audio/audio_stream_feeder.hpp"
#include "audio/audio_system.hpp"
#include "level/level_manifest.hpp"

#include <SDL3/SDL.h>
#include <vorbis/vorbisenc.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kLongStems = 8;
constexpr double kLongSeconds = 600.0;

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double residentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atof(line.c_str() + 6) / 1024.0;
        }
    }
    return 0.0;
}

double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Encodes `seconds` of two slowly beating stereo tones (a pitch of its own per stem) as Ogg Vorbis
// at 44.1 kHz, quality 0.2 (about 1 MB a minute), into `path`.
bool writeOggStem(const std::string& path, double seconds, int stem) {
    std::ofstream out(path, std::ios::binary);
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 2, 44100, 0.2f) != 0) {
        return false;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state os;
    ogg_stream_init(&os, 1000 + stem);
    ogg_packet header, commentHeader, codeHeader;
    vorbis_analysis_headerout(&dsp, &comment, &header, &commentHeader, &codeHeader);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &commentHeader);
    ogg_stream_packetin(&os, &codeHeader);
    ogg_page page;
    while (ogg_stream_flush(&os, &page) != 0) {
        out.write(reinterpret_cast<char*>(page.header), page.header_len);
        out.write(reinterpret_cast<char*>(page.body), page.body_len);
    }
    const long frames = long(seconds * 44100);
    const double pitch = 110.0 * std::pow(2.0, stem / 12.0);
    long done = 0;
    bool eos = false;
    while (!eos) {
        const long n = std::min<long>(4096, frames - done);
        if (n > 0) {
            float** buffer = vorbis_analysis_buffer(&dsp, int(n));
            for (long i = 0; i < n; ++i) {
                const double t = double(done + i) / 44100.0;
                const double beat = 0.5 + 0.5 * std::sin(6.2831853 * 2.0 * t);
                buffer[0][i] = float(0.2 * beat * std::sin(6.2831853 * pitch * t));
                buffer[1][i] = float(0.2 * beat * std::sin(6.2831853 * pitch * 1.5 * t));
            }
            vorbis_analysis_wrote(&dsp, int(n));
            done += n;
        } else {
            vorbis_analysis_wrote(&dsp, 0);
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&dsp, &packet) != 0) {
                ogg_stream_packetin(&os, &packet);
                while (ogg_stream_pageout(&os, &page) != 0) {
                    out.write(reinterpret_cast<char*>(page.header), page.header_len);
                    out.write(reinterpret_cast<char*>(page.body), page.body_len);
                    eos = eos || ogg_page_eos(&page) != 0;
                }
            }
        }
        if (n <= 0 && !eos) {
            while (ogg_stream_flush(&os, &page) != 0) {
                out.write(reinterpret_cast<char*>(page.header), page.header_len);
                out.write(reinterpret_cast<char*>(page.body), page.body_len);
            }
            eos = true;
        }
    }
    ogg_stream_clear(&os);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return bool(out);
}

// The ten-minute level: eight stems and a level.json, in `folder`. One stem is encoded and copied
// (encoding takes minutes; every stem is decoded on its own as it plays all the same).
bool makeLongLevel(const fs::path& folder) {
    std::string manifest = "{\"bpm\": 120, \"stems\": [";
    for (int i = 0; i < kLongStems; ++i) {
        const std::string name = "stem" + std::to_string(i) + ".ogg";
        if (i == 0 ? !writeOggStem((folder / name).string(), kLongSeconds, i)
                   : !fs::copy_file(folder / "stem0.ogg", folder / name)) {
            return false;
        }
        manifest += std::string(i ? ", " : "") + "{\"file\": \"" + name + "\"}";
    }
    std::ofstream(folder / "level.json") << manifest << "]}";
    return true;
}

struct LoadFigures {
    bool loaded = false;
    int stems = 0;
    double rssMb = 0.0;           // resident memory added by the loaded, playing level
    double readMs = 0.0;          // readLevel: the manifest, the charts and the stems opened or decoded
    double firstSoundMs = 0.0;    // from the start request to the first mixed frame of its stems
    double firstSoundCpuMs = 0.0; // processor time (all threads) spent meanwhile
    double perStemDecodedMb = 0.0;
    double compressedMb = 0.0;
};

// Loads the level at `manifest` as the game does (readLevel), starts it on the null driver and mixes
// until its stems sound; then mixes two seconds more and reads the resident set. In this process.
LoadFigures measureLoad(const std::string& manifest, StemDecoding decoding) {
    LoadFigures figures;
    setDefaultStemDecoding(decoding);
    AudioSystem audio;
    std::string ignored;
    FILE* quiet = std::freopen("/dev/null", "w", stdout);
    (void)quiet;
    audioInit(audio, AudioBackend::NullDriver);
    const double before = residentMb();
    const double cpuStart = processCpuMs();
    const auto start = Clock::now();
    StagedLevel staged;
    if (!readLevel(manifest, true, staged) || staged.stems.empty()) {
        return figures;
    }
    figures.readMs = msSince(start);
    audio.stems = std::move(staged.stems);
    playAllStems(audio);
    for (LoadedStem& stem : audio.stems) {
        stem.active = true;
        stem.volume = 1.0f;
    }
    updateStemVolumes(audio, 0.0f);
    std::vector<float> block(size_t(kMixBlockFrames) * 2);
    while (audio.engine->firstSoundNs(audio.voiceGroup) == 0 && msSince(start) < 60000.0) {
        audio.engine->mix(block.data(), kMixBlockFrames);
    }
    figures.firstSoundMs = msSince(start);
    figures.firstSoundCpuMs = processCpuMs() - cpuStart;
    for (int i = 0; i < int(2 * kEngineSampleRate / kMixBlockFrames); ++i) {
        audio.engine->mix(block.data(), kMixBlockFrames);
    }
    figures.loaded = true;
    figures.stems = int(audio.stems.size());
    figures.rssMb = residentMb() - before;
    for (const LoadedStem& stem : audio.stems) {
        const double decoded = stem.stream
                                   ? double(stem.stream->decodedBytes())
                                   : double(stem.source->frameCount() * stem.source->channelCount() * 4);
        figures.perStemDecodedMb = std::max(figures.perStemDecodedMb, decoded / (1 << 20));
        figures.compressedMb += stem.stream ? double(stem.stream->compressedBytes()) / (1 << 20) : 0.0;
    }
    audioShutdown(audio);
    return figures;
}

// measureLoad in a child process; the figures come back through a pipe.
LoadFigures measureInChild(const std::string& manifest, StemDecoding decoding) {
    int fds[2];
    if (pipe(fds) != 0) {
        return {};
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const LoadFigures figures = measureLoad(manifest, decoding);
        const ssize_t written = write(fds[1], &figures, sizeof figures);
        _exit(written == ssize_t(sizeof figures) ? 0 : 1);
    }
    close(fds[1]);
    LoadFigures figures;
    if (read(fds[0], &figures, sizeof figures) != ssize_t(sizeof figures)) {
        figures = LoadFigures{};
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return figures;
}

void printLoad(const char* level, const char* mode, const LoadFigures& f) {
    if (!f.loaded) {
        std::printf(
            "%-22s %-9s refused (see the loader's error: the level's decoded audio is over its cap)\n", level,
            mode);
        return;
    }
    std::printf("%-20s %-8s %d stems  RSS +%7.1f MB  first sound %8.1f ms (read %8.1f ms, CPU %8.1f ms)  "
                "decoded/stem %6.2f MB  compressed %5.1f MB\n",
                level, mode, f.stems, f.rssMb, f.firstSoundMs, f.readMs, f.firstSoundCpuMs,
                f.perStemDecodedMb, f.compressedMb);
}

// Mixes the streamed level at the device's pace (1024 frames every 23.2 ms) for `seconds`: the
// mixer's processor time and longest call, and the decoding thread's processor time.
void measurePacedMix(const std::string& manifest, double seconds) {
    setDefaultStemDecoding(StemDecoding::Streamed);
    AudioSystem audio;
    std::string log;
    audioInit(audio, AudioBackend::NullDriver);
    StagedLevel staged;
    if (!readLevel(manifest, true, staged)) {
        return;
    }
    audio.stems = std::move(staged.stems);
    playAllStems(audio);
    for (LoadedStem& stem : audio.stems) {
        stem.active = true;
    }
    updateStemVolumes(audio, 0.0f);
    constexpr unsigned kPeriod = 1024;
    std::vector<float> out(kPeriod * 2);
    const auto period = std::chrono::nanoseconds(std::int64_t(1e9 * kPeriod / kEngineSampleRate));
    const int periods = int(seconds * kEngineSampleRate / kPeriod);
    const double decoderBefore = streamFeederCpuSeconds();
    double mixCpu = 0.0, longestMs = 0.0;
    auto next = Clock::now();
    for (int i = 0; i < periods; ++i) {
        std::this_thread::sleep_until(next);
        next += period;
        const double cpu = threadCpuSeconds();
        const auto wall = Clock::now();
        audio.engine->mix(out.data(), kPeriod);
        if (i > 0) { // the first waits for the start's frames
            longestMs = std::max(longestMs, msSince(wall));
        }
        mixCpu += threadCpuSeconds() - cpu;
    }
    const double audioSeconds = double(periods) * kPeriod / kEngineSampleRate;
    const double decoderCpu = streamFeederCpuSeconds() - decoderBefore;
    std::fprintf(
        stderr,
        "paced mix, %zu streamed stems, %.0f s: mixer %.2f %% of a core (longest call %.3f ms for %u "
        "frames), decoder thread %.2f %% of a core, underruns %llu\n",
        audio.stems.size(), audioSeconds, 100.0 * mixCpu / audioSeconds, longestMs, kPeriod,
        100.0 * decoderCpu / audioSeconds, static_cast<unsigned long long>(audio.engine->underrunCount()));
    audioShutdown(audio);
}

// Plays the level through the output device for `minutes`, every stem audible; prints the underruns.
void playOnDevice(const std::string& manifest, double minutes) {
    setDefaultStemDecoding(StemDecoding::Streamed);
    AudioSystem audio;
    if (!audioInit(audio, AudioBackend::Auto)) {
        return;
    }
    StagedLevel staged;
    if (!readLevel(manifest, true, staged)) {
        return;
    }
    audio.stems = std::move(staged.stems);
    playAllStems(audio);
    for (LoadedStem& stem : audio.stems) {
        stem.active = true;
    }
    updateStemVolumes(audio, 0.0f);
    const double decoderBefore = streamFeederCpuSeconds();
    std::this_thread::sleep_for(std::chrono::duration<double>(minutes * 60.0));
    std::fprintf(
        stderr,
        "played %.1f min on the device: song clock %.1f s, Audio underruns: %llu (of which the stems "
        "waited for their decoder: %llu), decoder thread %.2f %% of a core\n",
        minutes, audio.engine->getStreamTime(audio.voiceGroup),
        static_cast<unsigned long long>(audio.engine->underrunCount()),
        static_cast<unsigned long long>(audio.engine->streamWaitCount()),
        100.0 * (streamFeederCpuSeconds() - decoderBefore) / (minutes * 60.0));
    audioShutdown(audio);
}

} // namespace

int main(int argc, char** argv) {
    std::string assets = fs::exists("levels/level.json") ? "." : "assets";
    double paceSeconds = 20.0;
    double playMinutes = 0.0;
    bool longWhole = true;
    std::string givenManifest;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--assets")) {
            assets = argv[i + 1];
        } else if (!std::strcmp(argv[i], "--pace-seconds")) {
            paceSeconds = std::atof(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--play-minutes")) {
            playMinutes = std::atof(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--level")) {
            givenManifest = argv[i + 1];
        } else if (!std::strcmp(argv[i], "--long-whole")) {
            longWhole = std::strcmp(argv[i + 1], "no") != 0; // minutes of decoding under load
        }
    }
    char pattern[] = "/tmp/vibrelle-stream-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        return 1;
    }
    const fs::path temp = pattern;
    // The default level, in a temporary copy.
    const fs::path defaultLevel = temp / "default";
    fs::create_directories(defaultLevel);
    fs::copy_file(fs::path(assets) / "levels/level.json", defaultLevel / "level.json");
    fs::copy(fs::path(assets) / "levels/neon_drive", defaultLevel / "neon_drive",
             fs::copy_options::recursive);
    const fs::path longLevel = temp / "long";
    if (givenManifest.empty()) {
        fs::create_directories(longLevel);
        const auto encodeStart = Clock::now();
        if (!makeLongLevel(longLevel)) {
            std::fprintf(stderr, "could not encode the ten-minute level\n");
            return 1;
        }
        std::fprintf(stderr, "encoded %d stems of %.0f s in %.1f s\n", kLongStems, kLongSeconds,
                     msSince(encodeStart) / 1e3);
    }
    const std::string defaultManifest = (defaultLevel / "level.json").string();
    const std::string longManifest =
        givenManifest.empty() ? (longLevel / "level.json").string() : givenManifest;
    const char* longName = givenManifest.empty() ? "generated (10 min)" : "given level";
    std::printf("level                  decoding\n");
    printLoad("default (68 s)", "whole", measureInChild(defaultManifest, StemDecoding::Whole));
    printLoad("default (68 s)", "streamed", measureInChild(defaultManifest, StemDecoding::Streamed));
    if (longWhole) {
        printLoad(longName, "whole", measureInChild(longManifest, StemDecoding::Whole));
    }
    printLoad(longName, "streamed", measureInChild(longManifest, StemDecoding::Streamed));
    std::fflush(stdout);
    FILE* quiet = std::freopen("/dev/null", "w", stdout); // the loader's log
    (void)quiet;
    if (paceSeconds > 0.0) {
        measurePacedMix(longManifest, paceSeconds);
    }
    if (playMinutes > 0.0) {
        playOnDevice(longManifest, playMinutes);
    }
    fs::remove_all(temp);
    return 0;
}
