#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "common/FrameSink.h"
#include "ui/ThreadNotifier.h"

namespace zorvo {

// The output preview: a fixed-size window beside the main window that shows every written
// frame scaled to its client area. The build thread draws frames into it; the window thread
// paints them.
class COutputDlg : public QWidget, public FrameSink {
    Q_OBJECT

  public:
    // Not visible until shown; `owner` gets the close requests.
    explicit COutputDlg(QWidget* owner);
    ~COutputDlg() override;

    // Black until the next frame. Window thread.
    void Clear();
    // Nearest-neighbour scaling of a bottom-up BGR frame into the picture; any thread.
    void ShowFrame(const std::uint8_t* bits, int width, int height) override;

    // A copy of the picture as it would be painted now.
    QImage Picture() const;
    // A frame came since the last Clear: the build got as far as writing video.
    bool HasFrame() const { return m_hasFrame.load(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void RequestRepaint();
    void RequestOwnerClose();

    QRect m_clientRect;
    mutable std::mutex m_previewLock;
    QImage m_previewBitmap;           // rows top-down, 0xAARRGGBB with alpha 255
    std::vector<int> m_sourceColumn;  // per preview column, for the frame width below
    int m_columnsFor = 0;
    std::atomic<bool> m_repaintPosted{false};
    std::atomic<bool> m_hasFrame{false};
    ThreadNotifier m_repaintNotifier;
};

}  // namespace zorvo
