#include "sync/AudioSync.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

#include "common/LogChannel.h"

namespace zorvo {

bool AudioSync::LoadSong(const std::string& path) {
    if (DecodeAudio(path, kFineRate, false, m_song) != AudioStatus::Ok || m_song.samples.empty()) {
        PostQuoted("Error (Sync): Failed to read the song '", path, "'.\n");
        return false;
    }
    if (!Resample(m_song, kCoarseRate, m_songCoarse)) {
        PostLog("Error (Sync): Failed to resample the song.\n");
        return false;
    }
    return true;
}

std::shared_ptr<const Spectrum> AudioSync::SongSpectrum(size_t length) {
    // Cameras of similar length share one transform of the song.
    std::lock_guard lock(m_mutex);
    auto& spectrum = m_songSpectra[length];
    if (!spectrum) {
        auto computed = std::make_shared<Spectrum>();
        if (!computed->Compute(m_songCoarse.samples.data(), m_songCoarse.samples.size(), length)) {
            return nullptr;
        }
        spectrum = std::move(computed);
    }
    return spectrum;
}

SyncResult AudioSync::MatchTrack(const std::string& id, const AudioTrack& camera) {
    SyncResult result{id, SyncOutcome::NoMatch, 0.0, 0.0};
    AudioTrack coarse;
    if (!Resample(camera, kCoarseRate, coarse)) {
        result.outcome = SyncOutcome::DecodeFailed;
        return result;
    }
    const size_t cameraCount = coarse.samples.size();
    const size_t songCount = m_songCoarse.samples.size();
    if (cameraCount == 0 || songCount == 0) {
        return result;
    }
    const size_t length = PowerOfTwoAtLeast(cameraCount + songCount);
    const std::shared_ptr<const Spectrum> song = SongSpectrum(length);
    Spectrum spectrum;
    CorrelationPeak match;
    if (!song || !spectrum.Compute(coarse.samples.data(), cameraCount, length) ||
        !Correlation::Coarse(spectrum, cameraCount, *song, songCount, kCoarseRate, match)) {
        return result;
    }
    result.confidence = match.confidence;
    if (match.confidence < kMinConfidence) {
        return result;
    }
    // Reach: the coarse peak's own uncertainty, a few coarse samples.
    constexpr int kRatio = kFineRate / kCoarseRate;
    double lag = match.lag * kRatio;
    double agreement = 0.0;
    if (!Correlation::Fine(camera.samples, m_song.samples, 4 * kRatio, lag, agreement)) {
        return result;
    }
    // A peak that only some parts of the overlap agree with is another take, not this one.
    result.confidence = match.confidence * agreement;
    if (result.confidence < kMinConfidence) {
        return result;
    }
    result.outcome = SyncOutcome::Matched;
    result.offsetMs = 1000.0 * (camera.start - m_song.start + lag / kFineRate);
    return result;
}

SyncResult AudioSync::MatchCamera(const SyncCamera& camera) {
    AudioTrack track;
    switch (DecodeAudio(camera.file, kFineRate, true, track)) {
        case AudioStatus::Ok:
            return MatchTrack(camera.id, track);
        case AudioStatus::OpenFailed:
            return {camera.id, SyncOutcome::OpenFailed, 0.0, 0.0};
        case AudioStatus::NoAudio:
            return {camera.id, SyncOutcome::NoAudio, 0.0, 0.0};
        case AudioStatus::NoVideo:
            return {camera.id, SyncOutcome::NoVideo, 0.0, 0.0};
        case AudioStatus::DecodeFailed:
            break;
    }
    return {camera.id, SyncOutcome::DecodeFailed, 0.0, 0.0};
}

std::vector<SyncResult> AudioSync::Match(const std::vector<SyncCamera>& cameras,
                                         const std::function<void(const SyncResult&)>& finished) {
    std::vector<SyncResult> results(cameras.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < cameras.size(); i = next++) {
            results[i] = MatchCamera(cameras[i]);
            if (finished) {
                finished(results[i]);
            }
        }
    };
    const size_t threads = std::clamp<size_t>(std::thread::hardware_concurrency(), 1,
                                              std::max<size_t>(1, cameras.size()));
    std::vector<std::thread> pool;
    try {
        for (size_t t = 1; t < threads; ++t) {
            pool.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // Fewer threads only make it slower: this one works through whatever is left.
    }
    work();
    for (std::thread& thread : pool) {
        thread.join();
    }
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
