#include "check/MediaCheck.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

#include "capture/FrameScaler.h"
#include "check/WrittenFiles.h"
#include "common/LogChannel.h"
#include "common/PathName.h"
#include "media/VideoProbe.h"
#include "media/WaveFile.h"
#include "output/FrameWriter.h"
#include "script/SpanTiming.h"
#include "timeline/Layout.h"
#include "timeline/Viewport.h"

namespace zorvo {

namespace {

// Milliseconds as minutes, seconds and hundredths: 00:31.20. Rounded down, or up for a moment
// that must be reached.
std::string Clock(double ms, bool roundUp = false) {
    const double hundredths = roundUp ? std::ceil(ms / 10 - 1e-6) : std::floor(ms / 10 + 1e-6);
    const auto cs = static_cast<long long>(std::max(hundredths, 0.0));
    return Format("%02lld:%02lld.%02lld", cs / 6000, cs / 100 % 60, cs % 100);
}

// Milliseconds as the timeline shows them: 00:31.200.
std::string ClockMs(double ms) {
    const auto total = static_cast<long long>(std::floor(std::max(ms, 0.0) + 1e-6));
    return Format("%02lld:%02lld.%03lld", total / 60000, total / 1000 % 60, total % 1000);
}

// The input's own rotation, else the file's.
Orientation ShownOrientation(const CSInput& input, const VideoFacts& facts) {
    return input.settings.rotation >= 0 ? OrientationOfTurn(input.settings.rotation)
                                        : facts.orientation;
}

class MediaChecker {
  public:
    explicit MediaChecker(const CScript& script) : m_script(script) {}

    // A line for each input opened, by id, naming its file.
    std::vector<Message> Found() const {
        std::vector<Message> lines;
        for (const auto& [id, input] : m_script.inputs) {
            const auto media = m_media.find(input.get());
            if (media != m_media.end() && media->second.status == ProbeStatus::Ok) {
                Message line{Severity::Info, {}, DescribeInput(*input, media->second.facts)};
                line.file = input->file;
                lines.push_back(std::move(line));
            }
        }
        return lines;
    }

    bool Run(bool writesOutput) {
        if (writesOutput) {
            // Nothing else is opened when the output would replace a file the build reads.
            if (!CheckWrittenFile(m_script, m_script.outputPath, WrittenFile::Output)) {
                return false;
            }
            CheckOutputFolder();
            CheckOutputSize();
            CheckWave();
        }
        CheckOverlay();
        CheckTimeline();
        if (writesOutput) {
            CheckSongLength();
        }
        return m_problems == 0;
    }

  private:
    struct Media {
        ProbeStatus status = ProbeStatus::Ok;
        VideoFacts facts;
        std::string reason;
    };

    // `file` and `marker` say what the problem is about, for the window's Problems list.
    void Problem(const std::string& text, const std::string& file = {}, std::uint32_t marker = 0) {
        ++m_problems;
        Message message{Severity::Error, "Project", text + "."};
        message.file = file;
        message.marker = marker;
        Post(std::move(message));
    }

    void CheckOutputFolder() {
        if (!zorvo::CheckOutputFolder(m_script.outputPath)) {
            ++m_problems;
        }
    }

    void CheckOutputSize() {
        // The largest H.264 level codes 139,264 macroblocks of 16 x 16 pixels a frame; the
        // encoder would take gigabytes before it refused a larger picture.
        constexpr long long kMostMacroblocks = 139264;
        const long long macroblocks =
            (m_script.width + 15LL) / 16 * ((m_script.height + 15LL) / 16);
        if (OutputKindOf(m_script.outputPath) == OutputKind::Avi) {
            return;
        }
        // The encoder's 4:2:0 pictures take two by two pixels; it would refuse after the check.
        if (m_script.width % 2 != 0 || m_script.height % 2 != 0) {
            Problem(Format("Output size %ix%i cannot be written as H.264, which needs an even "
                           "width and height (file %s)",
                           m_script.width, m_script.height, m_script.outputPath.c_str()),
                    m_script.outputPath);
        }
        if (macroblocks > kMostMacroblocks) {
            Problem(Format("Output size %ix%i is too large for H.264: %lld macroblocks a frame, "
                           "at most %lld (file %s)",
                           m_script.width, m_script.height, macroblocks, kMostMacroblocks,
                           m_script.outputPath.c_str()),
                    m_script.outputPath);
        }
    }

    void CheckWave() {
        if (m_script.wavePath.empty()) {
            return;
        }
        // The headers only, and the length of the data the file really holds.
        WaveFile wave;
        if (!wave.Inspect(m_script.wavePath)) {
            Problem(Format("Wave file cannot be used: %s (file %s)", wave.Reason().c_str(),
                           m_script.wavePath.c_str()),
                    m_script.wavePath);
        } else if (!wave.SlicesIntoFrames(25)) {
            Problem(Format("Wave file has an invalid block align or byte rate (file %s)",
                           m_script.wavePath.c_str()),
                    m_script.wavePath);
        } else {
            // The writers give a frame its sound only when its whole slice is in the data.
            // The sound before song_start is left out, so the song ends that much earlier.
            const std::uint64_t slice = std::uint64_t{wave.blockAlign} * wave.samplesPerSecond / 25;
            const std::uint64_t lead =
                std::min<std::uint64_t>(std::uint64_t(std::max(0, m_script.songStartMs)) *
                                            wave.samplesPerSecond / 1000 * wave.blockAlign,
                                        wave.dataSize);
            m_songFrames = static_cast<std::int64_t>((wave.dataSize - lead) / slice);
            m_songMs = std::max<double>(0, wave.DurationMs() - std::max(0, m_script.songStartMs));
        }
    }

    // A song shorter than the timeline is not an error (a render may add silence on purpose),
    // but a header that claims more than the file holds must not go unnoticed.
    void CheckSongLength() {
        if (m_songFrames < 0 || m_songFrames >= SongFrame(m_timelineEndMs)) {
            return;
        }
        Message message{Severity::Warning, "Project",
                        Format("Wave file is shorter than the timeline: the song ends at %s, the "
                               "timeline at %s; the rest is silent (file %s).",
                               ClockMs(m_songMs).c_str(), ClockMs(m_timelineEndMs).c_str(),
                               m_script.wavePath.c_str())};
        message.file = m_script.wavePath;
        Post(std::move(message));
    }

    void CheckOverlay() {
        if (m_script.overlay.inputId.empty()) {
            return;
        }
        InputList list;
        if (!m_script.BuildInputList(m_script.overlay.inputId, list) || list.empty()) {
            Problem(Format("Overlay '%s' is not an input or a group",
                           m_script.overlay.inputId.c_str()));
            return;
        }
        const auto frames = static_cast<std::uint32_t>(std::max(m_script.overlay.loopFrames, 0));
        CheckSegment(list.front(), 0, frames, "the overlay", 0, -1);
    }

    void CheckTimeline() {
        const auto& markers = m_script.markers;
        CarriedValues carried;
        double position = 0;
        std::vector<Rect> rects;
        std::vector<Rect> separators;
        // The same walk as the render: the spans it lays out, the blocks it captures.
        for (size_t mi = 0; mi + 1 < markers.size(); ++mi) {
            const CSMarker& m = *markers[mi];
            const CSMarker& n = *markers[mi + 1];
            carried.Carry(m);
            if (m_script.rangeEnd != 0 &&
                m.measure == static_cast<std::uint32_t>(m_script.rangeEnd)) {
                return;
            }
            const bool laidOut = GetLayoutRects(static_cast<std::uint32_t>(m_script.width),
                                                static_cast<std::uint32_t>(m_script.height),
                                                m.layout, rects, separators);
            const SpanTiming timing = SpanTiming::Compute(carried, m.measure, n.measure);
            if (!laidOut) {
                Problem(Format("Marker %u has a layout that cannot be laid out at %ix%i", m.measure,
                               m_script.width, m_script.height),
                        {}, m.measure);
            } else if (m.displays.size() != rects.size()) {
                Problem(Format("Marker %u has %zu display(s) but its layout has %zu area(s)",
                               m.measure, m.displays.size(), rects.size()),
                        {}, m.measure);
            } else if (m_script.rangeStart == 0 ||
                       m.measure >= static_cast<std::uint32_t>(m_script.rangeStart)) {
                CheckSpan(m, timing, rects, position);
            }
            position += timing.span;
            m_timelineEndMs = position;
            if (n.isLast) {
                return;
            }
        }
    }

    void CheckSpan(const CSMarker& m, const SpanTiming& timing, const std::vector<Rect>& rects,
                   double position) {
        std::vector<double> periods;
        const double blockLength = BlockLength(timing, m.displays, &periods);
        std::vector<std::unique_ptr<CViewport>> viewports;
        for (size_t d = 0; d < m.displays.size(); ++d) {
            auto viewport = std::make_unique<CViewport>(m.displays[d], rects[d]);
            viewport->m_period = periods[d];
            if (!m_script.BuildInputList(m.displays[d].refId, viewport->m_inputs) ||
                viewport->m_inputs.empty()) {
                return;  // validation has refused unknown ids already
            }
            viewports.push_back(std::move(viewport));
        }
        const SpanBlocks blocks(position, timing, blockLength);
        const std::string who = Format("marker %u", m.measure);
        double blockStart = 0;
        for (std::uint32_t b = 0; b < blocks.count; ++b, blockStart += blockLength) {
            const std::int64_t first = blocks.BlockFirst(blockStart);
            const auto frames = static_cast<std::uint32_t>(blocks.BlockEnd(b, blockStart) - first);
            for (auto& viewport : viewports) {
                viewport->SelectInput(blockStart);
                const CSInput* input = viewport->Current();
                const auto start = static_cast<std::int64_t>(std::trunc(
                    (input->videoSyncMs - input->timelineSyncMs) + position + blockStart));
                CheckSegment(input, start, CaptureFrameCount(frames, m.GetSpeed(input->id)), who,
                             m.measure, position + blockStart);
                CheckScaling(input, viewport->m_pRect, m.GetResize(input->id), who, m.measure);
            }
        }
    }

    const Media* Probe(const CSInput* input) {
        auto [found, added] = m_media.try_emplace(input);
        Media& media = found->second;
        if (!added) {
            return media.status == ProbeStatus::Ok ? &media : nullptr;
        }
        media.status = ProbeVideo(input->file, media.facts, media.reason);
        const char* id = input->id.c_str();
        const char* file = input->file.c_str();
        switch (media.status) {
            case ProbeStatus::Ok:
                return &media;
            case ProbeStatus::OpenFailed:
                Problem(Format("Input '%s' does not open: %s (file %s)", id, media.reason.c_str(),
                               file),
                        input->file);
                break;
            case ProbeStatus::NoStreamInfo:
                Problem(Format("Input '%s' has no readable stream information: %s (file %s)", id,
                               media.reason.c_str(), file),
                        input->file);
                break;
            case ProbeStatus::NoVideoStream:
                Problem(Format("Input '%s' has no video stream (file %s)", id, file), input->file);
                break;
            case ProbeStatus::NoDecoder:
                Problem(Format("Input '%s' has %s (file %s)", id, media.reason.c_str(), file),
                        input->file);
                break;
            case ProbeStatus::NoFrameRate:
                Problem(Format("Input '%s' has an unknown frame rate (file %s)", id, file),
                        input->file);
                break;
        }
        return nullptr;
    }

    // `songMs` is the block's place in the song, negative for the overlay (marker 0).
    void CheckSegment(const CSInput* input, std::int64_t startMs, std::uint32_t frames,
                      const std::string& who, std::uint32_t marker, double songMs) {
        const Media* media = Probe(input);
        if (!media || frames == 0 || m_reported.count({input, who}) != 0) {
            return;
        }
        const std::string where =
            songMs >= 0 ? Format("block at %s of the song; ", Clock(songMs).c_str()) : "";
        const char* id = input->id.c_str();
        const char* file = input->file.c_str();
        if (input->settings.fill == FillMode::Black || input->settings.fill == FillMode::Hold) {
            return;  // the capture shows black or its nearest picture where the file does not reach
        }
        if (startMs < 0) {
            Problem(
                Format("Input '%s' starts before its beginning: %s needs it from %.2f s "
                       "before (%sfile %s)",
                       id, who.c_str(), static_cast<double>(-startMs) / 1000, where.c_str(), file),
                input->file, marker);
            SuggestFill();
            m_reported.insert({input, who});
            return;
        }
        const VideoFacts& facts = media->facts;
        if (facts.frameCount < 0) {
            return;  // a length no header tells; the capture finds out
        }
        // The capture's own arithmetic: the segment's first source frame, then one source
        // frame per 1/25 s.
        const auto num = static_cast<std::int64_t>(facts.rateNum);
        const auto den = static_cast<std::int64_t>(facts.rateDen);
        const std::int64_t first = startMs * num / (den * 1000);
        const std::int64_t last =
            first + (static_cast<std::int64_t>(frames) - 1) * num / (den * 25);
        if (last < facts.frameCount) {
            return;
        }
        m_reported.insert({input, who});
        const double endMs = static_cast<double>(facts.frameCount) * 1000.0 * den / num;
        const double needMs = static_cast<double>(last + 1) * 1000.0 * den / num;
        Problem(Format("Input '%s' ends at %s but %s needs it until %s, %.2f s more (%sfile %s)",
                       id, Clock(endMs).c_str(), who.c_str(), Clock(needMs, true).c_str(),
                       (needMs - endMs) / 1000, where.c_str(), file),
                input->file, marker);
        SuggestFill();
    }

    // The advice after a camera that does not reach; it is no problem of its own.
    static void SuggestFill() {
        PostContext("Project",
                    "Add fill( hold ) or fill( black ) to the input's block to show its first or "
                    "last picture, or black, where the recording does not reach");
    }

    // The capture's crop of the picture must make a scaler to the area's size.
    void CheckScaling(const CSInput* input, const Rect& area, std::uint32_t zoom,
                      const std::string& who, std::uint32_t marker) {
        const Media* media = Probe(input);
        if (!media || media->facts.width <= 0 || media->facts.height <= 0 ||
            !m_scaled.insert({input, area.Width(), area.Height(), zoom}).second) {
            return;
        }
        const VideoFacts& facts = media->facts;
        // Framed on the upright picture, as the capture frames it.
        const Orientation orientation = ShownOrientation(*input, facts);
        const int width = orientation.ShownWidth(facts.storedWidth, facts.storedHeight);
        const int height = orientation.ShownHeight(facts.storedWidth, facts.storedHeight);
        const Rect crop = ComputeSourceRect(width, height, static_cast<std::int32_t>(zoom), Rect{},
                                            area.Width(), area.Height(), input->focus);
        if (!ScalerAccepts(width, height, facts.pixelFormat, crop, area.Width(), area.Height(),
                           m_script.interpolation, orientation)) {
            Problem(Format("Input '%s' cannot be scaled: resize %u of its %ix%i picture leaves "
                           "%ix%i pixels for an area of %ix%i on %s (file %s)",
                           input->id.c_str(), zoom, width, height, std::max(crop.Width(), 0),
                           std::max(crop.Height(), 0), area.Width(), area.Height(), who.c_str(),
                           input->file.c_str()),
                    input->file, marker);
        }
    }

    const CScript& m_script;
    int m_problems = 0;
    // Frames that get the song's sound and its length; -1 without a usable WAVE file.
    std::int64_t m_songFrames = -1;
    double m_songMs = 0;
    double m_timelineEndMs = 0;  // where the render stops
    std::set<std::tuple<const CSInput*, std::int32_t, std::int32_t, std::uint32_t>> m_scaled;
    std::map<const CSInput*, Media> m_media;
    // One line per input and marker: the first block that falls outside the file.
    std::set<std::pair<const CSInput*, std::string>> m_reported;
};

}  // namespace

bool CheckOutputFolder(const std::string& path) {
    const std::string folder = FolderOf(path);
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        Message message{
            Severity::Error, "Project",
            Format("Output folder '%s' does not exist (file %s).", folder.c_str(), path.c_str())};
        message.file = path;
        Post(std::move(message));
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        Message message{Severity::Error, "Project",
                        Format("Output folder '%s' is not writable: %s (file %s).", folder.c_str(),
                               std::strerror(errno), path.c_str())};
        message.file = path;
        Post(std::move(message));
        return false;
    }
    return true;
}

bool CheckMedia(const CScript& script, bool writesOutput, std::vector<Message>* found) {
    MediaChecker checker(script);
    const bool ok = checker.Run(writesOutput);
    if (found) {
        *found = checker.Found();
    }
    return ok;
}

std::string DescribeInput(const CSInput& input, const VideoFacts& facts) {
    const Orientation orientation = ShownOrientation(input, facts);
    std::string text = Format("Input '%s': %s, %ix%i", input.id.c_str(), facts.codec.c_str(),
                              orientation.ShownWidth(facts.storedWidth, facts.storedHeight),
                              orientation.ShownHeight(facts.storedWidth, facts.storedHeight));
    const std::string turn = DescribeOrientation(orientation);
    if (!turn.empty()) {
        text += " (" + turn + ")";
    }
    text += facts.variableRate ? std::string(", variable frame rate")
                               : Format(", %.5g fps", facts.shownRate);
    text += ", " + DescribeColour(facts.colour);
    const DeinterlaceMode mode = input.settings.deinterlace;
    if (facts.interlaced) {
        text += mode == DeinterlaceMode::Off ? ", interlaced, not deinterlaced"
                                             : ", interlaced, deinterlaced";
    } else if (mode == DeinterlaceMode::On) {
        text += ", deinterlaced";
    }
    return text + " (file " + input.file + ").\n";
}

}  // namespace zorvo
