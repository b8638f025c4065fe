#include "ui/OutputDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>

#include "ui/DialogUnits.h"

namespace zorvo {

namespace {

constexpr int kWidthUnits = 334;
constexpr int kHeightUnits = 188;

}  // namespace

COutputDlg::COutputDlg(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_repaintNotifier([this] {
          m_repaintPosted.store(false);
          update(m_clientRect);
      }) {
    setWindowTitle(QStringLiteral("Output"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The picture covers the whole client area.
    setAttribute(Qt::WA_OpaquePaintEvent);
    const DialogUnits units(font());
    m_clientRect = QRect(0, 0, units.X(kWidthUnits), units.Y(kHeightUnits));
    setFixedSize(m_clientRect.size());
    m_previewBitmap = QImage(m_clientRect.size(), QImage::Format_RGB32);
    m_previewBitmap.fill(Qt::black);
    m_sourceColumn.resize(static_cast<size_t>(m_clientRect.width()));
}

COutputDlg::~COutputDlg() = default;

void COutputDlg::Clear() {
    {
        std::lock_guard lock(m_previewLock);
        m_previewBitmap.fill(Qt::black);
    }
    m_hasFrame.store(false);
    update(m_clientRect);
}

void COutputDlg::ShowFrame(const std::uint8_t* bits, int width, int height) {
    if (!bits || width <= 0 || height <= 0) {
        return;
    }
    {
        std::lock_guard lock(m_previewLock);
        const int W = m_previewBitmap.width();
        const int H = m_previewBitmap.height();
        if (m_columnsFor != width) {
            // First and last columns map onto each other.
            for (int x = 0; x < W; ++x) {
                m_sourceColumn[static_cast<size_t>(x)] =
                    W > 1 ? static_cast<int>(static_cast<std::int64_t>(x) * (width - 1) / (W - 1))
                          : 0;
            }
            m_columnsFor = width;
        }
        const size_t stride = static_cast<size_t>(width) * 3;
        for (int y = 0; y < H; ++y) {
            // y counts rows from the bottom in both pictures; the image stores them top-down.
            const int sy =
                H > 1 ? static_cast<int>(static_cast<std::int64_t>(y) * (height - 1) / (H - 1)) : 0;
            const std::uint8_t* source = bits + stride * static_cast<size_t>(sy);
            auto* line = reinterpret_cast<std::uint32_t*>(m_previewBitmap.scanLine(H - 1 - y));
            for (int x = 0; x < W; ++x) {
                const std::uint8_t* pixel = source + 3 * static_cast<size_t>(m_sourceColumn[x]);
                line[x] = 0xFF000000u | static_cast<std::uint32_t>(pixel[2]) << 16 |
                          static_cast<std::uint32_t>(pixel[1]) << 8 | pixel[0];
            }
        }
    }
    m_hasFrame.store(true);
    RequestRepaint();
}

QImage COutputDlg::Picture() const {
    std::lock_guard lock(m_previewLock);
    return m_previewBitmap.copy();
}

void COutputDlg::RequestRepaint() {
    // One pending repaint is enough however many frames arrive before it runs.
    if (!m_repaintPosted.exchange(true)) {
        m_repaintNotifier.Notify();
    }
}

void COutputDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    std::lock_guard lock(m_previewLock);
    painter.drawImage(m_clientRect.topLeft(), m_previewBitmap);
}

void COutputDlg::RequestOwnerClose() {
    if (QWidget* owner = parentWidget()) {
        QMetaObject::invokeMethod(owner, &QWidget::close, Qt::QueuedConnection);
    }
}

void COutputDlg::closeEvent(QCloseEvent* event) {
    // Closing the preview closes the application, as the main window's close box does.
    event->ignore();
    RequestOwnerClose();
}

void COutputDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        RequestOwnerClose();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zorvo
