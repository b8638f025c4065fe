#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

class QAudioSink;
class QBuffer;
class QLabel;

namespace zorvo {

class CZorvoDlg;
class FrameEngine;
class PlaybackFeeder;
class TimelineView;
struct FedFrame;

// The composed frame at the playhead, scaled to fit with the picture's aspect
// kept.
class PreviewView : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewView(QWidget* parent = nullptr);
    // Smooth scaling for a still; playback takes the fast kind.
    void Show(const QImage& picture, bool smooth = true);
    const QImage& Picture() const { return m_picture; }
    QSize sizeHint() const override { return {640, 360}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage m_picture;
    bool m_smooth = true;
};

// The song's sound from a position on, through the system's audio output. Its
// clock is the output's own (what the device has taken), so the picture can
// follow the sound.
class SongSound {
  public:
    SongSound();
    ~SongSound();
    // Reads the WAVE; false when there is none or its format cannot be played.
    // The song from `songStartMs` on: measure 1 plays at the sound's start.
    bool Load(const std::string& path, std::int32_t songStartMs = 0);
    bool Loaded() const { return !m_pcm.isEmpty(); }
    // Starts at `ms`; false (and silent) when no output device takes it.
    bool Start(double ms);
    void Stop();
    // The song moment being played, in ms.
    double ClockMs() const;

  private:
    QByteArray m_pcm;
    int m_bytesPerFrame = 0;
    int m_rate = 0;
    int m_channels = 0;
    int m_sampleBytes = 0;
    double m_startMs = 0;
    std::unique_ptr<QBuffer> m_buffer;
    std::unique_ptr<QAudioSink> m_sink;
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
    bool LoadScript(const QString& path, bool keepPlayhead = false);
    void Close();

    TimelineView* Timeline() const { return m_timeline; }
    PreviewView* Preview() const { return m_preview; }
    bool Playing() const { return m_playing; }
    // Says where the playhead is, or that playback is silent.
    QString Readout() const;

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
    void UpdateReadout();
    double ClockMs() const;
    int PreviewWidth(bool playing) const;

    TimelineView* m_timeline;
    QPointer<PreviewView> m_preview;  // the window that shows it may own it
    QLabel* m_readout;
    QLabel* m_status;
    std::unique_ptr<FrameEngine> m_engine;
    std::unique_ptr<PlaybackFeeder> m_feeder;  // after the engine it runs: destroyed first
    SongSound m_sound;
    bool m_playing = false;
    bool m_clockRunning = false;  // the sound (or the steady clock) has started
    bool m_silent = false;
    double m_playStartMs = 0;
    QElapsedTimer m_steady;  // the clock of silent playback
    QTimer m_tick;
};

}  // namespace zorvo
