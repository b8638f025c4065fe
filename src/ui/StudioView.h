#pragma once

#include <QElapsedTimer>
#include <QIODevice>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "media/WaveFile.h"
#include "ui/ThreadNotifier.h"
#include "ui/TimelineView.h"

#include "sync/MarkerEdit.h"

class QAudioSink;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace zorvo {

class CZorvoDlg;
class FrameEngine;
class PlaybackFeeder;
class ProxyJob;
class ScriptEdits;
class TimelineView;
struct FedFrame;

// The composed frame at the playhead, scaled to fit with the picture's aspect kept, labelled
// with its own moment; a busy mark over it while the frame asked for is being made, and a
// "falling behind" mark while playback skips frames.
class PreviewView : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewView(QWidget* parent = nullptr);
    // Smooth scaling for a still; playback takes the fast kind. `label` names the picture's
    // moment.
    void Show(const QImage& picture, const QString& label, bool smooth = true);
    void SetBusy(bool busy);
    // Empty: not behind.
    void SetBehind(const QString& text);
    const QImage& Picture() const { return m_picture; }
    const QString& Label() const { return m_label; }
    bool Busy() const { return m_busy; }
    const QString& BehindText() const { return m_behind; }
    QSize sizeHint() const override { return {640, 360}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage m_picture;
    QString m_label;
    QString m_behind;
    bool m_smooth = true;
    bool m_busy = false;
};

// The song's samples as the audio output takes them. A thread of its own reads the WAVE file a
// little ahead (packed 24-bit samples widened to 32 bits on the way), so the output, which pulls
// on the window's thread, only copies from memory, and the song is never held whole.
class SongStream : public QIODevice {
  public:
    // `wave` is loaded; `fromFrame` is the sample frame to start at.
    SongStream(std::shared_ptr<const WaveFile> wave, std::uint64_t fromFrame);
    // Stops the reading thread and waits for it.
    ~SongStream() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

  protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    void ReadAhead(std::uint64_t frame);

    std::shared_ptr<const WaveFile> m_wave;
    std::uint64_t m_frame;  // the next frame the output takes
    std::uint64_t m_endFrame;
    int m_outBytes;  // bytes of one sample frame as played
    // Filled by the thread, emptied by readData: played bytes from m_head on, wrapping around.
    std::mutex m_mutex;
    std::condition_variable m_room;
    std::vector<char> m_ring;
    std::size_t m_head = 0;
    std::size_t m_filled = 0;
    bool m_ended = false;  // no more than what is in the ring
    bool m_stop = false;
    std::thread m_reader;
};

// The song's sound from a position on, through the system's audio output. Its
// clock is the output's own (what the device has taken), so the picture can
// follow the sound.
class SongSound {
  public:
    SongSound();
    ~SongSound();
    // Plays `wave` (opened, or null for none) from now on, measure 1 at `songStartMs` into the
    // file; false when its format cannot be played.
    bool Use(std::shared_ptr<const WaveFile> wave, std::int32_t songStartMs = 0);
    bool Loaded() const { return m_wave != nullptr; }
    // Starts at `ms`; false (and silent) when no output device takes it.
    bool Start(double ms);
    void Stop();
    // The song moment being played, in ms.
    double ClockMs() const;

  private:
    std::shared_ptr<const WaveFile> m_wave;
    int m_sampleBytes = 0;           // as played
    std::uint64_t m_leadFrames = 0;  // the song before measure 1, never played
    double m_startMs = 0;
    std::unique_ptr<SongStream> m_stream;
    std::unique_ptr<QAudioSink> m_sink;
};

// Reads the song off the window's thread, once per change of the file (its path, size and
// modification time): the peaks for the timeline and the opened file for the sound. A request
// while a read runs is done after it, once; `onRead` runs on the window's thread.
class SongReader {
  public:
    explicit SongReader(std::function<void()> onRead);
    // `songStartMs`: where measure 1 begins in the file; the peaks start there.
    void Request(const std::string& path, std::int32_t songStartMs);
    // What the last finished read gave: no peaks and no file when the song cannot be read.
    const WavePeaks& Peaks() const { return m_peaks; }
    std::shared_ptr<const WaveFile> Wave() const { return m_wave; }
    std::int32_t SongStartMs() const { return m_songStartMs; }

  private:
    struct Stamp {
        std::string path;
        long long size = -1, modifiedNs = -1;
        std::int32_t songStartMs = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Wanted {
        std::string path;
        std::int32_t songStartMs = 0;
    };
    static Stamp StampOf(const std::string& path, std::int32_t songStartMs);
    void Read(const Wanted& wanted);
    void Done();

    std::function<void()> m_onRead;
    std::int32_t m_songStartMs = 0;  // of what was last handed over
    // Written by the thread, read after it has been joined.
    Stamp m_read;  // the file the results are of
    bool m_changed = false;
    WavePeaks m_peaks;
    std::shared_ptr<const WaveFile> m_wave;
    NewestRequest<Wanted> m_thread;
};

// Opens the preview's engine off the window's thread: it probes every camera of the script, which a
// slow disk, a huge file or a network folder makes take seconds. A request while an open runs is
// done after it, once, with the newest script; `onOpened` runs on the window's thread, and the
// lines the open posted are posted there, before it, so those of a discarded open never show.
class EngineOpener {
  public:
    explicit EngineOpener(std::function<void()> onOpened);
    void Request(const std::string& scriptPath) { m_thread.Ask(scriptPath); }
    bool Opening() const { return m_thread.Busy(); }
    // What the last finished open gave, taken once: null when the script or its media failed.
    std::unique_ptr<FrameEngine> TakeEngine();
    // The cameras' proxies found for that engine, and how many cameras could have one.
    const std::map<std::string, std::string>& Proxies() const { return m_proxies; }
    std::size_t Cameras() const { return m_cameras; }

  private:
    void Open(const std::string& path);
    void Done();

    std::function<void()> m_onOpened;
    // Written by the thread, read after it has been joined.
    std::unique_ptr<FrameEngine> m_engine;
    std::map<std::string, std::string> m_proxies;
    std::size_t m_cameras = 0;
    std::vector<std::string> m_lines;
    NewestRequest<std::string> m_thread;
};

// The studio: the timeline of the open script, the preview of the frame at its
// playhead and playback with sound. A click or a drag composes the frame the
// render would write there, off the window's thread (the latest request wins);
// Space plays from the playhead with the picture kept to the sound's clock.
class StudioView : public QWidget {
    Q_OBJECT
  public:
    explicit StudioView(QWidget* parent = nullptr);
    ~StudioView() override;

    // Places a new studio in the main window (which then owns it) and follows its script: an
    // opened script starts at its beginning, one re-read after a change keeps the playhead.
    static StudioView* AttachTo(CZorvoDlg& window);

    // (Re)reads the script: timeline, waveform and preview engine; the playhead goes to the
    // start or, for a script re-read after a change, stays where it was. False (the script's
    // lines posted) when it does not load or validate; the view then keeps the last good one.
    // The engine and the song are opened off the window's thread; meanwhile the preview keeps
    // its last picture and the status says the cameras are being opened.
    bool LoadScript(const QString& path, bool keepPlayhead = false);
    void Close();

    TimelineView* Timeline() const { return m_timeline; }
    PreviewView* Preview() const { return m_preview; }
    bool Playing() const { return m_playing; }
    // Whether the preview's engine is being opened for the script last loaded.
    bool Opening() const { return m_opener.Opening(); }
    // Says where the playhead is, or that playback is silent.
    QString Readout() const;
    QString Status() const;
    // Moves the playhead to a moment typed as `zorvo still --at` takes it; false (the status
    // says why, with both forms) when it names none.
    bool GoTo(const QString& moment);

    // The window's own edits of the cut, with their undo history.
    ScriptEdits& Edits() { return *m_edits; }
    void Edit(const MarkerEdit& edit);
    void Undo();
    void Redo();

    // Makes the proxies of the open script's cameras (or stops making them); the preview reads
    // them once they are there.
    void ToggleProxies();
    ProxyJob& Proxies() { return *m_proxies; }

  public slots:
    void SetPlayhead(double ms);
    void TogglePlay();
    void StopPlaying();

  private:
    // The song frame at `ms` when the preview can compose it; says why not otherwise.
    bool RenderedFrame(double ms, std::int64_t& frame);
    void StartClock();
    void Tick();
    void FrameReady();
    void ShowFrame(const FedFrame& frame);
    QString MomentLabel(std::int64_t frame) const;
    void UpdateReadout();
    void SongRead();
    void EngineOpened();
    static QString OpeningText();
    double ClockMs() const;
    int PreviewWidth(bool playing) const;
    void ShowContextMenu(QPointF at, QPoint global);
    void ProxiesFinished();

    TimelineView* m_timeline;
    QPointer<PreviewView> m_preview;  // the window that shows it may own it
    QLineEdit* m_readout;
    QLabel* m_status;
    std::unique_ptr<FrameEngine> m_engine;
    std::unique_ptr<PlaybackFeeder> m_feeder;  // after the engine it runs: destroyed first
    SongSound m_sound;
    SongReader m_song;
    EngineOpener m_opener;
    bool m_playWhenOpened = false;  // playback was on when the script was re-read
    bool m_playing = false;
    bool m_clockRunning = false;  // the sound (or the steady clock) has started
    bool m_silent = false;
    double m_playStartMs = 0;
    QElapsedTimer m_steady;  // the clock of silent playback
    QTimer m_tick;
    QString m_scriptPath;
    QPointer<CZorvoDlg> m_window;  // follows the file for the studio, when there is one
    std::unique_ptr<ScriptEdits> m_edits;
    QString m_proxyNote;  // what the preview reads, when proxies
    QPushButton* m_proxyButton;
    QProgressBar* m_proxyBar;
    QTimer m_proxyPoll;
    std::unique_ptr<ProxyJob> m_proxies;
};

}  // namespace zorvo
