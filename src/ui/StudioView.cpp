#include "ui/StudioView.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QPainter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/LogChannel.h"
#include "media/WaveFile.h"
#include "preview/FrameEngine.h"
#include "preview/Playback.h"
#include "script/Script.h"
#include "script/SpanTiming.h"
#include "ui/TimelineView.h"
#include "ui/ZorvoDlg.h"

namespace zorvo {

namespace {

// Stills are composed as wide as the preview shows them (the script's size at most); playback
// composes at most this wide, which two cores keep up with at 25 frames a second.
constexpr int kPlaybackWidth = 640;

QImage ToImage(const FrameBitmap& bitmap) {
    // Bottom-up BGR rows: wrap, then flip into a top-down copy.
    const QImage rows(bitmap.Bits(), bitmap.Width(), bitmap.Height(),
                      static_cast<qsizetype>(bitmap.Stride()), QImage::Format_BGR888);
    return rows.mirrored(false, true);
}

}  // namespace

PreviewView::PreviewView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PreviewView::Show(const QImage& picture, bool smooth) {
    m_picture = picture;
    m_smooth = smooth;
    update();
}

void PreviewView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (m_picture.isNull()) {
        return;
    }
    const QSize size = m_picture.size().scaled(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    p.setRenderHint(QPainter::SmoothPixmapTransform, m_smooth);
    p.drawImage(target, m_picture);
}

SongSound::SongSound() = default;
SongSound::~SongSound() {
    Stop();
}

bool SongSound::Load(const std::string& path, std::int32_t songStartMs) {
    Stop();
    m_pcm.clear();
    WaveFile wave;
    if (path.empty() || !wave.Inspect(path) || wave.channels == 0) {
        return false;
    }
    m_channels = wave.channels;
    m_rate = static_cast<int>(wave.samplesPerSecond);
    m_sampleBytes = wave.blockAlign / wave.channels;
    const auto lead = std::min<std::uint64_t>(
        std::uint64_t(std::max(0, songStartMs)) * wave.samplesPerSecond / 1000,
        wave.dataSize / wave.blockAlign);
    const char* data =
        reinterpret_cast<const char*>(wave.Data() + wave.dataOffset + lead * wave.blockAlign);
    const auto frames = static_cast<qsizetype>(wave.dataSize / wave.blockAlign - lead);
    if (m_sampleBytes == 3) {
        // The output takes no packed 24-bit samples: widen them to 32 bits once.
        m_pcm.resize(frames * m_channels * 4);
        char* out = m_pcm.data();
        for (qsizetype i = 0; i < frames * m_channels; ++i) {
            out[i * 4] = 0;
            std::memcpy(out + i * 4 + 1, data + i * 3, 3);
        }
        m_sampleBytes = 4;
    } else if (m_sampleBytes == 1 || m_sampleBytes == 2 || m_sampleBytes == 4) {
        m_pcm = QByteArray(data, frames * wave.blockAlign);
    } else {
        return false;
    }
    m_bytesPerFrame = m_sampleBytes * m_channels;
    return true;
}

bool SongSound::Start(double ms) {
    Stop();
    m_startMs = ms;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (!Loaded() || device.isNull()) {
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(m_rate);
    format.setChannelCount(m_channels);
    format.setSampleFormat(m_sampleBytes == 1   ? QAudioFormat::UInt8
                           : m_sampleBytes == 2 ? QAudioFormat::Int16
                                                : QAudioFormat::Int32);
    if (!device.isFormatSupported(format)) {
        return false;
    }
    const auto frame = static_cast<qint64>(std::max(0.0, ms) * m_rate / 1000.0);
    m_buffer = std::make_unique<QBuffer>(&m_pcm);
    m_buffer->open(QIODevice::ReadOnly);
    m_buffer->seek(std::min<qint64>(frame * m_bytesPerFrame, m_pcm.size()));
    m_sink = std::make_unique<QAudioSink>(device, format);
    m_sink->start(m_buffer.get());
    if (m_sink->error() != QAudio::NoError) {
        Stop();
        return false;
    }
    return true;
}

void SongSound::Stop() {
    if (m_sink) {
        m_sink->stop();
    }
    m_sink.reset();
    m_buffer.reset();
}

double SongSound::ClockMs() const {
    return m_startMs + (m_sink ? static_cast<double>(m_sink->processedUSecs()) / 1000.0 : 0.0);
}

StudioView::StudioView(QWidget* parent)
    : QWidget(parent),
      m_timeline(new TimelineView(this)),
      m_preview(new PreviewView(this)),
      m_readout(new QLabel(this)),
      m_status(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(2);
    // Its own height: what the window grows by goes to the preview.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    // The preview is placed by whoever shows the studio (the main window puts it beside its
    // Problems list); until then it stays a hidden child.
    m_preview->hide();
    auto* transport = new QHBoxLayout;
    transport->setContentsMargins(8, 0, 8, 0);
    m_readout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_readout->setToolTip(tr("The playhead: song time and measure.beat"));
    m_readout->setFixedWidth(m_readout->fontMetrics().horizontalAdvance("00:00.000   999.9+") + 8);
    transport->addWidget(m_readout);
    transport->addWidget(m_status, 1);
    layout->addLayout(transport);
    layout->addWidget(m_timeline);
    connect(m_timeline, &TimelineView::PlayheadMoved, this, &StudioView::SetPlayhead);
    connect(m_timeline, &TimelineView::PlayToggled, this, &StudioView::TogglePlay);
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(10);
    connect(&m_tick, &QTimer::timeout, this, &StudioView::Tick);
    m_status->setText(tr("Click the timeline to see a moment; Space plays from there."));
    UpdateReadout();
}

StudioView* StudioView::AttachTo(CZorvoDlg& window) {
    auto* studio = new StudioView;
    window.SetStudioWidgets(studio, studio->Preview());
    studio->Preview()->show();
    connect(&window, &CZorvoDlg::ScriptOpened, studio, [studio](const QString& path) {
        studio->LoadScript(path, false);
        studio->Timeline()->setFocus();
    });
    connect(&window, &CZorvoDlg::ScriptReloaded, studio,
            [studio](const QString& path) { studio->LoadScript(path, true); });
    connect(&window, &CZorvoDlg::ProblemsChecked, studio,
            [studio, &window] { studio->Timeline()->SetSongBeats(window.SongBeatsMs()); });
    return studio;
}

StudioView::~StudioView() {
    Close();
}

void StudioView::Close() {
    StopPlaying();
    m_feeder.reset();
    m_engine.reset();
}

bool StudioView::LoadScript(const QString& path, bool keepPlayhead) {
    const bool wasPlaying = m_playing;
    StopPlaying();
    // The timeline needs only the script; the preview needs its media too, so a script whose
    // media fail the check still shows its timeline.
    CScript script(path.toStdString());
    TimelineModel model;
    if (!script.Load() || !script.Validate() || !model.Build(script)) {
        return false;
    }
    m_feeder.reset();
    m_engine = FrameEngine::Open(path.toStdString());
    if (m_engine) {
        m_feeder = std::make_unique<PlaybackFeeder>(*m_engine, PreviewWidth(false));
        m_feeder->SetReadyCallback([this] {
            QMetaObject::invokeMethod(
                this, [this] { FrameReady(); }, Qt::QueuedConnection);
        });
    } else {
        if (m_preview) {
            m_preview->Show(QImage());
        }
        m_status->setText(tr("No preview: the media check failed (see the log)."));
    }
    WavePeaks peaks;
    peaks.Load(script.wavePath, script.songStartMs);
    m_timeline->SetPeaks(std::move(peaks));
    m_sound.Load(script.wavePath, script.songStartMs);
    m_timeline->SetModel(std::move(model));
    SetPlayhead(keepPlayhead ? m_timeline->Playhead() : 0);
    if (wasPlaying) {
        TogglePlay();
    }
    return true;
}

int StudioView::PreviewWidth(bool playing) const {
    const int shown = m_preview ? m_preview->width() : 0;
    return std::clamp(shown, 160, playing ? kPlaybackWidth : 1 << 14);
}

void StudioView::SetPlayhead(double ms) {
    if (m_playing) {
        StopPlaying();
    }
    m_timeline->SetPlayhead(ms);
    std::int64_t frame = 0;
    if (RenderedFrame(m_timeline->Playhead(), frame)) {
        m_feeder->SetWidth(PreviewWidth(false));
        m_feeder->Seek(frame, false);
    }
    UpdateReadout();
}

bool StudioView::RenderedFrame(double ms, std::int64_t& frame) {
    if (!m_feeder) {
        return false;
    }
    frame = SongFrame(ms);
    if (frame >= m_engine->FrameCount()) {
        // Past the range end, or the very end of the song: the render writes nothing there.
        m_status->setText(tr("No frame is rendered at this moment."));
        return false;
    }
    return true;
}

void StudioView::TogglePlay() {
    if (m_playing) {
        StopPlaying();
        return;
    }
    if (m_timeline->Model().spans.empty()) {
        return;
    }
    double from = m_timeline->Playhead();
    if (from >= m_timeline->Model().durationMs - 1) {
        from = 0;  // at the end, play from the start again
        m_timeline->SetPlayhead(0);
    }
    m_playStartMs = from;
    std::int64_t frame = 0;
    if (RenderedFrame(from, frame)) {
        m_feeder->SetWidth(PreviewWidth(true));
        m_feeder->Seek(frame, true);
    }
    m_playing = true;
    m_clockRunning = false;
    m_tick.start();
    Tick();
}

void StudioView::StartClock() {
    m_clockRunning = true;
    m_silent = !m_sound.Start(m_playStartMs);
    m_steady.start();
    m_status->setText(!m_silent ? tr("Playing.")
                      : m_sound.Loaded()
                          ? tr("Playing silent: no audio output device.")
                          : tr("Playing silent: the song's WAVE file cannot be played."));
}

void StudioView::StopPlaying() {
    if (!m_playing) {
        return;
    }
    m_playing = false;
    m_clockRunning = false;
    m_tick.stop();
    m_sound.Stop();
    if (m_feeder) {
        m_feeder->Pause();
        const auto shown = m_feeder->ShownCount();
        const auto skipped = m_feeder->SkippedCount();
        m_status->setText((m_silent ? tr("Stopped (played silent): %1 frames shown, %2 skipped.")
                                    : tr("Stopped: %1 frames shown, %2 skipped."))
                              .arg(shown)
                              .arg(skipped));
    }
}

double StudioView::ClockMs() const {
    if (!m_clockRunning) {
        return m_playStartMs;
    }
    // The picture follows the sound's clock; only without sound does a steady
    // clock drive it.
    return m_silent ? m_playStartMs + static_cast<double>(m_steady.nsecsElapsed()) / 1e6
                    : m_sound.ClockMs();
}

void StudioView::Tick() {
    if (!m_playing) {
        return;
    }
    if (!m_clockRunning) {
        // The sound starts once the first picture is there, or its first frames would all be
        // late.
        if (m_feeder && m_feeder->FirstQueued() < 0 && !m_feeder->Failed() &&
            SongFrame(m_playStartMs) < m_engine->FrameCount()) {
            return;
        }
        StartClock();
    }
    const double clock = ClockMs();
    if (clock >= m_timeline->Model().durationMs) {
        m_timeline->SetPlayhead(m_timeline->Model().durationMs);
        StopPlaying();
        UpdateReadout();
        return;
    }
    m_timeline->SetPlayhead(clock);
    FedFrame frame;
    if (m_feeder && m_feeder->TakeDue(clock, frame)) {
        ShowFrame(frame);
    }
    UpdateReadout();
}

void StudioView::FrameReady() {
    if (!m_feeder || m_playing) {
        return;  // while playing, the clock's tick picks the frames
    }
    FedFrame frame;
    if (m_feeder->TakeLatest(frame)) {
        ShowFrame(frame);
    }
}

void StudioView::ShowFrame(const FedFrame& frame) {
    if (m_preview && !frame.picture.Empty()) {
        m_preview->Show(ToImage(frame.picture), !m_playing);
    }
}

QString StudioView::Readout() const {
    return m_readout->text();
}

void StudioView::UpdateReadout() {
    const double ms = m_timeline->Playhead();
    const MusicalPosition at = m_timeline->Model().PositionAt(ms);
    const auto total = static_cast<long long>(std::llround(std::max(0.0, ms)));
    m_readout->setText(QString::asprintf(
        "%02lld:%02lld.%03lld   %lld.%lld", total / 60000, total / 1000 % 60, total % 1000,
        static_cast<long long>(at.measure), static_cast<long long>(at.beat)));
}

}  // namespace zorvo
