#include "ui/ZorvoIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zorvo {

namespace {

// Three overlapping camera pictures and a play mark on a dark tile, on a 64 x 64 grid.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    const QColor tile(0x24, 0x30, 0x47);
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);

    painter.setPen(QPen(Qt::white, 2));
    const struct {
        QRectF rect;
        QColor color;
    } pictures[] = {
        {QRectF(10, 12, 28, 20), QColor(0xe4, 0x57, 0x2e)},
        {QRectF(18, 22, 28, 20), QColor(0x17, 0xbe, 0xbb)},
        {QRectF(26, 32, 28, 20), QColor(0xff, 0xc9, 0x14)},
    };
    for (const auto& picture : pictures) {
        painter.setBrush(picture.color);
        painter.drawRoundedRect(picture.rect, 2, 2);
    }

    QPainterPath play;
    play.moveTo(36, 36);
    play.lineTo(36, 48);
    play.lineTo(47, 42);
    play.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.fillPath(play, tile);
    return pixmap;
}

}  // namespace

QIcon ZorvoIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(DrawIcon(size));
    }
    return icon;
}

}  // namespace zorvo
