#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "capture/DecoderPool.h"
#include "common/FrameBitmap.h"
#include "preview/FrameSource.h"
#include "script/Script.h"

namespace zorvo {

// A moment of the song as a user writes it: "mm:ss.mmm" (minutes optional, "1:05", "0:07.250"),
// seconds ("42", "12.5s"), or MEASURE.BEAT ("9.1" is the first beat of measure 9; two whole
// numbers joined by a dot always mean a beat, so fractional seconds take the "s"). A beat is
// written without leading zeros: "7.05" reads as seconds to a reader as much as a beat.
struct SongMoment {
    bool musical = false;  // MEASURE.BEAT rather than a time
    double ms = 0;         // a time: ms from the first marker
    int measure = 0;
    int beat = 0;      // counted from 1
    std::string text;  // as written, for the lines that name it
};

// Both ways of naming a moment, for the lines that refuse one.
extern const char* const kSongMomentForms;

// False (no log line) when the text is none of the forms above.
bool ParseSongMoment(const std::string& text, SongMoment& moment);

// The song frame of a moment in a loaded and validated script: the frame the render writes at
// that time, or the one in which the beat begins, placed by the render's own walk over the
// spans. False after a log line when the beat does not exist or lies at or past the song's end;
// the line gives the whole song's length and both forms.
bool SongFrameOf(const CScript& script, const SongMoment& moment, std::int64_t& frame);

// "mm:ss.mmm" of the start of a song frame.
std::string SongClockOf(std::int64_t frame);
// "MEASURE.BEAT" of the beat a song frame lies in, with "+" when the frame does not start on
// it; empty past the song's end.
std::string MeasureBeatOf(const CScript& script, std::int64_t frame);

// Composes single frames of a session exactly as the render writes them (overlay at the index
// the render reaches, fades, strobe, slow motion, separators, labels), through the render's
// walk and composition, at the script's size or at a preview size with the layout computed for
// that size. Decoders stay open in the engine's pool between requests, so a frame near the
// previous one is fast. Compose runs on one thread at a time; Cancel may come from any thread.
class FrameEngine : public FrameSource {
  public:
    // `script` is loaded and validated; the engine owns it from now on.
    explicit FrameEngine(std::unique_ptr<CScript> script, DecoderPool::Limits decoders = {});
    ~FrameEngine() override;
    FrameEngine(const FrameEngine&) = delete;
    FrameEngine& operator=(const FrameEngine&) = delete;

    // Loads and validates the script at `path` and makes an engine for it; null after the
    // script's own lines and the engine's.
    static std::unique_ptr<FrameEngine> Open(const std::string& path,
                                             DecoderPool::Limits decoders = {});

    const CScript& Script() const { return *m_script; }
    // Frames of the whole song, as the render numbers them; Compose takes 0 to FrameCount() - 1.
    std::int64_t FrameCount() const override { return m_frameCount; }
    // The picture size for a preview `width` pixels wide: the script's aspect, both even. A
    // width of 0 (or the script's width or more) gives the script's own size.
    void SizeFor(int width, int& outWidth, int& outHeight) const;

    // Composes song frame `frame` into `picture` (allocated as needed) at SizeFor(width). Frames
    // of spans a `range` skips are composed as if rendered. False after a log line, or without
    // one when cancelled.
    bool Compose(std::int64_t frame, FrameBitmap& picture, int width = 0) override;
    // Makes a running Compose, and any later one, give up soon, until ClearCancel.
    void Cancel() override { m_cancel = true; }
    void ClearCancel() override { m_cancel = false; }
    // Whether a cancel has come since the last ClearCancel.
    bool Cancelled() const override { return m_cancel.load(); }
    // While playing, the captures run a few more pictures ahead, and those of the next block
    // start while the current one is composed; a still drops them. Called from the thread that
    // composes.
    void SetPlaying(bool playing) override { m_playing = playing; }

    DecoderPool& Decoders() { return m_decoders; }

    // Camera files to read instead of the script's (their proxies, made with the camera's own
    // timestamps, so every frame shows the same moment, smaller); the overlay keeps its own.
    // Set before the first Compose.
    void ReadInstead(std::map<std::string, std::string> files) { m_instead = std::move(files); }
    const std::map<std::string, std::string>& FilesReadInstead() const { return m_instead; }

  private:
    struct State;

    std::unique_ptr<CScript> m_script;
    DecoderPool m_decoders;
    std::int64_t m_frameCount = 0;
    std::atomic<bool> m_cancel{false};
    bool m_playing = false;
    const std::size_t m_cores = std::max(1u, std::thread::hardware_concurrency());
    std::map<std::string, std::string> m_instead;
    std::unique_ptr<State> m_state;
};

}  // namespace zorvo
