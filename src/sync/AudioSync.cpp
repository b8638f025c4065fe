#include "sync/AudioSync.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "common/LogChannel.h"
#include "common/ParallelFor.h"
#include "media/WaveFile.h"

namespace zorvo {

bool AudioSync::LoadSong(const std::string& path) {
    // The song a render would take: the same WAVE rules as the media check.
    WaveFile wave;
    if (!wave.Inspect(path) || !wave.SlicesIntoFrames(25)) {
        PostQuoted("Error (Sync): Failed to read the song '", path, "'.\n");
        PostContext("Sync", Format("file '%s': %s", path.c_str(),
                                   wave.Loaded() ? "invalid block align or byte rate"
                                                 : wave.Reason().c_str()));
        return false;
    }
    wave.Free();
    m_songPath = path;
    m_songCounts.clear();
    m_songSpectra.clear();
    std::map<int, size_t> counts;
    for (int rate = kCoarseRate; rate >= kLowestCoarseRate; rate /= 2) {
        counts[rate] = 0;
    }
    // Only the lengths are kept: the samples are made again for the transform that needs them.
    const bool read = ReadSongAt(0, [&](int rate, const float*, size_t count) {
        counts[rate] += count;
        return true;
    });
    if (!read || m_song.length == 0) {
        m_songPath.clear();
        PostQuoted("Error (Sync): Failed to read the song '", path, "'.\n");
        return false;
    }
    m_songCounts = std::move(counts);
    return true;
}

namespace {

// The song at the coarse rate made from the full one, and at a lower rate made from the coarse
// one, piece by piece: what Resample makes of the whole, as the camera's side is made.
class CoarseChain {
  public:
    using Take = std::function<bool(int rate, const float* samples, size_t count)>;

    // Every coarse rate from `highest` down to `lowest`, halving; only `lowest` when `only`.
    bool Open(int highest, int lowest, bool only, Take take) {
        m_highest = highest;
        m_take = std::move(take);
        if (!m_coarse.Open(AudioSync::kFineRate, highest)) {
            return false;
        }
        for (int rate = highest / 2; rate >= lowest; rate /= 2) {
            if (only && rate != lowest) {
                continue;
            }
            m_lower.emplace_back(rate, MonoResampler());
            if (!m_lower.back().second.Open(highest, rate)) {
                return false;
            }
        }
        m_takeHighest = !only || lowest == highest;
        return true;
    }

    void Put(const float* samples, std::int64_t count) {
        m_piece.clear();
        m_failed = m_failed || !m_coarse.Put(samples, count, m_piece) || !Pass();
    }

    bool Finish() {
        m_piece.clear();
        m_failed = m_failed || !m_coarse.Finish(m_piece) || !Pass(true);
        return !m_failed;
    }

  private:
    bool Pass(bool last = false) {
        if (m_takeHighest && !m_piece.empty() &&
            !m_take(m_highest, m_piece.data(), m_piece.size())) {
            return false;
        }
        for (auto& [rate, resampler] : m_lower) {
            m_lowerPiece.clear();
            if (!resampler.Put(m_piece.data(), static_cast<std::int64_t>(m_piece.size()),
                               m_lowerPiece) ||
                (last && !resampler.Finish(m_lowerPiece)) ||
                (!m_lowerPiece.empty() &&
                 !m_take(rate, m_lowerPiece.data(), m_lowerPiece.size()))) {
                return false;
            }
        }
        return true;
    }

    int m_highest = 0;
    bool m_takeHighest = true;
    Take m_take;
    MonoResampler m_coarse;
    std::vector<std::pair<int, MonoResampler>> m_lower;
    std::vector<float> m_piece;
    std::vector<float> m_lowerPiece;
    bool m_failed = false;
};

}  // namespace

bool AudioSync::ReadSongAt(int rate, const std::function<bool(int, const float*, size_t)>& take) {
    CoarseChain chain;
    const bool every = rate == 0;
    if (!chain.Open(kCoarseRate, every ? kLowestCoarseRate : rate, !every, take)) {
        return false;
    }
    AudioRequest request;
    request.rate = kFineRate;
    request.keepTo = 0;
    request.consume = [&](const float* samples, std::int64_t count) { chain.Put(samples, count); };
    AudioTrack measured;
    if (DecodeAudio(m_songPath, request, measured) != AudioStatus::Ok || !chain.Finish()) {
        return false;
    }
    if (every) {
        m_song = std::move(measured);
        return true;
    }
    return measured.length == m_song.length;
}

size_t AudioSync::SongCount(int rate) const {
    const auto found = m_songCounts.find(rate);
    return found == m_songCounts.end() ? 0 : found->second;
}

std::shared_ptr<const Spectrum> AudioSync::SongSpectrum(int rate, size_t length) {
    const size_t count = SongCount(rate);
    if (count == 0) {
        return nullptr;
    }
    // Cameras of similar length share one transform of the song.
    std::lock_guard lock(m_mutex);
    auto& spectrum = m_songSpectra[{rate, length}];
    if (!spectrum) {
        auto computed = std::make_shared<Spectrum>();
        size_t taken = 0;
        const bool read = computed->Begin(length) &&
                          ReadSongAt(rate,
                                     [&](int, const float* samples, size_t n) {
                                         taken += n;
                                         return computed->Append(samples, n);
                                     }) &&
                          taken == count && computed->Finish();
        if (!read) {
            return nullptr;
        }
        spectrum = std::move(computed);
    }
    return spectrum;
}

bool AudioSync::MatchCoarse(AudioTrack& coarse, SyncResult& result, double& lag, int& reach) {
    while (coarse.rate > kLowestCoarseRate &&
           PowerOfTwoAtLeast(coarse.samples.size() + SongCount(coarse.rate)) > kLongestCoarse) {
        AudioTrack lower;
        if (!Resample(coarse, coarse.rate / 2, lower)) {
            result.outcome = SyncOutcome::DecodeFailed;
            return false;
        }
        coarse = std::move(lower);
    }
    const size_t cameraCount = coarse.samples.size();
    const size_t songCount = SongCount(coarse.rate);
    if (cameraCount == 0 || songCount == 0) {
        return false;
    }
    const size_t length = PowerOfTwoAtLeast(cameraCount + songCount);
    const std::shared_ptr<const Spectrum> songSpectrum = SongSpectrum(coarse.rate, length);
    Spectrum spectrum;
    CorrelationPeak match;
    const bool computed =
        songSpectrum && spectrum.Compute(coarse.samples.data(), cameraCount, length);
    std::vector<float>().swap(coarse.samples);
    if (!computed || !Correlation::Coarse(spectrum, cameraCount, *songSpectrum, songCount,
                                          static_cast<size_t>(coarse.rate), match)) {
        return false;
    }
    result.confidence = match.confidence;
    if (match.confidence < kMinConfidence) {
        return false;
    }
    // Reach: the coarse peak's own uncertainty, a few coarse samples.
    const int ratio = kFineRate / coarse.rate;
    lag = match.lag * ratio;
    reach = 4 * ratio;
    return true;
}

SyncResult AudioSync::MatchCoarseOnly(const SyncCamera& camera, Candidate& candidate) {
    SyncResult result{camera.id, SyncOutcome::NoMatch, 0.0, 0.0};
    AudioRequest request;
    request.rate = kFineRate;
    request.needVideo = true;
    request.keepTo = 0;
    request.coarseRate = kCoarseRate;
    AudioTrack track;
    AudioTrack coarse;
    switch (DecodeAudio(camera.file, request, track, &coarse)) {
        case AudioStatus::Ok:
            break;
        case AudioStatus::OpenFailed:
            return {camera.id, SyncOutcome::OpenFailed, 0.0, 0.0};
        case AudioStatus::NoAudio:
            return {camera.id, SyncOutcome::NoAudio, 0.0, 0.0};
        case AudioStatus::NoVideo:
            return {camera.id, SyncOutcome::NoVideo, 0.0, 0.0};
        case AudioStatus::DecodeFailed:
            return {camera.id, SyncOutcome::DecodeFailed, 0.0, 0.0};
    }
    double lag = 0.0;
    int reach = 0;
    if (!MatchCoarse(coarse, result, lag, reach)) {
        return result;
    }
    // The stretch of the camera that heard the song (a little more, for the rounding of the
    // lag), in which the fine windows are spread.
    const std::int64_t shift = std::llround(lag);
    const std::int64_t from = std::clamp<std::int64_t>(shift - 16, 0, track.length);
    const std::int64_t to =
        std::clamp<std::int64_t>(shift + m_song.length + 16, from, track.length);
    if (!Correlation::PlanFine(static_cast<size_t>(to - from), static_cast<size_t>(m_song.length),
                               reach, lag - static_cast<double>(from), candidate.windows)) {
        return result;
    }
    candidate.coarseMatched = true;
    candidate.lag = lag;
    candidate.reach = reach;
    candidate.start = track.start;
    candidate.first = from;
    return result;
}

bool AudioSync::ReadSongWindows(std::vector<Candidate>& candidates) {
    AudioRequest request;
    request.rate = kFineRate;
    for (const Candidate& c : candidates) {
        for (const size_t start : c.coarseMatched ? c.windows.starts : std::vector<size_t>{}) {
            const std::int64_t from = static_cast<std::int64_t>(start) - c.windows.shift;
            request.stretches.emplace_back(from,
                                           from + static_cast<std::int64_t>(c.windows.window));
        }
    }
    if (request.stretches.empty()) {
        return true;
    }
    AudioTrack song;
    if (DecodeAudio(m_songPath, request, song) != AudioStatus::Ok || song.length != m_song.length) {
        return false;
    }
    auto at = song.samples.begin();
    for (Candidate& c : candidates) {
        if (c.coarseMatched) {
            const auto size =
                static_cast<std::ptrdiff_t>(c.windows.starts.size() * c.windows.window);
            c.song.assign(at, at + size);
            at += size;
        }
    }
    return true;
}

void AudioSync::MatchFine(const SyncCamera& camera, Candidate& candidate, SyncResult& result) {
    AudioRequest request;
    request.rate = kFineRate;
    request.needVideo = true;
    for (const size_t start : candidate.windows.starts) {
        const std::int64_t from = candidate.first + static_cast<std::int64_t>(start);
        request.stretches.emplace_back(from,
                                       from + static_cast<std::int64_t>(candidate.windows.window));
    }
    AudioTrack track;
    if (DecodeAudio(camera.file, request, track, nullptr) != AudioStatus::Ok) {
        result.outcome = SyncOutcome::DecodeFailed;
        return;
    }
    double fineLag = candidate.lag - static_cast<double>(candidate.first);
    double agreement = 0.0;
    const bool refined =
        Correlation::Fine(candidate.windows, track.samples.data(), candidate.song.data(),
                          candidate.reach, fineLag, agreement);
    std::vector<float>().swap(candidate.song);
    if (!refined) {
        return;
    }
    const double lag = fineLag + static_cast<double>(candidate.first);
    // A peak that only some parts of the overlap agree with is another take, not this one.
    result.confidence *= agreement;
    if (result.confidence < kMinConfidence) {
        return;
    }
    result.outcome = SyncOutcome::Matched;
    result.offsetMs = 1000.0 * (candidate.start - m_song.start + lag / kFineRate);
}

std::vector<SyncResult> AudioSync::Match(const std::vector<SyncCamera>& cameras,
                                         const std::function<void(const SyncResult&)>& finished) {
    std::vector<SyncResult> results(cameras.size());
    std::vector<Candidate> candidates(cameras.size());
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    ParallelFor(cameras.size(), threads, [&](size_t i) {
        results[i] = MatchCoarseOnly(cameras[i], candidates[i]);
        if (!candidates[i].coarseMatched && finished) {
            finished(results[i]);
        }
    });
    const bool songRead = ReadSongWindows(candidates);
    ParallelFor(cameras.size(), threads, [&](size_t i) {
        if (!candidates[i].coarseMatched) {
            return;
        }
        if (songRead) {
            MatchFine(cameras[i], candidates[i], results[i]);
        } else {
            results[i].outcome = SyncOutcome::DecodeFailed;
        }
        if (finished) {
            finished(results[i]);
        }
    });
    return results;
}

std::string DescribeOutcome(const SyncResult& result) {
    switch (result.outcome) {
        case SyncOutcome::Matched:
            return Format("offset %.2f ms, confidence %.2f", result.offsetMs, result.confidence);
        case SyncOutcome::NoMatch:
            return Format("no match: confidence %.2f", result.confidence);
        case SyncOutcome::NoAudio:
            return "no audio stream";
        case SyncOutcome::NoVideo:
            return "no video stream to time the sound against";
        case SyncOutcome::OpenFailed:
            return "cannot open the file";
        case SyncOutcome::DecodeFailed:
            return "cannot decode the sound";
    }
    return "";
}

}  // namespace zorvo
