#include "ui/TimelineView.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "script/SpanTiming.h"

namespace zorvo {

namespace {

constexpr int kMargin = 8;  // so the first and last moments can be clicked
constexpr int kRuler = 30;
constexpr int kBand = 20;
constexpr int kEffects = 18;
constexpr int kBlocks = 72;
constexpr int kWave = 44;
constexpr int kLegend = 20;
constexpr double kMaxZoom = 2000;  // pixels per second: a frame is 80 px wide

QString Clock(double ms) {
    const auto total = static_cast<long long>(std::llround(std::max(0.0, ms)));
    return QString::asprintf("%02lld:%02lld.%03lld", total / 60000, total / 1000 % 60,
                             total % 1000);
}

}  // namespace

TimelineView::TimelineView(QWidget* parent)
    : QWidget(parent), m_scroll(new QScrollBar(Qt::Horizontal, this)) {
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(false);
    setMinimumHeight(sizeHint().height());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_scroll, &QScrollBar::valueChanged, this, [this] { Invalidate(); });
}

QSize TimelineView::sizeHint() const {
    return {800,
            kRuler + kBand + kEffects + kBlocks + kWave + kLegend + m_scroll->sizeHint().height()};
}

void TimelineView::SetModel(TimelineModel model) {
    m_model = std::move(model);
    m_playhead = std::clamp(m_playhead, 0.0, m_model.durationMs);
    UpdateScrollRange();
    Invalidate();
}

void TimelineView::SetPeaks(WavePeaks peaks) {
    m_peaks = std::move(peaks);
    m_columnZoom = 0;
    Invalidate();
}

void TimelineView::SetSongBeats(std::vector<double> beatsMs) {
    if (beatsMs != m_songBeats) {
        m_songBeats = std::move(beatsMs);
        Invalidate();
    }
}

void TimelineView::PaintSongBeats(QPainter& p, const QRect& band) {
    // Orange ticks hanging from the ruler, where the script's beat ticks stand above them: a
    // drift shows as the two drawing apart.
    p.setPen(QPen(QColor(255, 170, 40), 1.5));
    const double from = MsAt(0);
    const double to = MsAt(width());
    for (const double beat : m_songBeats) {
        if (beat >= from && beat <= to) {
            const double x = XOf(beat);
            p.drawLine(QPointF(x, band.top()), QPointF(x, band.top() + 7));
        }
    }
}

void TimelineView::Invalidate() {
    m_stale = true;
    update();
}

void TimelineView::SetPlayhead(double ms) {
    const double before = XOf(m_playhead);
    m_playhead = std::clamp(ms, 0.0, m_model.durationMs);
    const double x = XOf(m_playhead);
    if (x < kMargin || x > width() - kMargin) {
        // Keep the playhead in sight: page to it.
        m_scroll->setValue(static_cast<int>(m_playhead / 1000.0 * Zoom()) - width() / 4);
    }
    // Only the strips under the old and the new line change.
    const int h = height() - m_scroll->height();
    update(QRect(static_cast<int>(before) - 3, 0, 6, h));
    update(QRect(static_cast<int>(XOf(m_playhead)) - 3, 0, 6, h));
}

double TimelineView::FitZoom() const {
    const double seconds = m_model.durationMs / 1000.0;
    return seconds > 0 ? std::max(1.0, (width() - 2 * kMargin) / seconds) : 100.0;
}

void TimelineView::SetZoom(double pixelsPerSecond) {
    m_pixelsPerSecond = std::clamp(pixelsPerSecond, FitZoom(), std::max(FitZoom(), kMaxZoom));
    UpdateScrollRange();
    Invalidate();
}

double TimelineView::Zoom() const {
    return std::max(m_pixelsPerSecond, FitZoom());
}

void TimelineView::UpdateScrollRange() {
    const int content = static_cast<int>(std::ceil(m_model.durationMs / 1000.0 * Zoom()));
    m_scroll->setRange(0, std::max(0, content - (width() - 2 * kMargin)));
    m_scroll->setPageStep(std::max(1, width() - 2 * kMargin));
    m_scroll->setSingleStep(std::max(1, width() / 20));
}

double TimelineView::XOf(double ms) const {
    return kMargin + ms / 1000.0 * Zoom() - m_scroll->value();
}

double TimelineView::MsAt(double x) const {
    return Zoom() > 0 ? (x - kMargin + m_scroll->value()) * 1000.0 / Zoom() : 0;
}

QColor TimelineView::InputColour(const std::string& id) const {
    const auto at = std::find(m_model.inputs.begin(), m_model.inputs.end(), id);
    if (at == m_model.inputs.end()) {
        return QColor(90, 90, 90);
    }
    // Hues a golden angle apart stay distinct for any number of cameras.
    const auto index = static_cast<int>(at - m_model.inputs.begin());
    return QColor::fromHsv(static_cast<int>(std::fmod(index * 137.508 + 200, 360.0)), 150, 230);
}

void TimelineView::MoveByUser(double ms) {
    SetPlayhead(ms);
    emit PlayheadMoved(m_playhead);
}

void TimelineView::ZoomAround(double factor, double x) {
    const double at = MsAt(x);
    SetZoom(Zoom() * factor);
    m_scroll->setValue(static_cast<int>(std::lround(at / 1000.0 * Zoom() - (x - kMargin))));
}

void TimelineView::resizeEvent(QResizeEvent*) {
    const int h = m_scroll->sizeHint().height();
    m_scroll->setGeometry(0, height() - h, width(), h);
    UpdateScrollRange();
    Invalidate();
}

double TimelineView::MarkerX(std::uint32_t measure) const {
    for (const TimelineModelSpan& span : m_model.spans) {
        if (span.fromMeasure == measure) {
            return XOf(span.startMs);
        }
    }
    if (!m_model.spans.empty() && m_model.spans.back().toMeasure == measure) {
        return XOf(m_model.spans.back().endMs);
    }
    return -1e9;
}

std::uint32_t TimelineView::MeasureNear(double x) const {
    if (m_model.spans.empty()) {
        return 0;
    }
    const double ms = MsAt(x);
    const TimelineModelSpan* span = &m_model.spans.back();
    for (const TimelineModelSpan& s : m_model.spans) {
        if (ms < s.endMs) {
            span = &s;
            break;
        }
    }
    if (!(span->measureMs > 0)) {
        return span->fromMeasure;
    }
    const double measures = std::round((ms - span->startMs) / span->measureMs);
    return static_cast<std::uint32_t>(std::max(1.0, span->fromMeasure + measures));
}

void TimelineView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton ||
        event->position().y() >= height() - m_scroll->height()) {
        return;
    }
    const double x = event->position().x();
    if (event->position().y() >= kRuler && event->position().y() < kRuler + kBand) {
        // A marker's line in the band of spans is taken to drag the marker; the ruler above
        // only moves the playhead.
        std::vector<std::uint32_t> measures;
        for (const TimelineModelSpan& span : m_model.spans) {
            measures.push_back(span.fromMeasure);
        }
        if (!m_model.spans.empty()) {
            measures.push_back(m_model.spans.back().toMeasure);
        }
        for (const std::uint32_t measure : measures) {
            if (std::abs(MarkerX(measure) - x) <= 4) {
                m_dragMarker = measure;
                m_dragX = x;
                return;
            }
        }
    }
    MoveByUser(MsAt(x));
}

void TimelineView::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragMarker != 0) {
        m_dragX = event->position().x();
        update();
        return;
    }
    if (event->buttons() & Qt::LeftButton) {
        MoveByUser(MsAt(event->position().x()));
    }
}

void TimelineView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_dragMarker == 0 || event->button() != Qt::LeftButton) {
        return;
    }
    const std::uint32_t from = m_dragMarker;
    const std::uint32_t to = MeasureNear(event->position().x());
    m_dragMarker = 0;
    update();
    if (to != from) {
        emit EditRequested(MarkerEdit::Move(from, to));
    }
}

void TimelineView::contextMenuEvent(QContextMenuEvent* event) {
    emit MenuRequested(event->pos(), event->globalPos());
    event->accept();
}

std::unique_ptr<QMenu> TimelineView::EditMenu(QPointF at, const QString& undo,
                                              const QString& redo) {
    auto menu = std::make_unique<QMenu>(this);
    const TimelineModelSpan* span =
        m_model.SpanAt(std::clamp(MsAt(at.x()), 0.0, m_model.durationMs));
    if (span) {
        const double ms = std::clamp(MsAt(at.x()), span->startMs, span->endMs);
        const std::uint32_t from = span->fromMeasure;
        const std::uint32_t under =
            span->measureMs > 0
                ? from + static_cast<std::uint32_t>((ms - span->startMs) / span->measureMs + 1e-9)
                : from;
        QAction* insert =
            menu->addAction(tr("Insert a marker at measure %1").arg(under), this,
                            [this, under] { emit EditRequested(MarkerEdit::Insert(under)); });
        insert->setEnabled(under != from && under < span->toMeasure);
        menu->addAction(tr("Delete the marker at measure %1").arg(from), this,
                        [this, from] { emit EditRequested(MarkerEdit::Delete(from)); });
        QMenu* layouts = menu->addMenu(tr("Layout from measure %1").arg(from));
        for (const std::string& name : LayoutsFor(span->areas.size())) {
            QAction* action = layouts->addAction(QString::fromStdString(name), this, [=, this] {
                emit EditRequested(MarkerEdit::Layout(from, name));
            });
            action->setCheckable(true);
            action->setChecked(name == span->layout);
            action->setEnabled(name != span->layout);
        }
        for (size_t d = 0; d < span->areas.size() && d < span->cycles.size(); ++d) {
            QMenu* cycles = menu->addMenu(
                tr("Display %1 (%2) cycle").arg(d + 1).arg(QString::fromStdString(span->areas[d])));
            for (const std::string& name : CycleNames()) {
                QAction* action = cycles->addAction(QString::fromStdString(name), this, [=, this] {
                    emit EditRequested(MarkerEdit::Cycle(from, d, name));
                });
                action->setCheckable(true);
                action->setChecked(name == span->cycles[d]);
                action->setEnabled(name != span->cycles[d]);
            }
        }
        menu->addSeparator();
    }
    QAction* undoAction = menu->addAction(undo.isEmpty() ? tr("Undo") : tr("Undo %1").arg(undo),
                                          this, [this] { emit UndoRequested(); });
    undoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    undoAction->setEnabled(!undo.isEmpty());
    QAction* redoAction = menu->addAction(redo.isEmpty() ? tr("Redo") : tr("Redo %1").arg(redo),
                                          this, [this] { emit RedoRequested(); });
    redoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    redoAction->setEnabled(!redo.isEmpty());
    return menu;
}

void TimelineView::wheelEvent(QWheelEvent* event) {
    const int delta =
        event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    if (event->modifiers() & Qt::ControlModifier) {
        ZoomAround(std::pow(1.25, delta / 120.0), event->position().x());
    } else {
        m_scroll->setValue(m_scroll->value() - delta * m_scroll->singleStep() / 120);
    }
    event->accept();
}

void TimelineView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Z && (event->modifiers() & Qt::ControlModifier)) {
        if (event->modifiers() & Qt::ShiftModifier) {
            emit RedoRequested();
        } else {
            emit UndoRequested();
        }
        event->accept();
        return;
    }
    switch (event->key()) {
        case Qt::Key_Left:
            MoveByUser(m_model.StepBeat(m_playhead, -1));
            break;
        case Qt::Key_Right:
            MoveByUser(m_model.StepBeat(m_playhead, 1));
            break;
        case Qt::Key_PageUp:
            MoveByUser(m_model.StepMarker(m_playhead, -1));
            break;
        case Qt::Key_PageDown:
            MoveByUser(m_model.StepMarker(m_playhead, 1));
            break;
        case Qt::Key_Home:
            MoveByUser(0);
            break;
        case Qt::Key_End:
            MoveByUser(m_model.LastFrameMs());
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomAround(1.5, XOf(m_playhead));
            break;
        case Qt::Key_Minus:
            ZoomAround(1 / 1.5, XOf(m_playhead));
            break;
        case Qt::Key_Space:
            emit PlayToggled();
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    event->accept();
}

void TimelineView::paintEvent(QPaintEvent*) {
    const int y0 = kRuler + kBand + kEffects + kBlocks + kWave;
    if (m_stale || m_picture.size() != size() * devicePixelRatio()) {
        // Everything but the playhead is drawn once per change of model, zoom, scroll or size,
        // so playback only repaints the strips the line crosses.
        m_picture = QPixmap(size() * devicePixelRatio());
        m_picture.setDevicePixelRatio(devicePixelRatio());
        QPainter p(&m_picture);
        p.fillRect(rect(), QColor(32, 32, 36));
        int y = 0;
        const QRect ruler(0, y, width(), kRuler);
        const QRect band(0, y += kRuler, width(), kBand);
        const QRect effects(0, y += kBand, width(), kEffects);
        const QRect blocks(0, y += kEffects, width(), kBlocks);
        const QRect wave(0, y += kBlocks, width(), kWave);
        PaintSpans(p, band, effects, blocks);
        PaintSongBeats(p, band);
        PaintRuler(p, ruler);
        PaintWave(p, wave);
        PaintLegend(p, QRect(0, y0, width(), kLegend));
        m_stale = false;
    }
    QPainter p(this);
    p.drawPixmap(0, 0, m_picture);
    const double x = XOf(m_playhead);
    p.setPen(QPen(QColor(255, 70, 60), 2));
    p.drawLine(QPointF(x, 0), QPointF(x, y0));
    if (m_dragMarker != 0) {
        // Where the dragged marker would land.
        const std::uint32_t to = MeasureNear(m_dragX);
        const double target =
            XOf(m_model.MomentOf(to, 1) >= 0 ? m_model.MomentOf(to, 1) : MsAt(m_dragX));
        p.setPen(QPen(QColor(255, 230, 120), 2, Qt::DashLine));
        p.drawLine(QPointF(target, 0), QPointF(target, y0));
        p.drawText(QPointF(target + 4, kRuler + kBand - 4), tr("measure %1").arg(to));
    }
}

void TimelineView::PaintRuler(QPainter& p, const QRect& r) {
    p.fillRect(r, QColor(48, 48, 54));
    p.setPen(QColor(200, 200, 200));
    const QFontMetrics fm(font());
    // Measures: a tick at each, a number wherever there is room for one.
    double lastLabel = -1e9;
    for (const TimelineModelSpan& span : m_model.spans) {
        if (!(span.measureMs > 0)) {
            continue;
        }
        for (std::uint32_t m = span.fromMeasure; m < span.toMeasure; ++m) {
            const double x = XOf(span.startMs + (m - span.fromMeasure) * span.measureMs);
            if (x < -50 || x > width() + 50) {
                continue;
            }
            p.drawLine(QPointF(x, r.top()), QPointF(x, r.top() + 12));
            const QString label = QString::number(m);
            if (x - lastLabel > fm.horizontalAdvance(label) + 8) {
                p.drawText(QPointF(x + 3, r.top() + fm.ascent()), label);
                lastLabel = x;
            }
            // Beats, once they are far enough apart to be seen.
            const double beatPx = span.beatMs / 1000.0 * Zoom();
            for (int b = 1; beatPx > 6 && b < span.beatCount; ++b) {
                const double bx = x + b * beatPx;
                p.drawLine(QPointF(bx, r.top()), QPointF(bx, r.top() + 5));
            }
        }
    }
    // Song time: the smallest step that leaves room for its labels.
    static const double steps[] = {100, 250, 500, 1000, 2000, 5000, 10000, 15000, 30000, 60000};
    const double labelPx = fm.horizontalAdvance("00:00.000") + 12;
    double step = steps[std::size(steps) - 1];
    for (const double s : steps) {
        if (s / 1000.0 * Zoom() >= labelPx) {
            step = s;
            break;
        }
    }
    p.setPen(QColor(150, 150, 160));
    const double first = std::max(0.0, std::floor(MsAt(0) / step) * step);
    for (double t = first; t <= m_model.durationMs && XOf(t) < width(); t += step) {
        const double x = XOf(t);
        p.drawLine(QPointF(x, r.bottom() - 5), QPointF(x, r.bottom()));
        p.drawText(QPointF(x + 3, r.bottom() - 3), Clock(t));
    }
}

void TimelineView::PaintSpans(QPainter& p, const QRect& band, const QRect& effects,
                              const QRect& blocks) {
    const QFontMetrics fm(font());
    for (const TimelineModelSpan& span : m_model.spans) {
        const double x0 = XOf(span.startMs);
        const double x1 = XOf(span.endMs);
        if (x1 < 0 || x0 > width()) {
            continue;
        }
        const QRectF bandRect(x0, band.top(), x1 - x0, band.height());
        p.fillRect(bandRect, QColor(60, 64, 80));
        p.setPen(QColor(20, 20, 24));
        p.drawRect(bandRect);
        const QString label = QString("%1 · %2 bpm %3/%4")
                                  .arg(QString::fromStdString(span.layout))
                                  .arg(QString::fromStdString(TempoText(span.tempo)))
                                  .arg(span.beatCount)
                                  .arg(span.beatUnit);
        p.setPen(QColor(230, 230, 235));
        p.drawText(bandRect.adjusted(4, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   fm.elidedText(label, Qt::ElideRight, static_cast<int>(x1 - x0) - 6));

        // Effects: fades as ramps, the strobe's flashes as ticks, each named.
        const QRectF fx(x0, effects.top() + 1, x1 - x0, effects.height() - 4);
        QString effectName;
        if (span.effect == "fade_in" || span.effect == "fade_out") {
            QPainterPath ramp;
            const bool in = span.effect == "fade_in";
            ramp.moveTo(fx.left(), fx.bottom());
            ramp.lineTo(fx.right(), fx.bottom());
            ramp.lineTo(in ? fx.right() : fx.left(), fx.top());
            ramp.closeSubpath();
            p.fillPath(ramp, QColor(240, 200, 90, 170));
            effectName = in ? tr("fade in") : tr("fade out");
        } else if (span.effect == "strobe" && span.strobePeriodMs > 0) {
            p.setPen(QColor(255, 250, 200));
            const double stepPx = span.strobePeriodMs / 1000.0 * Zoom();
            for (double t = span.startMs; t < span.endMs - 1e-6; t += span.strobePeriodMs) {
                if (stepPx >= 3 || t == span.startMs) {
                    p.drawLine(QPointF(XOf(t), fx.top()), QPointF(XOf(t), fx.bottom()));
                }
            }
            effectName = tr("strobe every %1 ms").arg(span.strobePeriodMs, 0, 'f', 0);
        }
        if (!effectName.isEmpty()) {
            const QRectF text = fx.adjusted(4, 0, -4, 0);
            const QString shown =
                fm.elidedText(effectName, Qt::ElideRight, static_cast<int>(text.width()));
            const qreal w = fm.horizontalAdvance(shown) + 4;
            const bool left = span.effect != "fade_out";
            p.fillRect(
                QRectF(left ? text.left() - 2 : text.right() - w + 2, fx.top(), w, fx.height()),
                QColor(32, 32, 36, 200));
            p.setPen(QColor(255, 255, 255));
            p.drawText(text, Qt::AlignVCenter | (left ? Qt::AlignLeft : Qt::AlignRight), shown);
        }

        // The camera every area shows, block by block, areas stacked top to bottom; a run of
        // blocks showing one camera is named once.
        const auto areas = static_cast<int>(std::max<std::size_t>(1, span.areas.size()));
        const double rowH = static_cast<double>(blocks.height()) / areas;
        for (std::size_t a = 0; a < span.areas.size(); ++a) {
            const double top = blocks.top() + static_cast<double>(a) * rowH;
            const double h = rowH - (areas > 1 ? 1 : 0);
            std::size_t run = 0;
            for (std::size_t b = 0; b < span.blocks.size(); ++b) {
                const std::string& input = span.blocks[b].inputs[a];
                const double bx0 = XOf(span.blocks[b].startMs);
                const bool last = b + 1 == span.blocks.size();
                const double bx1 = XOf(last ? span.endMs : span.blocks[b + 1].startMs);
                p.fillRect(QRectF(bx0, top, std::max(1.0, bx1 - bx0), h), InputColour(input));
                if (b > run && bx1 - bx0 >= 4) {
                    p.setPen(QColor(32, 32, 36, 90));
                    p.drawLine(QPointF(bx0, top), QPointF(bx0, top + h));
                }
                if (last || span.blocks[b + 1].inputs[a] != input) {
                    const QRectF cell(XOf(span.blocks[run].startMs), top,
                                      bx1 - XOf(span.blocks[run].startMs), h);
                    const QString name = QString::fromStdString(input);
                    if (cell.width() > fm.horizontalAdvance(name) + 6 && h >= fm.height()) {
                        p.setPen(QColor(20, 20, 24));
                        p.drawText(cell.adjusted(3, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                                   name);
                    }
                    run = b + 1;
                }
            }
        }
        if (span.skipped || span.afterRange) {
            // Outside the range: never rendered.
            p.fillRect(QRectF(x0, band.top(), x1 - x0, blocks.bottom() + kWave - band.top()),
                       QBrush(QColor(0, 0, 0, 150), Qt::BDiagPattern));
            p.fillRect(QRectF(x0, band.top(), x1 - x0, blocks.bottom() + kWave - band.top()),
                       QColor(0, 0, 0, 110));
        }
        p.setPen(QColor(220, 220, 230));
        p.drawLine(QPointF(x0, band.top()), QPointF(x0, blocks.bottom()));
    }
    if (!m_model.overlay.empty() && !m_model.spans.empty()) {
        // The overlay lies over the whole video: a thin line along the effects row.
        const QRectF line(XOf(0), effects.bottom() - 2, XOf(m_model.durationMs) - XOf(0), 2);
        p.fillRect(line, QColor(150, 220, 255));
    }
}

void TimelineView::ReducePeaks() {
    m_columnZoom = Zoom();
    m_columnLow.clear();
    m_columnHigh.clear();
    if (m_peaks.high.empty() || !(Zoom() > 0)) {
        return;
    }
    const auto columns =
        static_cast<std::size_t>(std::ceil(m_model.durationMs / 1000.0 * Zoom())) + 1;
    const double slicesPerColumn = 1000.0 / Zoom() / m_peaks.sliceMs;
    m_columnLow.resize(columns);
    m_columnHigh.resize(columns);
    for (std::size_t c = 0; c < columns; ++c) {
        auto first = static_cast<std::size_t>(c * slicesPerColumn);
        const auto end = std::max(first + 1, static_cast<std::size_t>((c + 1) * slicesPerColumn));
        float lo = 0, hi = 0;
        for (; first < end && first < m_peaks.high.size(); ++first) {
            lo = std::min(lo, m_peaks.low[first]);
            hi = std::max(hi, m_peaks.high[first]);
        }
        m_columnLow[c] = lo;
        m_columnHigh[c] = hi;
    }
}

void TimelineView::PaintWave(QPainter& p, const QRect& r) {
    p.fillRect(r, QColor(24, 26, 30));
    if (m_columnZoom != Zoom()) {
        ReducePeaks();
    }
    p.setPen(QColor(110, 200, 140));
    const double mid = r.center().y();
    const double half = r.height() / 2.0 - 2;
    for (int x = 0; x < width(); ++x) {
        const long c = x - kMargin + m_scroll->value();
        if (c < 0 || c >= static_cast<long>(m_columnHigh.size())) {
            continue;
        }
        p.drawLine(QPointF(x + 0.5, mid - m_columnHigh[c] * half),
                   QPointF(x + 0.5, mid - m_columnLow[c] * half + 1));
    }
}

void TimelineView::PaintLegend(QPainter& p, const QRect& r) {
    const QFontMetrics fm(font());
    int x = kMargin;
    for (const std::string& id : m_model.inputs) {
        p.fillRect(QRect(x, r.top() + 5, 12, 10), InputColour(id));
        const QString name = QString::fromStdString(id);
        p.setPen(QColor(220, 220, 225));
        p.drawText(QPoint(x + 16, r.top() + 5 + fm.ascent() - 2), name);
        x += 16 + fm.horizontalAdvance(name) + 14;
    }
    if (!m_model.overlay.empty()) {
        p.fillRect(QRect(x, r.top() + 9, 12, 2), QColor(150, 220, 255));
        const QString overlay = QString("overlay %1").arg(QString::fromStdString(m_model.overlay));
        p.drawText(QPoint(x + 16, r.top() + 5 + fm.ascent() - 2), overlay);
        x += 16 + fm.horizontalAdvance(overlay) + 14;
    }
    if (!m_songBeats.empty()) {
        p.fillRect(QRect(x + 5, r.top() + 4, 2, 12), QColor(255, 170, 40));
        p.setPen(QColor(220, 220, 225));
        p.drawText(QPoint(x + 16, r.top() + 5 + fm.ascent() - 2), QString("song's beats"));
    }
}

}  // namespace zorvo
