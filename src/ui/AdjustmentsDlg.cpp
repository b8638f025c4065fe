#include "ui/AdjustmentsDlg.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QSignalBlocker>
#include <algorithm>
#include <vector>

#include "capture/ImageAdjustments.h"
#include "ui/DialogUnits.h"
#include "ui/FileDialogs.h"

namespace zorvo {

namespace {

constexpr int kPreviewFrames = 100;  // the first four seconds at 25 frames per second
constexpr int kTimerMs = 40;
const QColor kIdleGrey(127, 127, 127);

enum Slider { kCR, kMG, kYB, kBrightness, kContrast, kSaturation, kNoise };

struct Placement {
    const char* text;
    int x, y;
    int limit;  // where the control it names starts; 0 for none
};

// Labels in dialog units; they take their natural width.
constexpr Placement kLabels[] = {
    {"cyan", 18, 24, 54},
    {"red", 150, 24, 0},
    {"magenta", 18, 48, 54},
    {"green", 150, 48, 0},
    {"yellow", 18, 72, 54},
    {"blue", 150, 72, 0},
    {"brightness", 18, 120, 54},
    {"contrast", 18, 144, 54},
    {"saturation", 18, 168, 54},
    {"noise reduction", 133, 203, 183},
    {"vertical flip", 310, 203, 366},
};

struct SliderPlacement {
    const char* name;
    int x, y;
};

constexpr SliderPlacement kSliders[] = {
    {"colorBalanceCR", 54, 18},   {"colorBalanceMG", 54, 42}, {"colorBalanceYB", 54, 66},
    {"brightness", 54, 114},      {"contrast", 54, 138},      {"saturation", 54, 162},
    {"noiseReduction", 183, 195},
};

// Where each slider's value shows: a column right of the colour sliders' labels, and after the
// noise-reduction slider. The preview and the controls right of it moved 26 units for them.
constexpr int kValueX[] = {172, 172, 172, 172, 172, 172, 280};
constexpr int kShift = 26;

}  // namespace

CAdjustmentsDlg::CAdjustmentsDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Zorvo - Adjustments"));
    const DialogUnits units(font());
    setFixedSize(units.X(464 + kShift), units.Y(226));

    m_colorBalanceGroup.setParent(this);
    m_colorBalanceGroup.setTitle(QStringLiteral("color balance"));
    m_colorBalanceGroup.setGeometry(units.Rect(7, 7, 173 + kShift, 89));
    m_toneGroup.setParent(this);
    m_toneGroup.setTitle(QStringLiteral("brightness / contrast / saturation"));
    m_toneGroup.setGeometry(units.Rect(6, 102, 173 + kShift, 89));

    for (size_t i = 0; i < m_sliders.size(); ++i) {
        QSlider& slider = m_sliders[i];
        slider.setParent(this);
        slider.setObjectName(QString::fromLatin1(kSliders[i].name));
        slider.setOrientation(Qt::Horizontal);
        slider.setGeometry(units.Rect(kSliders[i].x, kSliders[i].y, 95, 24));
        slider.setRange(0, 100);
        slider.setSingleStep(100);
        slider.setPageStep(50);
        slider.setTickPosition(QSlider::TicksBelow);
        slider.setTickInterval(50);
        slider.setValue(i == kNoise ? 0 : 50);
        connect(&slider, &QSlider::valueChanged, this, [this] { CopySnippet(); });
        QLabel& value = m_values[i];
        value.setParent(this);
        value.setObjectName(QString::fromLatin1(kSliders[i].name) + QStringLiteral("Value"));
        const QRect valueRect = units.Rect(kValueX[i], kSliders[i].y + 6, 24, 9);
        value.setGeometry(valueRect.x(), valueRect.y(), valueRect.width(),
                          std::max(valueRect.height(), value.sizeHint().height()));
        value.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Set by hand or by a paste, the slider shows what the script will read.
        connect(&slider, &QSlider::valueChanged, this, [this] { ShowValues(); });
    }

    m_flip.setParent(this);
    m_flip.setObjectName(QStringLiteral("verticalFlip"));
    m_flip.addItems({QStringLiteral("auto"), QStringLiteral("true"), QStringLiteral("false")});
    m_flip.setCurrentIndex(0);
    const QRect flipRect = units.Rect(366, 202, 47, 41);
    m_flip.setGeometry(flipRect.x(), flipRect.y(), flipRect.width(), m_flip.sizeHint().height());
    connect(&m_flip, &QComboBox::activated, this, [this] { CopySnippet(); });
    // The combo box keeps letter keys for its own search; the paste key must still reach us.
    m_flip.installEventFilter(this);

    // Only marks the preview area.
    m_placeholder.setParent(this);
    m_placeholder.setText(QStringLiteral("Dummy"));
    m_placeholder.setGeometry(units.Rect(184 + kShift, 10, 273, 182));
    m_placeholder.setEnabled(false);
    m_placeholder.hide();
    m_previewRect = m_placeholder.geometry();

    m_loadVideo.setParent(this);
    m_loadVideo.setObjectName(QStringLiteral("loadVideo"));
    m_loadVideo.setText(QStringLiteral("Load video"));
    m_loadVideo.setGeometry(units.Rect(7, 205, 50, 14));
    m_loadVideo.setDefault(true);
    connect(&m_loadVideo, &QPushButton::clicked, this, [this] { OnLoadVideo(); });

    m_close.setParent(this);
    m_close.setObjectName(QStringLiteral("close"));
    m_close.setText(QStringLiteral("Close"));
    m_close.setGeometry(units.Rect(407 + kShift, 205, 50, 14));
    connect(&m_close, &QPushButton::clicked, this, &QDialog::accept);

    for (size_t i = 0; i < m_labels.size(); ++i) {
        QLabel& label = m_labels[i];
        label.setParent(this);
        label.setText(QString::fromLatin1(kLabels[i].text));
        label.adjustSize();
        const Placement& at = kLabels[i];
        label.move(at.limit ? units.LabelLeft(at.x, label.width(), at.limit) : units.X(at.x),
                   units.Y(at.y));
    }

    ShowValues();
    m_preview = QImage(m_previewRect.size(), QImage::Format_RGB32);
    m_preview.fill(kIdleGrey);

    m_frameIndex = 0;
    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    m_timer.start();
}

CAdjustmentsDlg::~CAdjustmentsDlg() {
    m_timer.stop();
    DropCapture();
}

AdjustmentPositions CAdjustmentsDlg::Positions() const {
    AdjustmentPositions p;
    p.colorBalanceCR = m_sliders[kCR].value();
    p.colorBalanceMG = m_sliders[kMG].value();
    p.colorBalanceYB = m_sliders[kYB].value();
    p.brightness = m_sliders[kBrightness].value();
    p.contrast = m_sliders[kContrast].value();
    p.saturation = m_sliders[kSaturation].value();
    p.noiseReduction = m_sliders[kNoise].value();
    p.flipItem = m_flip.currentIndex();
    return p;
}

void CAdjustmentsDlg::ApplyPositions(const AdjustmentPositions& p) {
    // Set by the program, not moved by the user: no snippet is written.
    std::vector<QSignalBlocker> blockers;
    blockers.reserve(m_sliders.size() + 1);
    for (QSlider& slider : m_sliders) {
        blockers.emplace_back(&slider);
    }
    blockers.emplace_back(&m_flip);
    m_sliders[kCR].setValue(p.colorBalanceCR);
    m_sliders[kMG].setValue(p.colorBalanceMG);
    m_sliders[kYB].setValue(p.colorBalanceYB);
    m_sliders[kBrightness].setValue(p.brightness);
    m_sliders[kContrast].setValue(p.contrast);
    m_sliders[kSaturation].setValue(p.saturation);
    m_sliders[kNoise].setValue(p.noiseReduction);
    m_flip.setCurrentIndex(p.flipItem);
    ShowValues();
}

void CAdjustmentsDlg::ShowValues() {
    const AdjustmentPositions positions = Positions();
    for (size_t i = 0; i < m_values.size(); ++i) {
        m_values[i].setText(
            QString::fromStdString(SliderValueText(positions, static_cast<int>(i))));
    }
}

void CAdjustmentsDlg::CopySnippet() {
    const AdjustmentPositions positions = Positions();
    QGuiApplication::clipboard()->setText(
        QString::fromStdString(FormatAdjustmentSnippet(m_path, positions)));
    bool restart = false;
    const std::int32_t level = positions.noiseReduction / 5;
    if (level != m_noiseLevel) {
        m_noiseLevel = level;
        restart = true;
    }
    if (positions.flipItem != m_flipChoice) {
        m_flipChoice = positions.flipItem;
        restart = true;
    }
    if (restart) {
        StartCapture(m_path);
    }
}

void CAdjustmentsDlg::PasteSnippet() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText()) {
        return;
    }
    const PastedAdjustments pasted = ReadAdjustmentSnippet(data->text().toStdString());
    AdjustmentPositions p = Positions();
    int* const balance[] = {&p.colorBalanceCR, &p.colorBalanceMG, &p.colorBalanceYB};
    for (size_t i = 0; i < 3; ++i) {
        if (pasted.colorBalance[i]) {
            *balance[i] = *pasted.colorBalance[i];
        }
    }
    p.brightness = pasted.brightness.value_or(p.brightness);
    p.contrast = pasted.contrast.value_or(p.contrast);
    p.saturation = pasted.saturation.value_or(p.saturation);
    if (pasted.noiseLevel) {
        m_noiseLevel = *pasted.noiseLevel;
        p.noiseReduction =
            static_cast<int>(std::clamp<std::int64_t>(std::int64_t{m_noiseLevel} * 5, 0, 100));
    }
    p.flipItem = pasted.flipItem.value_or(p.flipItem);
    ApplyPositions(p);
    if (pasted.flipFound || pasted.noiseFound) {
        StartCapture(m_path);
    }
}

void CAdjustmentsDlg::LoadVideo(const QString& path) {
    ApplyPositions(AdjustmentPositions{});
    m_noiseLevel = 0;
    m_flipChoice = 0;
    StartCapture(QFile::encodeName(path).toStdString());
}

void CAdjustmentsDlg::OnLoadVideo() {
    const QString path = ChooseVideoFile();
    if (!path.isEmpty()) {
        LoadVideo(path);
    }
}

QString CAdjustmentsDlg::ChooseVideoFile() {
    return ChooseFile(this, FileKind::Video);
}

void CAdjustmentsDlg::ReportCaptureFailure() {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Adjustments"),
                    QStringLiteral("Failed to start capture on video."),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.exec();
}

void CAdjustmentsDlg::DropCapture() {
    m_frame = nullptr;
    m_pCapture.reset();  // stops its thread and frees its frames
    m_pInput.reset();
}

void CAdjustmentsDlg::StartCapture(const std::string& path) {
    DropCapture();
    const int item = m_flip.currentIndex();
    const FlipMode flip = item == 1 ? FlipMode::True : item == 2 ? FlipMode::False : FlipMode::Auto;
    m_path = path;
    m_pInput = std::make_unique<CSInput>("Adjustment", m_path, InputFocus::Center, 0, 0);
    CaptureOptions options = InputCaptureOptions(m_pInput.get());
    options.frameCount = kPreviewFrames;
    options.width = m_previewRect.width();
    options.height = m_previewRect.height();
    options.noiseReduction = m_noiseLevel;
    options.flipMode = flip;
    options.interpolation = kDefaultInterpolation;  // the preview belongs to no script
    m_pCapture = std::make_unique<CFFMPEGCapture>(std::move(options));
    m_frameIndex = 0;
    m_frameIndexShown = false;
    // Opened on the capture's thread: a slow disk or a huge file must not hold the window; a
    // file that fails to open shows as the capture's failure on a later tick.
    if (!m_pCapture->Launch()) {
        DropCapture();
        ReportCaptureFailure();
    }
    update(m_previewRect);
}

void CAdjustmentsDlg::OnTimer() {
    if (!m_pCapture) {
        return;
    }
    if (m_frameIndexShown) {
        m_frameIndex = (m_frameIndex + 1) % kPreviewFrames;
        m_frameIndexShown = false;
    }
    // One poll at most: while the frame is not decoded yet, the previous one stays on screen.
    if (const FrameBitmap* frame = m_pCapture->GetBitmap(static_cast<std::uint32_t>(m_frameIndex),
                                                         0, std::chrono::milliseconds(0))) {
        m_frame = frame;
        m_frameIndexShown = true;
        update(m_previewRect);
    } else if (m_pCapture->m_bFailed.load()) {
        DropCapture();
        update(m_previewRect);
        ReportCaptureFailure();
    }
}

void CAdjustmentsDlg::RenderPreview() {
    const AdjustmentValues v = ValuesOf(Positions());
    const auto tables =
        std::make_unique<AdjustmentTables>(v.colorBalanceCR, v.colorBalanceMG, v.colorBalanceYB,
                                           v.brightness, v.contrast, v.saturation);
    const int width = std::min(m_frame->Width(), m_preview.width());
    const int height = std::min(m_frame->Height(), m_preview.height());
    for (int y = 0; y < height; ++y) {
        // Frame rows are bottom-up, image rows top-down.
        const std::uint8_t* source = m_frame->Row(y);
        auto* line = reinterpret_cast<std::uint32_t*>(m_preview.scanLine(height - 1 - y));
        for (int x = 0; x < width; ++x) {
            const BgrPixel p = tables->Apply(source[3 * x], source[3 * x + 1], source[3 * x + 2]);
            line[x] =
                0xFF000000u | std::uint32_t{p.red} << 16 | std::uint32_t{p.green} << 8 | p.blue;
        }
    }
}

void CAdjustmentsDlg::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!m_pCapture) {
        painter.fillRect(m_previewRect, kIdleGrey);
    } else {
        // Colour changes show at the next paint; the frame stays the same.
        if (m_frame) {
            RenderPreview();
        }
        painter.drawImage(m_previewRect.topLeft(), m_preview);
    }
    QDialog::paintEvent(event);
}

void CAdjustmentsDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_V) {
        PasteSnippet();
    }
    QDialog::keyPressEvent(event);
}

bool CAdjustmentsDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_flip && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_V) {
        PasteSnippet();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zorvo
