#pragma once

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/FFMPEGCapture.h"
#include "script/Extract.h"
#include "script/Input.h"
#include "ui/AdjustmentSnippet.h"

namespace zorvo {

// Tunes the colour adjustments of one input by eye: the first four seconds of a video play in a
// loop through the settings of seven sliders and a flip choice, and the matching `input`
// statement goes to and comes from the clipboard.
class CAdjustmentsDlg : public QDialog, public CExtract {
    Q_OBJECT

  public:
    explicit CAdjustmentsDlg(QWidget* owner = nullptr);
    ~CAdjustmentsDlg() override;

    // Previews `path` with every control back at its start, as Load video does once a file is
    // chosen.
    void LoadVideo(const QString& path);
    // Puts the statement for the current positions on the clipboard and restarts the capture
    // when the noise level or the flip choice changed.
    void CopySnippet();
    // Takes the adjustment statements from the clipboard's text into the controls.
    void PasteSnippet();

    AdjustmentPositions Positions() const;
    bool HasCapture() const { return m_pCapture != nullptr; }
    std::int32_t NoiseLevel() const { return m_noiseLevel; }
    QRect PreviewRect() const { return m_previewRect; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The file dialog of Load video; empty when cancelled.
    virtual QString ChooseVideoFile();
    // The error box for a capture that could not start or failed.
    virtual void ReportCaptureFailure();

  private:
    void StartCapture(const std::string& path);
    void DropCapture();
    void OnTimer();
    void OnLoadVideo();
    void ApplyPositions(const AdjustmentPositions& positions);
    void RenderPreview();
    void ShowValues();

    // Declared first so that they lie beneath the controls drawn on them.
    QGroupBox m_colorBalanceGroup;
    QGroupBox m_toneGroup;
    std::array<QSlider, 7> m_sliders;  // CR, MG, YB, brightness, contrast, saturation, noise
    QComboBox m_flip;
    QPushButton m_placeholder;
    QPushButton m_loadVideo;
    QPushButton m_close;
    std::array<QLabel, 11> m_labels;
    std::array<QLabel, 7> m_values;  // what each slider stands for

    QImage m_preview;  // the picture shown in the preview area, rows top-down
    QTimer m_timer;
    std::string m_path;
    QRect m_previewRect;
    std::unique_ptr<CSInput> m_pInput;
    std::unique_ptr<CFFMPEGCapture> m_pCapture;  // reads m_pInput, so it goes first
    const FrameBitmap* m_frame = nullptr;        // the capture's frame shown now, owned by it
    bool m_frameIndexShown = false;
    std::int32_t m_frameIndex = 0;
    std::int32_t m_noiseLevel = 0;
    std::int32_t m_flipChoice = 0;
};

}  // namespace zorvo
