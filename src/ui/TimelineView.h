#pragma once

#include <QPixmap>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "media/WavePeaks.h"
#include "sync/MarkerEdit.h"
#include "timeline/TimelineModel.h"

class QMenu;
class QScrollBar;

namespace zorvo {

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

    // The edits the timeline offers at a point of the view (its context menu): insert a marker
    // at the measure there, delete the span's marker, its layout and each display's cycle from
    // the values the language takes, undo and redo (`undo` and `redo` say what they would do;
    // empty: nothing).
    std::unique_ptr<QMenu> EditMenu(QPointF at, const QString& undo, const QString& redo);
    // The x of a marker's line, and the measure starting nearest to an x.
    double MarkerX(std::uint32_t measure) const;
    std::uint32_t MeasureNear(double x) const;
    // Song time and pixels of the view as it stands (zoom and scroll): what is drawn at x is
    // what a click at x picks.
    double XOf(double ms) const;
    double MsAt(double x) const;

  signals:
    // The user moved the playhead (click, drag or a navigation key).
    void PlayheadMoved(double ms);
    void PlayToggled();
    // An edit of the cut: from the context menu, or a marker dragged to another measure.
    void EditRequested(const zorvo::MarkerEdit& edit);
    void UndoRequested();
    void RedoRequested();
    // The context menu is about to be shown at a point: whoever keeps the history answers
    // with EditMenu and what undo and redo would do.
    void MenuRequested(QPointF at, QPoint global);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
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
    // A marker being dragged by its line in the band of spans: its measure, and where the
    // pointer is.
    std::uint32_t m_dragMarker = 0;
    double m_dragX = -1;
};

}  // namespace zorvo
