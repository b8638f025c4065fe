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
    request.keepTo = 0;
    request.coarseRate = kCoarseRate;
    auto coarse = std::make_shared<AudioTrack>();
    if (DecodeAudio(path, request, m_song, coarse.get()) != AudioStatus::Ok || m_song.length == 0) {
        PostQuoted("Error (Sync): Failed to read the song '", path, "'.\n");
        return false;
    }
    m_songPath = path;
    m_songCoarse.clear();
    m_songSpectra.clear();
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
