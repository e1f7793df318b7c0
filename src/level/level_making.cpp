#include "level/level_making.hpp"

#include "base/log.hpp"
#include "base/utf8.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kStagingPrefix = ".making-";
constexpr std::size_t kMaxFolderBytes = 64;
// Room kept free beyond the stems themselves: the charts and level.json are small, and a disk
// filled to the last byte troubles everything else on it.
constexpr std::uintmax_t kSpareBytes = 16u << 20;

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return "";
    }
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string foldedName(const std::string& text) {
    std::string folded = trimmed(text);
    for (char& c : folded) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded;
}

std::string megabytes(std::uintmax_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

bool diskFull(const std::error_code& ec) {
#ifdef EDQUOT
    if (ec.category() == std::system_category() && ec.value() == EDQUOT) {
        return true; // the player's quota counts as the disk here
    }
#endif
    return ec == std::errc::no_space_on_device;
}

std::string randomSuffix() {
    std::random_device device;
    std::mt19937_64 generator((static_cast<std::uint64_t>(device()) << 32) ^ device());
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

// The lines authorLevel wrote to its error stream, without their program prefix.
std::vector<std::string> authorLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::string prefix = "vibrelle-level: ";
        if (line.rfind(prefix, 0) == 0) {
            line.erase(0, prefix.size());
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

void removeStaleStaging(const fs::path& levels) {
    std::error_code ec;
    for (fs::directory_iterator it(levels, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kStagingPrefix, 0) == 0) {
            std::error_code removeError;
            fs::remove_all(it->path(), removeError);
            if (removeError) {
                logError(stderr, "Cannot remove the unfinished level %s: %s", it->path().string().c_str(),
                         removeError.message().c_str());
            } else {
                logMessage("Removed the unfinished level %s", it->path().string().c_str());
            }
        }
    }
}

// The work of one job, on its thread. Every way out but success removes the staging folder.
class MakingRun {
public:
    MakingRun(LevelMaking& job, LevelMakingRequest request) : job_(job), request_(std::move(request)) {}

    void run() {
        bool made = false;
        try {
            made = make();
        } catch (const std::exception& e) {
            fail(std::string("The level could not be made: ") + e.what());
        }
        if (!made && !staging_.empty()) {
            std::error_code ec;
            fs::remove_all(staging_, ec);
        }
    }

private:
    bool make() {
        const fs::path levels = request_.levelsFolder;
        std::error_code ec;
        removeStaleStaging(levels);
        std::vector<fs::path> sources;
        if (!findSources(sources)) {
            return false;
        }
        std::uintmax_t needed = kSpareBytes;
        for (const fs::path& source : sources) {
            const std::uintmax_t size = fs::file_size(source, ec);
            needed += ec ? 0 : size;
        }
        fs::create_directories(levels, ec);
        if (ec) {
            return fail("Cannot make the levels folder " + levels.string() + ": " + ec.message());
        }
        const std::uintmax_t available =
            request_.freeSpace ? request_.freeSpace(levels.string()) : fs::space(levels, ec).available;
        if (!ec && available < needed) {
            return fail("The disk is full: the stems need " + megabytes(needed) + " in " + levels.string() +
                        " and " + megabytes(available) + " are free. Free some space and try again.");
        }
        staging_ = levels / (kStagingPrefix + randomSuffix());
        if (!fs::create_directory(staging_, ec)) {
            const fs::path failed = staging_;
            staging_.clear();
            return fail("Cannot make a folder in " + levels.string() + ": " +
                        (ec ? ec.message() : failed.string() + " exists"));
        }
        setStep("Copying the stems");
        std::vector<std::string> copyProblems;
        if (!copyStems(sources, copyProblems) || stopped()) {
            return stopped() ? cancel() : false;
        }
        return chart(copyProblems) && finish();
    }

    bool findSources(std::vector<fs::path>& sources) {
        std::error_code ec;
        if (request_.files.empty()) {
            const fs::path folder = request_.sourceFolder;
            if (trimmed(request_.sourceFolder).empty()) {
                return fail("Choose a folder of stems first.");
            }
            if (!fs::exists(folder, ec)) {
                return fail("The folder " + folder.string() + " does not exist.");
            }
            if (!fs::is_directory(folder, ec)) {
                return fail(folder.string() + " is not a folder.");
            }
            for (const std::string& file : findStemFiles(folder.string())) {
                sources.push_back(folder / file);
            }
            if (sources.empty()) {
                return fail(noAudioMessage(folder.string()));
            }
        } else {
            for (const std::string& file : request_.files) {
                if (isStemAudioPath(file)) {
                    sources.emplace_back(file);
                }
            }
            if (sources.empty()) {
                return fail("None of the files is audio: Vibrelle reads WAV, FLAC, Ogg Vorbis and MP3.");
            }
        }
        if (request_.title.empty()) {
            const fs::path from =
                request_.files.empty() ? fs::path(request_.sourceFolder) : sources.front().parent_path();
            fs::path named = fs::absolute(from, ec).lexically_normal();
            if (named.filename().empty()) {
                named = named.parent_path();
            }
            request_.title = titleFromFolder(named.filename().string());
        }
        if (levelNameTaken(request_.title, request_.takenNames)) {
            return fail("There is already a level called " + trimmed(request_.title) +
                        ": choose another title.");
        }
        std::lock_guard<std::mutex> lock(job_.mutex);
        job_.status.title = trimmed(request_.title);
        return true;
    }

    // Copies the stems into the staging folder. A stem that cannot be copied is left out (its
    // reason in `problems`) unless the disk is full, which ends the job.
    bool copyStems(const std::vector<fs::path>& sources, std::vector<std::string>& problems) {
        std::set<std::string> names;
        for (const fs::path& source : sources) {
            if (stopped()) {
                return false;
            }
            // Files dropped from different folders may share a name: the later ones are renamed.
            std::string name = source.filename().string();
            for (int n = 2; names.count(name); ++n) {
                name = source.stem().string() + " " + std::to_string(n) + source.extension().string();
            }
            std::error_code ec;
            fs::copy_file(source, staging_ / name, ec);
            if (diskFull(ec)) {
                return fail("The disk is full: copying " + source.filename().string() + " into " +
                            request_.levelsFolder + " failed. Free some space and try again.");
            }
            if (ec) {
                problems.push_back(source.filename().string() + ": cannot be read (" + ec.message() + ")");
                continue;
            }
            names.insert(name);
        }
        if (names.empty()) {
            return fail("No stem could be read: " + joined(problems));
        }
        return true;
    }

    bool chart(const std::vector<std::string>& copyProblems) {
        AuthorOptions options;
        options.directory = staging_.string();
        options.title = trimmed(request_.title);
        options.bpm = request_.bpm;
        // Overrides for stems that did not make it into the folder would stop authorLevel.
        const std::vector<std::string> files = findStemFiles(options.directory);
        for (const auto& kind : request_.kinds) {
            if (std::find(files.begin(), files.end(), kind.first) != files.end()) {
                options.kinds.push_back(kind);
            }
        }
        options.progress = &job_.progress;
        {
            std::lock_guard<std::mutex> lock(job_.mutex);
            job_.status.stems = files;
            job_.status.done.assign(files.size(), 0.0);
            job_.status.step = "Charting";
        }
        AuthorResult result;
        std::ostringstream out, err;
        const bool charted = authorLevel(options, result, out, err);
        if (result.cancelled || stopped()) {
            return cancel();
        }
        std::vector<std::string> problems = copyProblems;
        for (const std::string& skipped : result.skipped) {
            problems.push_back(skipped);
        }
        if (!charted) {
            const std::vector<std::string> lines = authorLines(err.str());
            const std::string why = lines.empty() ? "the stems could not be charted" : lines.back();
            const bool noneRead = why.rfind("no stem could be read", 0) == 0;
            return fail(noneRead && !problems.empty() ? "No stem could be read: " + joined(problems)
                                                      : "The level could not be made: " + why);
        }
        if (!problems.empty()) {
            std::lock_guard<std::mutex> lock(job_.mutex);
            job_.status.message = "Left out: " + joined(problems);
        }
        return true;
    }

    // Moves the finished level to its own folder: "<levels>/<title>", or "<title> 2", "<title> 3", ...
    bool finish() {
        if (stopped()) {
            return cancel();
        }
        setStep("Finishing");
        const fs::path levels = request_.levelsFolder;
        const std::string base = levelFolderName(request_.title);
        std::error_code ec;
        fs::path target = levels / base;
        for (int n = 2; fs::exists(target, ec) || fs::is_symlink(target, ec); ++n) {
            target = levels / (base + " " + std::to_string(n));
        }
        fs::rename(staging_, target, ec);
        if (ec) {
            return fail("Cannot move the level into " + target.string() + ": " + ec.message());
        }
        staging_.clear();
        std::lock_guard<std::mutex> lock(job_.mutex);
        job_.status.folder = target.string();
        job_.status.state = MakingState::Done;
        job_.status.step = "Done";
        for (double& done : job_.status.done) {
            done = 1.0;
        }
        logMessage("Level made: %s", target.string().c_str());
        return true;
    }

    bool stopped() const { return job_.progress.cancel.load(); }

    bool cancel() {
        std::lock_guard<std::mutex> lock(job_.mutex);
        job_.status.state = MakingState::Cancelled;
        job_.status.step = "Cancelled";
        logMessage("Level making cancelled");
        return false;
    }

    bool fail(const std::string& message) {
        if (stopped()) {
            return cancel(); // what failed after a cancel is the cancel's doing
        }
        logError(stderr, "Cannot make the level: %s", message.c_str());
        std::lock_guard<std::mutex> lock(job_.mutex);
        job_.status.state = MakingState::Failed;
        job_.status.message = message;
        return false;
    }

    void setStep(const char* step) {
        std::lock_guard<std::mutex> lock(job_.mutex);
        job_.status.step = step;
    }

    static std::string joined(const std::vector<std::string>& parts) {
        std::string text;
        for (const std::string& part : parts) {
            text += (text.empty() ? "" : "; ") + part;
        }
        return text;
    }

    LevelMaking& job_;
    LevelMakingRequest request_;
    fs::path staging_; // the staging folder while it exists and is ours to remove
};

} // namespace

LevelMaking::~LevelMaking() {
    progress.cancel = true;
    if (worker.joinable()) {
        worker.join();
    }
}

std::string noAudioMessage(const std::string& folder) {
    return "No audio files in " + folder + ": Vibrelle reads WAV, FLAC, Ogg Vorbis and MP3.";
}

std::string levelFolderName(const std::string& title) {
    const std::string valid = withUtf8Replacements(title);
    std::string name;
    for (char c : valid) {
        const unsigned char u = static_cast<unsigned char>(c);
        const bool kept = u >= 0x80 || std::isalnum(u) || c == '-' || c == '_';
        if (kept) {
            name += c;
        } else if (!name.empty() && name.back() != ' ') {
            name += ' ';
        }
    }
    name = trimmed(cutToCharacters(name, kMaxFolderBytes));
    return name.empty() ? "Level" : name;
}

bool levelNameTaken(const std::string& title, const std::vector<std::string>& names) {
    const std::string wanted = foldedName(title);
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& name) { return foldedName(name) == wanted; });
}

std::unique_ptr<LevelMaking> startLevelMaking(LevelMakingRequest request) {
    auto job = std::make_unique<LevelMaking>();
    LevelMaking* const raw = job.get();
    raw->progress.onStem = [raw](std::size_t stem, double done) {
        std::lock_guard<std::mutex> lock(raw->mutex);
        if (stem < raw->status.done.size()) {
            raw->status.done[stem] = done;
        }
    };
    raw->status.step = "Starting";
    raw->worker = std::thread(
        [raw, request = std::move(request)]() mutable { MakingRun(*raw, std::move(request)).run(); });
    return job;
}

LevelMakingStatus levelMakingStatus(const LevelMaking& job) {
    std::lock_guard<std::mutex> lock(job.mutex);
    return job.status;
}

void cancelLevelMaking(LevelMaking& job) { job.progress.cancel = true; }

bool levelMakingEnded(LevelMaking& job) {
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        if (job.status.state == MakingState::Running) {
            return false;
        }
    }
    if (job.worker.joinable()) {
        job.worker.join();
    }
    return true;
}

void waitForLevelMaking(LevelMaking& job) {
    if (job.worker.joinable()) {
        job.worker.join();
    }
}

bool deleteOwnLevelFolder(const std::string& levelsFolder, const std::string& folder, std::string& error) {
    std::error_code ec;
    const fs::path levels = fs::weakly_canonical(levelsFolder, ec);
    const fs::path target = ec ? fs::path() : fs::weakly_canonical(folder, ec);
    if (ec || levels.empty() || target.parent_path() != levels || target.filename().empty()) {
        error = "Only the player's own levels in " + levelsFolder + " can be deleted, not " + folder;
        return false;
    }
    if (!fs::is_directory(target, ec)) {
        error = folder + " is not a level folder";
        return false;
    }
    fs::remove_all(target, ec);
    if (ec) {
        error = "Cannot delete " + folder + ": " + ec.message();
        return false;
    }
    logMessage("Level deleted: %s", target.string().c_str());
    return true;
}
