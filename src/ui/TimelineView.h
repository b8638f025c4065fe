#pragma once

#include <QPixmap>
#include <QWidget>
#include <string>
#include <vector>

#include "timeline/TimelineModel.h"

class QScrollBar;

namespace zorvo {

// The song's loudness, reduced once to the highest and lowest sample per slice of time.
struct WavePeaks {
    double sliceMs = 10;
    std::vector<float> low, high;  // -1..1 per slice, all channels together

    bool Load(const std::string& path, std::int32_t songStartMs = 0);
};

// The whole song left to right: a ruler in song time and measures, the spans with their layout,
// tempo and signature, the effects and the overlay, the camera every area shows in each block
// (one colour per camera, with a legend), the waveform and the playhead. Drawn only from a
// TimelineModel, i.e. from the render's own walk.
class TimelineView : public QWidget {
    Q_OBJECT
  public:
    explicit TimelineView(QWidget* parent = nullptr);

    // A new model keeps the playhead (clamped to the new song) and the zoom.
    void SetModel(TimelineModel model);
    const TimelineModel& Model() const { return m_model; }
    void SetPeaks(WavePeaks peaks);
    // The song's own beats, in ms from measure 1 (`zorvo beats`), drawn under the ruler.
    void SetSongBeats(std::vector<double> beatsMs);

    double Playhead() const { return m_playhead; }
    // Moves the playhead without signalling; while playing, the view follows it.
    void SetPlayhead(double ms);
    // Pixels per second; at least what fits the whole song into the view.
    void SetZoom(double pixelsPerSecond);
    double Zoom() const;
    double FitZoom() const;

    QColor InputColour(const std::string& id) const;
    QSize sizeHint() const override;

    // Song time and pixels of the view as it stands (zoom and scroll): what is drawn at x is
    // what a click at x picks.
    double XOf(double ms) const;
    double MsAt(double x) const;

  signals:
    // The user moved the playhead (click, drag or a navigation key).
    void PlayheadMoved(double ms);
    void PlayToggled();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void MoveByUser(double ms);
    void ZoomAround(double factor, double x);
    void UpdateScrollRange();
    void Invalidate();
    void ReducePeaks();

    void PaintRuler(QPainter& p, const QRect& r);
    void PaintSpans(QPainter& p, const QRect& band, const QRect& effects, const QRect& blocks);
    void PaintWave(QPainter& p, const QRect& r);
    void PaintSongBeats(QPainter& p, const QRect& band);
    void PaintLegend(QPainter& p, const QRect& r);

    TimelineModel m_model;
    WavePeaks m_peaks;
    std::vector<double> m_songBeats;
    std::vector<float> m_columnLow, m_columnHigh;  // the peaks per pixel column at this zoom
    double m_columnZoom = 0;
    double m_playhead = 0;
    double m_pixelsPerSecond = 0;  // below the fit: fit the song
    QPixmap m_picture;             // everything but the playhead
    bool m_stale = true;
    QScrollBar* m_scroll;
};

}  // namespace zorvo
