#include "preview/FrameEngine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "capture/FFMPEGCapture.h"
#include "capture/ImageAdjustments.h"
#include "check/MediaCheck.h"
#include "common/LogChannel.h"
#include "compose/FrameComposition.h"
#include "timeline/CapturePlan.h"
#include "timeline/TimelineWalk.h"
#include "timeline/Viewport.h"

namespace zorvo {

namespace {

// A next block's captures, started at its first frame, serve a request this many pictures into
// it at most; further in, fresh captures seek closer.
constexpr std::uint32_t kAdoptWithin = 12;

// Reads a whole unsigned decimal number; false on anything else.
bool ReadWhole(const std::string& text, long long& value) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    value = std::atoll(text.c_str());
    return true;
}

// Reads a plain decimal number of seconds ("12", "12.5", ".5"); false on anything else.
bool ReadSeconds(const std::string& text, double& seconds) {
    const auto dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    long long unused = 0;
    if ((whole.empty() && fraction.empty()) || (!whole.empty() && !ReadWhole(whole, unused)) ||
        (dot != std::string::npos && !ReadWhole(fraction, unused))) {
        return false;
    }
    seconds = std::strtod(text.c_str(), nullptr);
    return std::isfinite(seconds);
}

// The span of the walk in which song frame `frame` lies, with the block holding it.
struct Place {
    TimelineSpan span;
    TimelineBlock block;
};

std::optional<Place> FindPlace(const CScript& script, int width, int height, std::int64_t frame) {
    std::optional<Place> place;
    WalkTimelineAt(script, width, height, [&](const TimelineSpan& span) {
        if (frame < span.blocks.firstFrame || frame >= span.blocks.endFrame) {
            return WalkStep::Next;
        }
        ForEachBlock(span, [&](const TimelineBlock& block) {
            if (frame >= block.firstFrame && frame < block.endFrame) {
                place = Place{span, block};
                return false;
            }
            return true;
        });
        return WalkStep::End;
    });
    return place;
}

// Makes and launches the captures of the block of `place` from its frame `j` on.
bool MakeCaptures(const Place& place, std::uint32_t j, const CaptureSetup& setup, std::size_t cores,
                  std::vector<std::unique_ptr<CViewport>>& viewports) {
    const TimelineSpan& s = place.span;
    const TimelineBlock& b = place.block;
    const auto blockFrames = static_cast<std::uint32_t>(b.endFrame - b.firstFrame);
    viewports.clear();
    // The captures to make, and which of them each area shows.
    std::vector<CaptureOptions> planned;
    std::vector<std::size_t> shows;
    for (size_t d = 0; d < s.rects.size(); ++d) {
        auto viewport = std::make_unique<CViewport>(s.marker->displays[d], s.rects[d]);
        viewport->m_period = s.periods[d];
        viewport->m_inputs = s.inputs[d];
        viewport->m_freeLuts = false;  // built once, they serve every later request
        viewport->m_current = b.areas[d].inputIndex;
        const BlockArea& area = b.areas[d];
        CaptureOptions options = PlanAreaCapture(setup, *viewport, area, blockFrames,
                                                 SourcePictureFor(j, area.speed).index);
        viewport->m_nextRelease = options.firstFrame;
        const auto same = std::find_if(planned.begin(), planned.end(), [&](const auto& c) {
            return c.input == options.input && c.startMs == options.startMs &&
                   c.frameCount == options.frameCount && c.firstFrame == options.firstFrame;
        });
        shows.push_back(static_cast<std::size_t>(same - planned.begin()));
        if (same == planned.end()) {
            planned.push_back(std::move(options));
        }
        viewports.push_back(std::move(viewport));
    }
    // Each capture decodes on a thread of its own; with fewer cameras than cores, a playing
    // decoder takes the cores left over in frame threads of its own.
    const bool threads = setup.playing && planned.size() < cores;
    std::vector<std::shared_ptr<CFFMPEGCapture>> captures;
    for (CaptureOptions& options : planned) {
        options.libraryThreads = threads;
        captures.push_back(std::make_shared<CFFMPEGCapture>(std::move(options)));
    }
    std::vector<bool> made(captures.size(), false);
    for (size_t d = 0; d < viewports.size(); ++d) {
        CViewport& viewport = *viewports[d];
        viewport.m_pCapture = captures[shows[d]];
        viewport.m_output = made[shows[d]]
                                ? viewport.m_pCapture->AddOutput(viewport.m_pRect.Width(),
                                                                 viewport.m_pRect.Height())
                                : 0;
        made[shows[d]] = true;
    }
    for (const auto& viewport : viewports) {
        if (viewport->m_output == 0) {
            if (!viewport->m_pCapture->Launch()) {
                viewports.clear();
                return false;
            }
        }
    }
    return true;
}

}  // namespace

const char* const kSongMomentForms =
    "a time as mm:ss.mmm (0:07.500) or as seconds with s (7.5s), or MEASURE.BEAT (7.1: "
    "measure 7, beat 1)";

bool ParseSongMoment(const std::string& text, SongMoment& moment) {
    moment = {};
    moment.text = text;
    const auto colon = text.find(':');
    if (colon != std::string::npos) {
        long long minutes = 0;
        double seconds = 0;
        if (!ReadWhole(text.substr(0, colon), minutes) ||
            !ReadSeconds(text.substr(colon + 1), seconds) || seconds >= 60) {
            return false;
        }
        moment.ms = (static_cast<double>(minutes) * 60 + seconds) * 1000;
        return true;
    }
    if (!text.empty() && text.back() == 's') {
        double seconds = 0;
        if (!ReadSeconds(text.substr(0, text.size() - 1), seconds)) {
            return false;
        }
        moment.ms = seconds * 1000;
        return true;
    }
    const auto dot = text.find('.');
    long long whole = 0;
    if (dot == std::string::npos) {
        if (!ReadWhole(text, whole)) {
            return false;
        }
        moment.ms = static_cast<double>(whole) * 1000;
        return true;
    }
    long long beat = 0;
    const std::string beatText = text.substr(dot + 1);
    if (!ReadWhole(text.substr(0, dot), whole) || !ReadWhole(beatText, beat) || beat == 0 ||
        beatText[0] == '0') {
        return false;
    }
    moment.musical = true;
    moment.measure = static_cast<int>(whole);
    moment.beat = static_cast<int>(beat);
    return true;
}

bool SongFrameOf(const CScript& script, const SongMoment& moment, std::int64_t& frame) {
    // The whole walk, whatever the moment: the refusal gives the song's length and measures.
    std::int64_t end = 0;
    std::uint32_t firstMeasure = 0;
    std::uint32_t lastMeasure = 0;
    std::optional<std::int64_t> found;
    bool first = true;
    const bool walked = WalkTimeline(script, false, [&](const TimelineSpan& span) {
        if (first) {
            firstMeasure = span.marker->measure;
            first = false;
        }
        end = span.blocks.endFrame;
        lastMeasure = span.next->measure - 1;
        const auto measure = static_cast<std::uint32_t>(std::max(moment.measure, 0));
        if (moment.musical && measure >= span.marker->measure && measure < span.next->measure &&
            moment.beat >= 1 && moment.beat <= span.carried.beatCount) {
            found = SongFrame(span.blocks.position +
                              (measure - span.marker->measure) * span.timing.measure +
                              (moment.beat - 1) * span.timing.beat);
        }
        return WalkStep::Next;
    });
    if (!walked) {
        return false;
    }
    if (!moment.musical) {
        found = SongFrame(moment.ms);
    }
    if (!found || *found < 0 || *found >= end) {
        const std::string what = moment.musical
                                     ? Format("measure %i, beat %i", moment.measure, moment.beat)
                                     : SongClockOf(SongFrame(moment.ms));
        PostQuoted("Error (FrameEngine): No frame of the song lies at '", moment.text,
                   Format("' (%s; the song has %lld frames, %s, measures %u to %u). A moment is "
                          "%s.\n",
                          what.c_str(), static_cast<long long>(end), SongClockOf(end).c_str(),
                          firstMeasure, lastMeasure, kSongMomentForms));
        return false;
    }
    frame = *found;
    return true;
}

std::string SongClockOf(std::int64_t frame) {
    const long long ms = std::max<long long>(frame, 0) * 40;
    return Format("%02lld:%02lld.%03lld", ms / 60000, ms / 1000 % 60, ms % 1000);
}

std::string MeasureBeatOf(const CScript& script, std::int64_t frame) {
    std::string text;
    WalkTimeline(script, false, [&](const TimelineSpan& span) {
        if (frame < span.blocks.firstFrame || frame >= span.blocks.endFrame) {
            return WalkStep::Next;
        }
        // The last beat that starts before the frame ends; "+" when it starts in an earlier
        // frame.
        const auto beatAt = [&](double t, double& start) {
            const double measures =
                span.timing.measure > 0 ? std::floor(t / span.timing.measure + 1e-6) : 0;
            const double beats =
                span.timing.beat > 0
                    ? std::floor((t - measures * span.timing.measure) / span.timing.beat + 1e-6)
                    : 0;
            start =
                span.blocks.position + measures * span.timing.measure + beats * span.timing.beat;
            return Format(
                "%lld.%lld",
                static_cast<long long>(span.marker->measure) + static_cast<long long>(measures),
                static_cast<long long>(beats) + 1);
        };
        double start = 0;
        text = beatAt(static_cast<double>(frame + 1) * 40 - span.blocks.position - 1e-3, start);
        if (SongFrame(start) != frame) {
            text = beatAt(static_cast<double>(frame) * 40 - span.blocks.position, start) + "+";
        }
        return WalkStep::End;
    });
    return text;
}

// The block whose captures are open, and the overlay's capture, kept between requests.
struct FrameEngine::State {
    LabelFont font;
    std::optional<Place> place;  // of the open captures
    int width = 0;
    int height = 0;
    std::vector<std::unique_ptr<CViewport>> viewports;
    CSInput* overlayInput = nullptr;
    std::unique_ptr<CFFMPEGCapture> overlay;
    int overlayWidth = 0;
    int overlayHeight = 0;
    std::uint32_t overlayNextRelease = 0;
    std::int64_t skippedEnd = 0;  // the first frame a range lets the render compose
    // While playing, the next block's captures, launched early.
    std::optional<Place> earlyPlace;
    std::vector<std::unique_ptr<CViewport>> early;
    std::int64_t earlyTried = -1;  // the block end they were last made for
    std::uint64_t turns = 0;
};

FrameEngine::FrameEngine(std::unique_ptr<CScript> script, DecoderPool::Limits decoders)
    : m_script(std::move(script)), m_decoders(decoders), m_state(std::make_unique<State>()) {
    m_state->font.Load();
    WalkTimeline(*m_script, false, [&](const TimelineSpan& span) {
        m_frameCount = span.blocks.endFrame;
        if (span.skipped) {
            m_state->skippedEnd = span.blocks.endFrame;
        }
        return WalkStep::Next;
    });
    if (!m_script->overlay.inputId.empty()) {
        InputList list;
        if (m_script->BuildInputList(m_script->overlay.inputId, list) && !list.empty()) {
            m_state->overlayInput = list.front();
        }
    }
}

FrameEngine::~FrameEngine() {
    // Captures go before the script whose inputs they read.
    m_state.reset();
}

std::unique_ptr<FrameEngine> FrameEngine::Open(const std::string& path,
                                               DecoderPool::Limits decoders) {
    auto script = std::make_unique<CScript>(path);
    if (!script->Load()) {
        PostLog("Error (FrameEngine): Failed to parse script.\n");
        return nullptr;
    }
    if (!script->Validate()) {
        PostLog("Error (FrameEngine): Failed to validate script.\n");
        return nullptr;
    }
    if (!CheckMedia(*script, false)) {
        PostLog("Error (FrameEngine): Failed to check media.\n");
        return nullptr;
    }
    return std::make_unique<FrameEngine>(std::move(script), decoders);
}

void FrameEngine::SizeFor(int width, int& outWidth, int& outHeight) const {
    const int w = m_script->width;
    const int h = m_script->height;
    if (width <= 0 || width >= w) {
        outWidth = w;
        outHeight = h;
        return;
    }
    outWidth = std::max(2, width & ~1);
    const long long height = (static_cast<long long>(outWidth) * h + w / 2) / w;
    outHeight = std::max(2, static_cast<int>(height) & ~1);
}

bool FrameEngine::Compose(std::int64_t frame, FrameBitmap& picture, int width) {
    if (m_cancel) {
        return false;
    }
    State& state = *m_state;
    if (frame < 0 || frame >= m_frameCount) {
        PostLog(
            Format("Error (FrameEngine): Frame %lld lies outside the song (frames 0 to %lld).\n",
                   static_cast<long long>(frame), static_cast<long long>(m_frameCount - 1)));
        return false;
    }
    int w = 0;
    int h = 0;
    SizeFor(width, w, h);
    std::optional<Place> place = FindPlace(*m_script, w, h, frame);
    if (!place) {
        PostLog(Format("Error (FrameEngine): No block holds frame %lld.\n",
                       static_cast<long long>(frame)));
        return false;
    }
    const TimelineSpan& span = place->span;
    const TimelineBlock& block = place->block;
    const auto j = static_cast<std::uint32_t>(frame - block.firstFrame);
    const auto setup = [&](bool beforeBlock) {
        CaptureSetup setup{CaptureUse::Preview, m_script->interpolation, &m_decoders, &m_instead};
        setup.playing = m_playing;
        // One turn for the block: its captures of one file do not wait for each other; a next
        // block's capture waits for this block's capture of its file to give the decoder back.
        setup.turn = ++state.turns;
        setup.beforeBlock = beforeBlock;
        return setup;
    };

    // The open captures serve a later frame of their block; any other needs new ones.
    bool reuse = state.place && state.width == w && state.height == h &&
                 state.place->span.marker == span.marker && state.place->block.index == block.index;
    for (size_t d = 0; reuse && d < state.viewports.size(); ++d) {
        const CViewport& viewport = *state.viewports[d];
        reuse = !viewport.m_pCapture->m_bFailed &&
                SourcePictureFor(j, block.areas[d].speed).index >= viewport.m_nextRelease;
    }
    if (!m_playing) {
        state.early.clear();  // a still wants no next block; their decoders go back
        state.earlyPlace.reset();
    }
    if (!reuse) {
        // The next block's captures, launched while the one before was played, serve its
        // frames from near its start: they have been decoding them meanwhile.
        bool early = state.earlyPlace && state.width == w && state.height == h &&
                     state.earlyPlace->span.marker == span.marker &&
                     state.earlyPlace->block.index == block.index;
        for (size_t d = 0; early && d < state.early.size(); ++d) {
            const CViewport& viewport = *state.early[d];
            const std::uint32_t index = SourcePictureFor(j, block.areas[d].speed).index;
            early = !viewport.m_pCapture->m_bFailed && index >= viewport.m_nextRelease &&
                    index < viewport.m_nextRelease + kAdoptWithin;
        }
        if (!early) {
            state.early.clear();
            state.earlyPlace.reset();
        }
        // Captures stopped between two pictures give their decoders back.
        for (const auto& viewport : state.viewports) {
            viewport->m_pCapture->WaitBetweenPictures();
        }
        state.viewports.clear();
        state.width = w;
        state.height = h;
        if (early) {
            state.viewports = std::move(state.early);
            state.place = std::move(state.earlyPlace);
            state.early.clear();
            state.earlyPlace.reset();
            for (const auto& viewport : state.viewports) {
                if (viewport->m_output == 0) {
                    viewport->m_pCapture->BeginBlock();
                }
            }
        } else {
            state.place = std::move(place);
            if (!MakeCaptures(*state.place, j, setup(false), m_cores, state.viewports)) {
                PostLog("Error (FrameEngine): Failed to start capture.\n");
                state.viewports.clear();
                state.place.reset();
                return false;
            }
        }
        state.earlyTried = -1;
    }
    // The render composes every frame from the range's start on, so the overlay has moved on
    // by as many; before that, as if the range were not there.
    FrameOverlay overlay;
    if (state.overlayInput && m_script->overlay.loopFrames > 0) {
        const auto loop = static_cast<std::int64_t>(m_script->overlay.loopFrames);
        const auto index = static_cast<std::uint32_t>(
            (frame >= state.skippedEnd ? frame - state.skippedEnd : frame) % loop);
        if (!state.overlay || state.overlay->m_bFailed || state.overlayWidth != w ||
            state.overlayHeight != h || index < state.overlayNextRelease) {
            CSInput& input = *state.overlayInput;
            if (state.overlay) {
                state.overlay->WaitBetweenPictures();
            }
            state.overlay.reset();
            // The overlay is read from its own file, proxies or not.
            CaptureOptions options =
                PlanOverlayCapture({CaptureUse::Preview, m_script->interpolation, &m_decoders},
                                   *m_script, &input, w, h, index);
            state.overlayNextRelease = options.firstFrame;
            state.overlay = std::make_unique<CFFMPEGCapture>(std::move(options));
            state.overlayWidth = w;
            state.overlayHeight = h;
            if (!state.overlay->Launch()) {
                PostLog("Error (FrameEngine): Failed to start overlay capture.\n");
                state.overlay.reset();
                return false;
            }
        }
        while (!(overlay.picture = state.overlay->GetBitmap(index))) {
            if (state.overlay->m_bFailed) {
                PostLog("Error (FrameEngine): Failed to capture overlay source video frames.\n");
                return false;
            }
            if (m_cancel) {
                return false;
            }
        }
        overlay.input = state.overlayInput;
        for (; state.overlayNextRelease < index; ++state.overlayNextRelease) {
            state.overlay->ReleaseBitmap(state.overlayNextRelease);
        }
    }

    for (size_t d = 0; d < state.viewports.size(); ++d) {
        CFFMPEGCapture& capture = *state.viewports[d]->m_pCapture;
        const std::uint32_t index = SourcePictureFor(j, state.place->block.areas[d].speed).index;
        while (!capture.GetBitmap(index, state.viewports[d]->m_output)) {
            if (capture.m_bFailed) {
                PostLog("Error (FrameEngine): Failed to capture source video frames.\n");
                state.viewports.clear();
                state.place.reset();
                return false;
            }
            if (m_cancel) {
                return false;
            }
        }
    }

    if ((picture.Width() != w || picture.Height() != h) && !picture.Allocate(w, h)) {
        PostLog("Error (FrameEngine): Failed to allocate a frame.\n");
        return false;
    }
    std::memset(picture.Bits(), 0, picture.SizeBytes());
    // The adjustments pixel by pixel: a frame or a few cost far less than the 2^24 entries of a
    // whole table (the same bytes either way).
    for (const auto& viewport : state.viewports) {
        if (viewport->Current()->settings.lutKind == LutKind::None) {
            BuildLut(viewport->Current()->settings, false);
        }
    }
    if (overlay.input && overlay.input->settings.lutKind == LutKind::None) {
        BuildLut(overlay.input->settings, false);
    }
    FrameValues values = ValuesFor(state.place->span, state.place->block);
    values.frame = j;
    if (!ComposeFrame(values, state.viewports, overlay, m_script->debug, state.font, m_cancel,
                      picture)) {
        PostLog("Error (FrameEngine): Failed to compose the frame.\n");
        return false;
    }
    if (m_playing && !state.earlyPlace && state.earlyTried != state.place->block.endFrame &&
        state.place->block.endFrame < m_frameCount) {
        // Playback goes on into the next block: its captures start now, each once the
        // capture of its file in this block has given the decoder back (or at once, for a
        // file this block does not show), so that decoding never waits for a block change.
        state.earlyTried = state.place->block.endFrame;
        std::optional<Place> next = FindPlace(*m_script, w, h, state.place->block.endFrame);
        if (next && MakeCaptures(*next, 0, setup(true), m_cores, state.early)) {
            state.earlyPlace = std::move(next);
        } else {
            state.early.clear();  // the block's own start makes them again, or says why not
        }
    }
    return !m_cancel;
}

}  // namespace zorvo
