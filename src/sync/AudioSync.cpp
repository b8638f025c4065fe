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
    AudioRequest request;
    request.rate = kFineRate;
    request.coarseRate = kCoarseRate;
    auto coarse = std::make_shared<AudioTrack>();
    if (DecodeAudio(path, request, m_song, coarse.get()) != AudioStatus::Ok ||
        m_song.samples.empty()) {
        PostQuoted("Error (Sync): Failed to read the song '", path, "'.\n");
        return false;
    }
    m_songCoarse[kCoarseRate] = std::move(coarse);
    return true;
}

std::shared_ptr<const AudioTrack> AudioSync::SongAt(int rate) {
    std::lock_guard lock(m_mutex);
    auto& song = m_songCoarse[rate];
    if (!song) {
        auto made = std::make_shared<AudioTrack>();
        if (!Resample(*m_songCoarse[kCoarseRate], rate, *made)) {
            return nullptr;
        }
        song = std::move(made);
    }
    return song;
}

std::shared_ptr<const Spectrum> AudioSync::SongSpectrum(int rate, size_t length) {
    const std::shared_ptr<const AudioTrack> song = SongAt(rate);
    if (!song) {
        return nullptr;
    }
    // Cameras of similar length share one transform of the song.
    std::lock_guard lock(m_mutex);
    auto& spectrum = m_songSpectra[{rate, length}];
    if (!spectrum) {
        auto computed = std::make_shared<Spectrum>();
        if (!computed->Compute(song->samples.data(), song->samples.size(), length)) {
            return nullptr;
        }
        spectrum = std::move(computed);
    }
    return spectrum;
}

bool AudioSync::MatchCoarse(AudioTrack& coarse, SyncResult& result, double& lag, int& reach) {
    std::shared_ptr<const AudioTrack> song = SongAt(coarse.rate);
    while (song && coarse.rate > kLowestCoarseRate &&
           PowerOfTwoAtLeast(coarse.samples.size() + song->samples.size()) > kLongestCoarse) {
        AudioTrack lower;
        if (!Resample(coarse, coarse.rate / 2, lower)) {
            result.outcome = SyncOutcome::DecodeFailed;
            return false;
        }
        coarse = std::move(lower);
        song = SongAt(coarse.rate);
    }
    if (!song) {
        result.outcome = SyncOutcome::DecodeFailed;
        return false;
    }
    const size_t cameraCount = coarse.samples.size();
    const size_t songCount = song->samples.size();
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

SyncResult AudioSync::MatchCamera(const SyncCamera& camera) {
    SyncResult result{camera.id, SyncOutcome::NoMatch, 0.0, 0.0};
    // First pass: the whole sound at the coarse rate only.
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
    // Second pass: at the full rate only the stretch that heard the song, which is all the
    // fine search reads (a little more, for the rounding of the lag).
    const std::int64_t shift = std::llround(lag);
    request.keepFrom = std::max<std::int64_t>(0, shift - 16);
    request.keepTo = shift + static_cast<std::int64_t>(m_song.samples.size()) + 16;
    request.coarseRate = 0;
    if (DecodeAudio(camera.file, request, track, nullptr) != AudioStatus::Ok) {
        result.outcome = SyncOutcome::DecodeFailed;
        return result;
    }
    double fineLag = lag - static_cast<double>(track.first);
    double agreement = 0.0;
    if (!Correlation::Fine(track.samples, m_song.samples, reach, fineLag, agreement)) {
        return result;
    }
    lag = fineLag + static_cast<double>(track.first);
    // A peak that only some parts of the overlap agree with is another take, not this one.
    result.confidence *= agreement;
    if (result.confidence < kMinConfidence) {
        return result;
    }
    result.outcome = SyncOutcome::Matched;
    result.offsetMs = 1000.0 * (track.start - m_song.start + lag / kFineRate);
    return result;
}

std::vector<SyncResult> AudioSync::Match(const std::vector<SyncCamera>& cameras,
                                         const std::function<void(const SyncResult&)>& finished) {
    std::vector<SyncResult> results(cameras.size());
    ParallelFor(cameras.size(), std::max(1u, std::thread::hardware_concurrency()), [&](size_t i) {
        results[i] = MatchCamera(cameras[i]);
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
