#include "sync/SongBeats.h"

#include <aubio/aubio.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "common/LogChannel.h"
#include "common/SafeFile.h"
#include "media/WaveFile.h"
#include "sync/AudioTrack.h"

namespace zorvo {

namespace {

// 23 ms windows every 5.8 ms: aubio's default window length, four times its time resolution.
constexpr int kRate = 22050;
constexpr unsigned kWindow = 512;
constexpr unsigned kHop = 128;
// The flux of a window peaks when an attack has reached about a third of it; measured on clicks
// at known times (the beat tests hold it to a few milliseconds).
constexpr double kDelaySeconds = (kWindow * 0.30 - kHop) / kRate;

template <typename T, void (*Free)(T*)>
struct AubioFree {
    void operator()(T* p) const { Free(p); }
};
using Vector = std::unique_ptr<fvec_t, AubioFree<fvec_t, del_fvec>>;
using Onset = std::unique_ptr<aubio_onset_t, AubioFree<aubio_onset_t, del_aubio_onset>>;
using Tempo = std::unique_ptr<aubio_tempo_t, AubioFree<aubio_tempo_t, del_aubio_tempo>>;

// A second-order low-pass (RBJ), for the kick drum and the bass.
struct LowPass {
    double b0, b1, b2, a1, a2, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    LowPass(double cutoff, double rate) {
        const double w = 2 * M_PI * cutoff / rate;
        const double alpha = std::sin(w) / (2 * M_SQRT1_2);
        const double a0 = 1 + alpha;
        b0 = (1 - std::cos(w)) / 2 / a0;
        b1 = (1 - std::cos(w)) / a0;
        b2 = b0;
        a1 = -2 * std::cos(w) / a0;
        a2 = (1 - alpha) / a0;
    }
    double operator()(double x) {
        const double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// FNV-1a, enough to tell one file's analysis from another's.
std::uint64_t Hash(const void* data, size_t size, std::uint64_t hash = 1469598103934665603ull) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    }
    return hash;
}

// The key of a file's analysis: its path, size, modification time and first megabyte. False
// when the file cannot be read.
bool CacheKey(const std::string& path, std::uint64_t& key) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    bool ok = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    std::vector<char> head(ok ? 1 << 20 : 0);
    size_t have = 0;
    while (ok && have < head.size()) {
        const ssize_t n = read(fd, head.data() + have, head.size() - have);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        have += static_cast<size_t>(n);
    }
    close(fd);
    const std::int64_t stamp[] = {static_cast<std::int64_t>(status.st_size),
                                  status.st_mtim.tv_sec,
                                  status.st_mtim.tv_nsec,
                                  kRate,
                                  kWindow,
                                  kHop};
    key = Hash(head.data(), have, Hash(stamp, sizeof stamp, Hash(path.data(), path.size())));
    return ok;
}

std::string CachePath(std::uint64_t key) {
    const std::string folder = BeatCacheFolder();
    return folder.empty() ? folder : folder + Format("/beats-%016llx.bin", (unsigned long long)key);
}

// The folder keeps the analyses of the last kKept songs.
constexpr size_t kKept = 64;

void Prune(const std::filesystem::path& folder) {
    std::error_code error;
    std::vector<std::pair<std::filesystem::file_time_type, std::filesystem::path>> kept;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("beats-", 0) == 0 && entry.is_regular_file(error)) {
            kept.emplace_back(entry.last_write_time(error), entry.path());
        }
    }
    if (kept.size() <= kKept) {
        return;
    }
    std::sort(kept.begin(), kept.end());
    for (size_t i = 0; i + kKept < kept.size(); ++i) {
        std::filesystem::remove(kept[i].second, error);
    }
}

constexpr char kMagic[8] = {'Z', 'O', 'R', 'V', 'O', 'B', 'T', '1'};

bool ReadCache(const std::string& path, std::uint64_t key, SongAnalysis& song) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rbe"),
                                                         std::fclose);
    if (!file) {
        return false;
    }
    char magic[8];
    std::uint64_t stored = 0;
    std::uint64_t counts[3] = {};
    double figures[3] = {};
    auto get = [&](void* to, size_t size) { return std::fread(to, 1, size, file.get()) == size; };
    if (!get(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof magic) != 0 ||
        !get(&stored, sizeof stored) || stored != key || !get(figures, sizeof figures) ||
        !get(counts, sizeof counts) || counts[0] != counts[1] || counts[0] > (1u << 28) ||
        counts[2] > counts[0]) {
        return false;
    }
    song.hopSeconds = figures[0];
    song.delaySeconds = figures[1];
    song.seconds = figures[2];
    song.onsets.resize(counts[0]);
    song.lows.resize(counts[1]);
    song.beats.resize(counts[2]);
    return get(song.onsets.data(), counts[0] * sizeof(float)) &&
           get(song.lows.data(), counts[1] * sizeof(float)) &&
           get(song.beats.data(), counts[2] * sizeof(double));
}

// Written under a temporary name and renamed, so a reader never takes half a file. A cache that
// cannot be written costs only time.
void WriteCache(const std::string& path, std::uint64_t key, const SongAnalysis& song) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    SafeFile file;
    if (!file.CreateBeside(path)) {
        return;
    }
    const double figures[3] = {song.hopSeconds, song.delaySeconds, song.seconds};
    const std::uint64_t counts[3] = {song.onsets.size(), song.lows.size(), song.beats.size()};
    const bool ok = file.Write(kMagic, sizeof kMagic) && file.Write(&key, sizeof key) &&
                    file.Write(figures, sizeof figures) && file.Write(counts, sizeof counts) &&
                    file.Write(song.onsets.data(), song.onsets.size() * sizeof(float)) &&
                    file.Write(song.lows.data(), song.lows.size() * sizeof(float)) &&
                    file.Write(song.beats.data(), song.beats.size() * sizeof(double));
    if (!ok || !file.Publish(path)) {
        file.Discard();
    }
    Prune(std::filesystem::path(path).parent_path());
}

}  // namespace

double SongAnalysis::PeakNear(double t, double reach, float& strength) const {
    strength = 0;
    const auto first = static_cast<std::int64_t>(std::ceil(IndexOf(t - reach)));
    const auto last = static_cast<std::int64_t>(std::floor(IndexOf(t + reach)));
    const auto count = static_cast<std::int64_t>(onsets.size());
    // Of the peaks within reach, the strongest once weighed by its distance: a strong sound
    // near a beat (the end of a click, a flam) does not pull the beat to itself.
    std::int64_t best = -1;
    double bestScore = 0;
    for (std::int64_t k = std::max<std::int64_t>(first, 0); k <= last && k + 1 < count; ++k) {
        // Before the first hop there was silence.
        const float before = k > 0 ? onsets[k - 1] : 0.0f;
        if (onsets[k] < before || onsets[k] < onsets[k + 1]) {
            continue;
        }
        const double distance = (TimeOf(static_cast<double>(k)) - t) / reach;
        const double score = onsets[k] * std::exp(-2 * distance * distance);
        if (score > bestScore) {
            best = k;
            bestScore = score;
        }
    }
    if (best < 0) {
        return t;
    }
    const double a = best > 0 ? onsets[best - 1] : 0.0f;
    const double b = onsets[best];
    const double c = onsets[best + 1];
    const double curve = a - 2 * b + c;
    const double shift = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
    strength = onsets[best];
    return std::max(0.0, TimeOf(static_cast<double>(best) + shift));
}

float SongAnalysis::OnsetFloor() const {
    if (onsets.empty()) {
        return 0;
    }
    std::vector<float> sorted = onsets;
    const size_t at = sorted.size() * 99 / 100;
    std::nth_element(sorted.begin(), sorted.begin() + at, sorted.end());
    return std::max(sorted[at] * 0.1f, 1e-6f);
}

struct SongAnalyser::State {
    explicit State(int rate)
        : rate(rate),
          in(new_fvec(kHop)),
          out(new_fvec(1)),
          onset(new_aubio_onset("specflux", kWindow, kHop, static_cast<unsigned>(rate))),
          tempo(new_aubio_tempo("specflux", kWindow, kHop, static_cast<unsigned>(rate))),
          low(150, rate) {
        song.hopSeconds = static_cast<double>(kHop) / rate;
        song.delaySeconds = kDelaySeconds * kRate / rate;
    }
    // One hop of samples, in `in`.
    void Hop(double energy) {
        const size_t k = energies.size();
        aubio_onset_do(onset.get(), in.get(), out.get());
        song.onsets.push_back(aubio_onset_get_descriptor(onset.get()));
        // The level over four hops, longer than a period of the lowest bass note.
        window += energy - (k >= 4 ? energies[k - 4] : 0.0);
        energies.push_back(energy);
        level.push_back(std::sqrt(std::max(0.0, window) / (4 * kHop)));
        song.lows.push_back(
            static_cast<float>(std::max(0.0, level[k] - (k >= 4 ? level[k - 4] : 0.0))));
        aubio_tempo_do(tempo.get(), in.get(), out.get());
        if (out->data[0] != 0) {
            tracked.push_back(aubio_tempo_get_last_s(tempo.get()));
        }
    }

    int rate;
    Vector in;
    Vector out;
    Onset onset;
    Tempo tempo;
    LowPass low;
    SongAnalysis song;
    std::vector<double> level;
    std::vector<double> energies;
    double window = 0;
    std::vector<double> tracked;
    unsigned filled = 0;  // samples of the hop being gathered in `in`
    double energy = 0;
    size_t count = 0;
};

SongAnalyser::SongAnalyser(int rate) : m_state(std::make_unique<State>(rate)) {}

SongAnalyser::~SongAnalyser() = default;

void SongAnalyser::Put(const float* samples, size_t count) {
    State& s = *m_state;
    s.count += count;
    if (!s.in || !s.out || !s.onset || !s.tempo) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const float x = samples[i];
        s.in->data[s.filled] = x;
        const double y = s.low(x);
        s.energy += y * y;
        if (++s.filled == kHop) {
            s.Hop(s.energy);
            s.filled = 0;
            s.energy = 0;
        }
    }
}

SongAnalysis SongAnalyser::Finish() {
    State& s = *m_state;
    SongAnalysis song = std::move(s.song);
    song.seconds = static_cast<double>(s.count) / s.rate;
    if (!s.in || !s.out || !s.onset || !s.tempo) {
        return song;
    }
    const float floor = song.OnsetFloor();
    for (const double t : s.tracked) {
        float strength = 0;
        const double peak = song.PeakNear(t, 0.035, strength);
        if (strength >= floor && (song.beats.empty() || peak > song.beats.back() + 0.05)) {
            song.beats.push_back(peak);
        }
    }
    return song;
}

SongAnalysis AnalyseSamples(const std::vector<float>& samples, int rate) {
    SongAnalyser analyser(rate);
    analyser.Put(samples.data(), samples.size());
    return analyser.Finish();
}

std::string BeatCacheFolder() {
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') {
        return std::string(xdg) + "/zorvo";
    }
    const char* home = std::getenv("HOME");
    return home && home[0] == '/' ? std::string(home) + "/.cache/zorvo" : std::string();
}

std::shared_ptr<const SongAnalysis> AnalyseSong(const std::string& wavePath) {
    // The last few analyses stay in memory, so the window does not reread them on every save.
    static std::mutex mutex;
    static std::map<std::uint64_t, std::shared_ptr<const SongAnalysis>> kept;
    std::uint64_t key = 0;
    const bool keyed = CacheKey(wavePath, key);
    if (keyed) {
        std::lock_guard lock(mutex);
        if (const auto it = kept.find(key); it != kept.end()) {
            return it->second;
        }
    }
    auto song = std::make_shared<SongAnalysis>();
    const std::string cache = keyed ? CachePath(key) : std::string();
    if (cache.empty() || !ReadCache(cache, key, *song)) {
        // The song a render would take: the same WAVE rules as the media check.
        WaveFile wave;
        if (!wave.Inspect(wavePath) || !wave.SlicesIntoFrames(25)) {
            PostQuoted("Error (Beats): Failed to read the song '", wavePath, "'.\n");
            PostContext("Beats", Format("file '%s': %s", wavePath.c_str(),
                                        wave.Loaded() ? "invalid block align or byte rate"
                                                      : wave.Reason().c_str()));
            return nullptr;
        }
        wave.Free();
        // Analysed as it is decoded: 30 minutes at this rate would be 159 MB of floats.
        SongAnalyser analyser(kRate);
        AudioRequest request;
        request.rate = kRate;
        request.keepTo = 0;
        request.consume = [&analyser](const float* samples, std::int64_t count) {
            analyser.Put(samples, static_cast<size_t>(count));
        };
        AudioTrack track;
        if (DecodeAudio(wavePath, request, track) != AudioStatus::Ok) {
            PostQuoted("Error (Beats): Failed to read the song '", wavePath, "'.\n");
            return nullptr;
        }
        *song = analyser.Finish();
        if (!cache.empty()) {
            WriteCache(cache, key, *song);
        }
    }
    if (keyed) {
        std::lock_guard lock(mutex);
        if (kept.size() >= 4) {
            kept.erase(kept.begin());
        }
        kept[key] = song;
    }
    return song;
}

}  // namespace zorvo
