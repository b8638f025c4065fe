#include "ui/StudioView.h"

#include <sys/stat.h>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/LogChannel.h"
#include "common/LogCollector.h"
#include "media/WaveFile.h"
#include "preview/FrameEngine.h"
#include "preview/Playback.h"
#include "preview/Proxies.h"
#include "script/Script.h"
#include "script/SpanTiming.h"
#include "ui/ProxyJob.h"
#include "ui/ScriptEdits.h"
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

void PreviewView::Show(const QImage& picture, const QString& label, bool smooth) {
    m_picture = picture;
    m_label = label;
    m_smooth = smooth;
    update();
}

void PreviewView::SetBusy(bool busy) {
    if (busy != m_busy) {
        m_busy = busy;
        update();
    }
}

void PreviewView::SetBehind(const QString& text) {
    if (text != m_behind) {
        m_behind = text;
        update();
    }
}

void PreviewView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    QRect target = rect();
    if (!m_picture.isNull()) {
        const QSize size = m_picture.size().scaled(this->size(), Qt::KeepAspectRatio);
        target = QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
        p.setRenderHint(QPainter::SmoothPixmapTransform, m_smooth);
        p.drawImage(target, m_picture);
    }
    const QFontMetrics fm(font());
    // A mark in a dark box at a corner of the picture, so it reads on any picture.
    const auto mark = [&](const QString& text, bool top, const QColor& colour) {
        const QRect box(target.left() + 6,
                        top ? target.top() + 6 : target.bottom() - 6 - fm.height() - 4,
                        fm.horizontalAdvance(text) + 10, fm.height() + 4);
        p.fillRect(box, QColor(0, 0, 0, 170));
        p.setPen(colour);
        p.drawText(box, Qt::AlignCenter, text);
    };
    if (!m_picture.isNull() && !m_label.isEmpty()) {
        mark(m_label, false, QColor(235, 235, 235));
    }
    if (!m_behind.isEmpty()) {
        mark(m_behind, true, QColor(255, 170, 60));
    }
    if (m_busy) {
        // The last picture stays, dimmed, until the one asked for is there.
        p.fillRect(target, QColor(0, 0, 0, 110));
        const QString text = tr("Making the frame...");
        const QRect box(target.center().x() - fm.horizontalAdvance(text) / 2 - 8,
                        target.center().y() - fm.height() / 2 - 4, fm.horizontalAdvance(text) + 16,
                        fm.height() + 8);
        p.fillRect(box, QColor(0, 0, 0, 190));
        p.setPen(QColor(255, 255, 255));
        p.drawText(box, Qt::AlignCenter, text);
    }
}

SongSound::SongSound() = default;
SongSound::~SongSound() {
    Stop();
}

SongStream::SongStream(std::shared_ptr<const WaveFile> wave, std::uint64_t fromFrame)
    : m_wave(std::move(wave)),
      m_frame(std::min(fromFrame, m_wave->FrameCount())),
      m_endFrame(m_wave->FrameCount()),
      m_outBytes(m_wave->blockAlign / m_wave->channels == 3 ? m_wave->channels * 4
                                                            : m_wave->blockAlign) {
    // A third of a second ahead: a slow disk is ridden out, a start or a stop costs little.
    const std::size_t frames = std::max<std::size_t>(m_wave->samplesPerSecond / 3, 64);
    m_ring.resize(frames * static_cast<std::size_t>(m_outBytes));
    m_reader = std::thread([this, from = m_frame] { ReadAhead(from); });
}

SongStream::~SongStream() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_room.notify_all();
    m_reader.join();
}

void SongStream::ReadAhead(std::uint64_t frame) {
    const auto outBytes = static_cast<std::size_t>(m_outBytes);
    const std::size_t inBytes = m_wave->blockAlign;
    // About 40 ms a read: the ring holds several, so the output never waits for one.
    const std::size_t pieceFrames =
        std::clamp<std::size_t>(m_wave->samplesPerSecond / 25, 16, m_ring.size() / outBytes / 4);
    std::vector<std::uint8_t> piece(pieceFrames * inBytes);
    std::vector<char> played(pieceFrames * outBytes);
    std::string reason;
    while (true) {
        const auto frames =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_endFrame - frame, pieceFrames));
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_room.wait(lock,
                        [&] { return m_stop || m_ring.size() - m_filled >= frames * outBytes; });
            if (m_stop) {
                return;
            }
        }
        // The file changed under us: the sound ends where it can no longer be read.
        const bool read = frames > 0 && m_wave->ReadFrames(frame, frames, piece.data(), reason);
        const std::size_t bytes = read ? frames * outBytes : 0;
        if (read && outBytes != inBytes) {
            // The output takes no packed 24-bit samples: each becomes the top three bytes of 32.
            for (std::size_t i = 0; i < frames * m_wave->channels; ++i) {
                played[i * 4] = 0;
                std::memcpy(played.data() + i * 4 + 1, piece.data() + i * 3, 3);
            }
        } else if (read) {
            std::memcpy(played.data(), piece.data(), bytes);
        }
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (std::size_t done = 0; done < bytes;) {
            const std::size_t at = (m_head + m_filled) % m_ring.size();
            const std::size_t part = std::min(bytes - done, m_ring.size() - at);
            std::memcpy(m_ring.data() + at, played.data() + done, part);
            m_filled += part;
            done += part;
        }
        frame += read ? frames : 0;
        if (!read) {
            m_ended = true;
            return;
        }
    }
}

qint64 SongStream::bytesAvailable() const {
    return static_cast<qint64>((m_endFrame - m_frame) * m_outBytes) + QIODevice::bytesAvailable();
}

qint64 SongStream::readData(char* data, qint64 maxSize) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    // Whole sample frames only; nothing at all while the thread has not caught up, which the
    // output rides out as an underrun (its clock, and so the picture, waits for the sound).
    const std::size_t bytes =
        std::min(m_filled, static_cast<std::size_t>(std::max<qint64>(maxSize, 0))) / m_outBytes *
        m_outBytes;
    for (std::size_t done = 0; done < bytes;) {
        const std::size_t part = std::min(bytes - done, m_ring.size() - m_head);
        std::memcpy(data + done, m_ring.data() + m_head, part);
        m_head = (m_head + part) % m_ring.size();
        m_filled -= part;
        done += part;
    }
    if (bytes > 0) {
        m_room.notify_one();
    } else if (m_ended) {
        m_frame = m_endFrame;  // the end, or the file changed under us: the output goes idle
    }
    m_frame += bytes / m_outBytes;
    return static_cast<qint64>(bytes);
}

bool SongSound::Use(std::shared_ptr<const WaveFile> wave, std::int32_t songStartMs) {
    Stop();
    m_wave.reset();
    if (!wave || wave->channels == 0) {
        return false;
    }
    m_sampleBytes = wave->blockAlign / wave->channels;
    if (m_sampleBytes == 3) {
        m_sampleBytes = 4;
    } else if (m_sampleBytes != 1 && m_sampleBytes != 2 && m_sampleBytes != 4) {
        return false;
    }
    m_leadFrames = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(std::max(0, songStartMs)) * wave->samplesPerSecond / 1000,
        wave->FrameCount());
    m_wave = std::move(wave);
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
    format.setSampleRate(static_cast<int>(m_wave->samplesPerSecond));
    format.setChannelCount(m_wave->channels);
    format.setSampleFormat(m_sampleBytes == 1   ? QAudioFormat::UInt8
                           : m_sampleBytes == 2 ? QAudioFormat::Int16
                                                : QAudioFormat::Int32);
    if (!device.isFormatSupported(format)) {
        return false;
    }
    const auto frame = m_leadFrames + static_cast<std::uint64_t>(std::max(0.0, ms) *
                                                                 m_wave->samplesPerSecond / 1000.0);
    m_stream = std::make_unique<SongStream>(m_wave, frame);
    m_stream->open(QIODevice::ReadOnly);
    m_sink = std::make_unique<QAudioSink>(device, format);
    m_sink->start(m_stream.get());
    // An underrun is no failure: the stream's thread has not yet read its first piece.
    if (m_sink->error() != QAudio::NoError && m_sink->error() != QAudio::UnderrunError) {
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
    m_stream.reset();
}

double SongSound::ClockMs() const {
    return m_startMs + (m_sink ? static_cast<double>(m_sink->processedUSecs()) / 1000.0 : 0.0);
}

SongReader::SongReader(std::function<void()> onRead)
    : m_onRead(std::move(onRead)),
      m_thread([this](const Wanted& wanted) { Read(wanted); }, [this] { Done(); }) {}

SongReader::Stamp SongReader::StampOf(const std::string& path, std::int32_t songStartMs) {
    Stamp stamp{path};
    stamp.songStartMs = songStartMs;
    struct stat info {};
    if (!path.empty() && ::stat(path.c_str(), &info) == 0) {
        stamp.size = static_cast<long long>(info.st_size);
        stamp.modifiedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL +
                           static_cast<long long>(info.st_mtim.tv_nsec);
    }
    return stamp;
}

void SongReader::Request(const std::string& path, std::int32_t songStartMs) {
    m_thread.Ask({path, songStartMs});
}

void SongReader::Read(const Wanted& wanted) {
    // Even a look at the file waits here: a network folder can take seconds to answer.
    Stamp stamp = StampOf(wanted.path, wanted.songStartMs);
    m_changed = !(stamp == m_read);
    if (!m_changed) {
        return;  // the same file, unchanged: what was read still holds
    }
    m_read = std::move(stamp);
    m_peaks = WavePeaks{};
    m_wave.reset();
    auto wave = std::make_shared<WaveFile>();
    if (!wanted.path.empty() && m_peaks.Load(wanted.path, wanted.songStartMs) &&
        wave->Inspect(wanted.path)) {
        m_wave = std::move(wave);
    }
}

void SongReader::Done() {
    if (m_changed) {
        m_songStartMs = m_read.songStartMs;
        m_onRead();
    }
}

EngineOpener::EngineOpener(std::function<void()> onOpened)
    : m_onOpened(std::move(onOpened)),
      m_thread([this](const std::string& path) { Open(path); }, [this] { Done(); }) {}

std::unique_ptr<FrameEngine> EngineOpener::TakeEngine() {
    return std::move(m_engine);
}

void EngineOpener::Open(const std::string& path) {
    m_engine.reset();
    m_proxies.clear();
    m_cameras = 0;
    LogCollector lines(LogCollector::Scope::ThisThread);
    m_engine = FrameEngine::Open(path);
    if (m_engine) {
        // The preview reads the cameras' proxies where they are made; renders never do.
        m_proxies = ProxiesOf(m_engine->Script());
        m_cameras = ProxyCameras(m_engine->Script()).size();
        m_engine->ReadInstead(m_proxies);
    }
    m_lines = lines.Texts();
}

void EngineOpener::Done() {
    for (const std::string& line : m_lines) {
        PostLog(line);
    }
    m_onOpened();
}

StudioView::StudioView(QWidget* parent)
    : QWidget(parent),
      m_timeline(new TimelineView(this)),
      m_preview(new PreviewView(this)),
      m_readout(new QLineEdit(this)),
      m_status(new QLabel(this)),
      m_song([this] { SongRead(); }),
      m_opener([this] { EngineOpened(); }),
      m_proxyButton(new QPushButton(tr("Make proxies"), this)),
      m_proxyBar(new QProgressBar(this)) {
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
    m_readout->setObjectName(QStringLiteral("playhead"));
    m_readout->setToolTip(tr("The playhead: song time and measure.beat. Type a moment and Enter "
                             "to go there: %1.")
                              .arg(QString::fromLatin1(kSongMomentForms)));
    m_readout->setFixedWidth(m_readout->fontMetrics().horizontalAdvance("00:00.000   999.9+") + 16);
    connect(m_readout, &QLineEdit::returnPressed, this, [this] {
        if (GoTo(m_readout->text())) {
            m_timeline->setFocus();
        }
    });
    connect(m_readout, &QLineEdit::editingFinished, this, [this] {
        if (!m_readout->hasFocus()) {
            UpdateReadout();
        }
    });
    transport->addWidget(m_readout);
    transport->addWidget(m_status, 1);
    m_proxyBar->setRange(0, 1000);
    m_proxyBar->setTextVisible(false);
    m_proxyBar->setFixedWidth(120);
    m_proxyBar->hide();
    transport->addWidget(m_proxyBar);
    m_proxyButton->setObjectName(QStringLiteral("proxies"));
    m_proxyButton->setToolTip(
        tr("Make small copies of the cameras in your cache folder: the preview reads them, "
           "renders never do"));
    m_proxyButton->setAutoDefault(false);
    m_proxyButton->setEnabled(false);
    transport->addWidget(m_proxyButton);
    connect(m_proxyButton, &QPushButton::clicked, this, &StudioView::ToggleProxies);
    m_proxyPoll.setInterval(200);
    connect(&m_proxyPoll, &QTimer::timeout, this, [this] {
        m_proxyBar->setValue(m_proxies->Permille());
        m_status->setText(tr("Making proxies: %1.").arg(m_proxies->Step()));
    });
    m_proxies = std::make_unique<ProxyJob>([this] { ProxiesFinished(); });
    m_edits = std::make_unique<ScriptEdits>([this] {
        // The window follows the file as it does for outside edits, at once.
        if (m_window) {
            m_window->PollScript();
        } else {
            LoadScript(m_scriptPath, true);
        }
    });
    layout->addLayout(transport);
    layout->addWidget(m_timeline);
    connect(m_timeline, &TimelineView::PlayheadMoved, this, &StudioView::SetPlayhead);
    connect(m_timeline, &TimelineView::PlayToggled, this, &StudioView::TogglePlay);
    connect(m_timeline, &TimelineView::EditRequested, this, &StudioView::Edit);
    connect(m_timeline, &TimelineView::UndoRequested, this, &StudioView::Undo);
    connect(m_timeline, &TimelineView::RedoRequested, this, &StudioView::Redo);
    connect(m_timeline, &TimelineView::MenuRequested, this, &StudioView::ShowContextMenu);
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(10);
    connect(&m_tick, &QTimer::timeout, this, &StudioView::Tick);
    m_status->setObjectName(QStringLiteral("studioStatus"));
    m_status->setText(tr("Click the timeline to see a moment; Space plays from there."));
    UpdateReadout();
}

StudioView* StudioView::AttachTo(CZorvoDlg& window) {
    auto* studio = new StudioView;
    studio->m_window = &window;
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
    m_proxyPoll.stop();
    m_proxies.reset();  // waits for its thread before the widgets it reports to go
    Close();
}

void StudioView::Close() {
    if (m_proxies) {
        m_proxies->Stop();
    }
    StopPlaying();
    m_feeder.reset();
    m_engine.reset();
}

bool StudioView::LoadScript(const QString& path, bool keepPlayhead) {
    const bool wasPlaying = m_playing || (m_playWhenOpened && m_opener.Opening());
    StopPlaying();
    // The timeline needs only the script; the preview needs its media too, so a script whose
    // media fail the check still shows its timeline.
    CScript script(path.toStdString());
    TimelineModel model;
    if (!script.Load() || !script.Validate() || !model.Build(script)) {
        return false;
    }
    m_feeder.reset();
    m_engine.reset();
    m_scriptPath = path;
    m_edits->SetScript(path.toStdString());
    m_proxyButton->setEnabled(true);
    m_proxyNote.clear();
    // The cameras are probed off the window's thread; the last picture stays meanwhile, and
    // playback that was on goes on once they are open.
    m_opener.Request(path.toStdString());
    m_playWhenOpened = wasPlaying;
    if (m_preview) {
        m_preview->SetBusy(true);
    }
    m_status->setText(OpeningText());
    // The song is read on a thread of its own, and only when its file has changed.
    m_song.Request(script.wavePath, script.songStartMs);
    m_timeline->SetModel(std::move(model));
    m_timeline->SetPlayhead(keepPlayhead ? m_timeline->Playhead() : 0);
    UpdateReadout();
    return true;
}

QString StudioView::OpeningText() {
    return tr("Opening the cameras for the preview...");
}

void StudioView::EngineOpened() {
    if (m_playing) {
        // Played with the sound alone meanwhile: again from here, now with the picture.
        StopPlaying();
        m_playWhenOpened = true;
    }
    m_engine = m_opener.TakeEngine();
    // An edit's or the proxies' line said since stays; the one about the opening goes.
    const bool opening = m_status->text() == OpeningText();
    if (!m_engine) {
        if (m_preview) {
            m_preview->Show(QImage(), QString());
            m_preview->SetBusy(false);
        }
        const QString failed = tr("No preview: the media check failed (see the log).");
        m_status->setText(opening ? failed : m_status->text() + " " + failed);
    } else {
        if (!m_opener.Proxies().empty()) {
            m_proxyNote = tr("Preview from proxies (%1 of %2 cameras).")
                              .arg(m_opener.Proxies().size())
                              .arg(m_opener.Cameras());
        }
        m_feeder = std::make_unique<PlaybackFeeder>(*m_engine, PreviewWidth(false));
        m_feeder->SetReadyCallback([this] {
            QMetaObject::invokeMethod(
                this, [this] { FrameReady(); }, Qt::QueuedConnection);
        });
        const QString said = opening ? QString() : m_status->text();
        std::int64_t frame = 0;
        if (RenderedFrame(m_timeline->Playhead(), frame)) {
            m_feeder->Seek(frame, false);
        }
        if (!said.isEmpty()) {
            m_status->setText(said);
        }
        if (!m_proxyNote.isEmpty()) {
            m_status->setText(opening ? m_proxyNote : m_status->text() + " " + m_proxyNote);
        }
    }
    if (std::exchange(m_playWhenOpened, false)) {
        TogglePlay();
    }
}

void StudioView::SongRead() {
    const bool wasPlaying = m_playing;
    StopPlaying();
    m_timeline->SetPeaks(m_song.Peaks());
    m_sound.Use(m_song.Wave(), m_song.SongStartMs());
    if (wasPlaying) {
        TogglePlay();
    }
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
        if (m_preview) {
            m_preview->SetBusy(true);
        }
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
        if (m_preview) {
            m_preview->SetBusy(false);
        }
        return false;
    }
    // A line about another moment no longer holds.
    m_status->setText(tr("Click the timeline to see a moment; Space plays from there."));
    return true;
}

bool StudioView::GoTo(const QString& text) {
    SongMoment moment;
    const std::string typed = text.trimmed().toStdString();
    const QString forms = QString::fromLatin1(kSongMomentForms);
    if (!ParseSongMoment(typed, moment)) {
        m_status->setText(tr("Not a moment of the song: '%1'. A moment is %2.")
                              .arg(QString::fromStdString(typed), forms));
        return false;
    }
    const TimelineModel& model = m_timeline->Model();
    double ms = moment.ms;
    if (moment.musical) {
        const TimelineModelSpan* span = model.SpanAt(model.MomentOf(moment.measure, 1));
        ms = span && moment.beat <= span->beatCount ? model.MomentOf(moment.measure, moment.beat)
                                                    : -1;
    }
    std::int64_t frame = 0;
    if (m_engine) {
        // The still's own reading, its line for the status rather than the build's log.
        LogCollector lines(LogCollector::Scope::ThisThread);
        if (!SongFrameOf(m_engine->Script(), moment, frame)) {
            const std::string said = lines.Joined();
            m_status->setText(said.empty() ? tr("No frame of the song lies there.")
                                           : QString::fromStdString(said).trimmed());
            return false;
        }
        ms = moment.musical ? std::max(ms, static_cast<double>(frame) * 40) : moment.ms;
    } else if (ms < 0 || ms >= model.durationMs) {
        m_status->setText(tr("No moment of the song lies at '%1'. A moment is %2.")
                              .arg(QString::fromStdString(typed), forms));
        return false;
    }
    SetPlayhead(ms);
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
    if (from >= m_timeline->Model().LastFrameMs()) {
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
    m_status->setText((!m_silent ? tr("Playing.")
                       : m_sound.Loaded()
                           ? tr("Playing silent: no audio output device.")
                           : tr("Playing silent: the song's WAVE file cannot be played.")) +
                      (m_proxyNote.isEmpty() ? QString() : " " + m_proxyNote));
}

void StudioView::StopPlaying() {
    if (!m_playing) {
        return;
    }
    const double clock = ClockMs();
    const bool counted = m_clockRunning;
    m_playing = false;
    m_clockRunning = false;
    m_tick.stop();
    m_sound.Stop();
    if (m_preview) {
        m_preview->SetBehind(QString());
    }
    if (m_feeder) {
        if (counted) {
            m_feeder->Stop(std::min(clock, m_timeline->Model().durationMs));
        } else {
            m_feeder->Pause();
        }
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
        StopPlaying();
        // The last frame's moment: the song's end has no frame of its own.
        m_timeline->SetPlayhead(m_timeline->Model().LastFrameMs());
        UpdateReadout();
        return;
    }
    m_timeline->SetPlayhead(clock);
    FedFrame frame;
    if (m_feeder && m_feeder->TakeDue(clock, frame)) {
        ShowFrame(frame);
    }
    if (m_feeder && m_preview) {
        // While frames are passed over, say so and how many, on the picture itself.
        const auto skipped = static_cast<qulonglong>(m_feeder->SkippedCount());
        m_preview->SetBehind(
            m_feeder->Behind() ? tr("Falling behind: %1 frames skipped").arg(skipped) : QString());
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
    if (m_preview) {
        // Busy until the frame of the latest click is there (or has failed).
        m_preview->SetBusy(m_feeder->Pending() >= 0);
    }
}

void StudioView::ShowFrame(const FedFrame& frame) {
    if (m_preview && !frame.picture.Empty()) {
        m_preview->Show(ToImage(frame.picture), MomentLabel(frame.frame), !m_playing);
    }
}

QString StudioView::MomentLabel(std::int64_t frame) const {
    // As `zorvo still` names a frame: its time, and the beat it shows ("+": begun before it).
    return QString::fromStdString(SongClockOf(frame) + "   " +
                                  (m_engine ? MeasureBeatOf(m_engine->Script(), frame) : ""));
}

QString StudioView::Readout() const {
    return m_readout->text();
}

QString StudioView::Status() const {
    return m_status->text();
}

void StudioView::Edit(const MarkerEdit& edit) {
    StopPlaying();
    m_edits->Apply(edit);
    m_status->setText(m_edits->Message());
}

void StudioView::Undo() {
    StopPlaying();
    m_edits->Undo();
    m_status->setText(m_edits->Message());
}

void StudioView::Redo() {
    StopPlaying();
    m_edits->Redo();
    m_status->setText(m_edits->Message());
}

void StudioView::ShowContextMenu(QPointF at, QPoint global) {
    if (m_scriptPath.isEmpty()) {
        return;
    }
    const std::unique_ptr<QMenu> menu =
        m_timeline->EditMenu(at, m_edits->UndoText(), m_edits->RedoText());
    menu->exec(global);
}

void StudioView::ToggleProxies() {
    if (m_proxies->Running()) {
        m_proxies->Stop();
        m_status->setText(tr("Stopping the proxies..."));
        return;
    }
    if (m_scriptPath.isEmpty() || !m_proxies->Start(m_scriptPath.toStdString())) {
        return;
    }
    m_proxyButton->setText(tr("Stop proxies"));
    m_proxyBar->setValue(0);
    m_proxyBar->show();
    m_proxyPoll.start();
    m_status->setText(tr("Making proxies..."));
}

void StudioView::ProxiesFinished() {
    m_proxyPoll.stop();
    m_proxyBar->hide();
    m_proxyButton->setText(tr("Make proxies"));
    const QString outcome = m_proxies->Succeeded() ? tr("Proxies made.")
                            : m_proxies->Stopped()
                                ? tr("Proxies stopped: the one being made was not kept.")
                                : tr("Proxies failed: see the log.");
    LoadScript(m_scriptPath, true);
    m_status->setText(outcome);  // the preview's proxies are added once the cameras are open
}

void StudioView::UpdateReadout() {
    if (m_readout->hasFocus() && m_readout->isModified()) {
        return;  // the user is typing a moment
    }
    const double ms = m_timeline->Playhead();
    const MusicalPosition at = m_timeline->Model().PositionAt(ms);
    const auto total = static_cast<long long>(std::llround(std::max(0.0, ms)));
    m_readout->setText(QString::asprintf(
        "%02lld:%02lld.%03lld   %lld.%lld", total / 60000, total / 1000 % 60, total % 1000,
        static_cast<long long>(at.measure), static_cast<long long>(at.beat)));
}

}  // namespace zorvo
