#include "gui/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <utility>

namespace tegalo::icons {

namespace {

template <typename Draw>
QIcon Make(Draw draw, int size = 16) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    return QIcon(pixmap);
}

const QColor kOutline(70, 60, 40);
const QColor kFolder(240, 200, 80);
const QColor kFolderLight(250, 225, 130);
const QColor kPaper(250, 250, 245);
const QColor kBlue(40, 90, 180);

void DrawEnvelope(QPainter& p, bool open) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(kPaper);
    if (open) {
        QPolygonF flap;
        flap << QPointF(1.5, 7.5) << QPointF(8, 2.5) << QPointF(14.5, 7.5);
        p.drawPolygon(flap);
        p.drawRect(QRectF(1.5, 7.5, 13, 7));
        p.drawLine(QPointF(1.5, 14.5), QPointF(8, 10));
        p.drawLine(QPointF(14.5, 14.5), QPointF(8, 10));
    } else {
        p.drawRect(QRectF(1.5, 4.5, 13, 9));
        p.drawLine(QPointF(1.5, 4.5), QPointF(8, 9.5));
        p.drawLine(QPointF(14.5, 4.5), QPointF(8, 9.5));
    }
}

void DrawClip(QPainter& p, bool lines) {
    if (lines) {
        p.setPen(QPen(QColor(150, 150, 150), 1));
        for (int y = 5; y <= 13; y += 3) {
            p.drawLine(QPointF(7, y + 0.5), QPointF(14, y + 0.5));
        }
    }
    QPainterPath clip;
    clip.moveTo(5, 4);
    clip.lineTo(5, 12);
    clip.arcTo(QRectF(2, 10, 6, 5), 0, -180);
    clip.lineTo(2, 3);
    clip.arcTo(QRectF(2, 1, 5, 4), 180, -180);
    clip.lineTo(7, 11);
    p.setPen(QPen(kBlue, 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawPath(clip);
}

} // namespace

QIcon FolderClosed() {
    return Make([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(kFolder);
        QPolygonF shape;
        shape << QPointF(1.5, 3.5) << QPointF(6.5, 3.5) << QPointF(8, 5.5) << QPointF(14.5, 5.5)
              << QPointF(14.5, 13.5) << QPointF(1.5, 13.5);
        p.drawPolygon(shape);
    });
}

QIcon FolderOpen() {
    return Make([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(kFolder);
        QPolygonF back;
        back << QPointF(1.5, 3.5) << QPointF(6.5, 3.5) << QPointF(8, 5.5) << QPointF(13.5, 5.5)
             << QPointF(13.5, 13.5) << QPointF(1.5, 13.5);
        p.drawPolygon(back);
        p.setBrush(kFolderLight);
        QPolygonF front;
        front << QPointF(4, 7.5) << QPointF(15.5, 7.5) << QPointF(13.5, 13.5) << QPointF(1.5, 13.5);
        p.drawPolygon(front);
    });
}

QIcon LetterUnread() {
    return Make([](QPainter& p) { DrawEnvelope(p, false); });
}

QIcon LetterRead() {
    return Make([](QPainter& p) { DrawEnvelope(p, true); });
}

QIcon AttachmentUnread() {
    return Make([](QPainter& p) { DrawClip(p, false); });
}

QIcon AttachmentRead() {
    return Make([](QPainter& p) { DrawClip(p, true); });
}

QIcon NewMessage() {
    return Make([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(kPaper);
        QPolygonF sheet;
        sheet << QPointF(3.5, 1.5) << QPointF(10, 1.5) << QPointF(12.5, 4) << QPointF(12.5, 14.5) << QPointF(3.5, 14.5);
        p.drawPolygon(sheet);
        p.setPen(QPen(QColor(200, 60, 40), 2));
        p.drawLine(QPointF(7, 9), QPointF(14, 2));
    });
}

QIcon OpenMessage() {
    return Make([](QPainter& p) { DrawEnvelope(p, true); });
}

QIcon Print() {
    return Make([](QPainter& p) {
        p.setPen(QPen(kOutline, 1));
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(QColor(170, 170, 170));
        p.drawRect(QRectF(1.5, 6.5, 13, 6));
        p.setBrush(kPaper);
        p.drawRect(QRectF(4.5, 10.5, 7, 4));
    });
}

QIcon SendReceive() {
    return Make([](QPainter& p) {
        DrawEnvelope(p, false);
        p.setPen(QPen(QColor(30, 140, 60), 2));
        p.drawLine(QPointF(11, 1), QPointF(11, 6));
        p.drawLine(QPointF(9, 3.5), QPointF(11, 1));
        p.drawLine(QPointF(13, 3.5), QPointF(11, 1));
    });
}

QIcon Stop() {
    return Make([](QPainter& p) {
        // A red octagon with a white bar, the common sign for "stop".
        QPolygonF octagon;
        for (const auto& [x, y] : {std::pair{5.5, 1.5}, {10.5, 1.5}, {14.5, 5.5}, {14.5, 10.5}, {10.5, 14.5},
                                   {5.5, 14.5}, {1.5, 10.5}, {1.5, 5.5}}) {
            octagon << QPointF(x, y);
        }
        p.setPen(QPen(QColor(140, 20, 20), 1));
        p.setBrush(QColor(210, 40, 40));
        p.drawPolygon(octagon);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4, 7, 8, 2));
    });
}

QIcon About() {
    return Make([](QPainter& p) {
        p.setPen(QPen(kBlue, 1));
        p.setBrush(QColor(225, 235, 250));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(11);
        p.setFont(font);
        p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
    });
}

QIcon Application() {
    return Make([](QPainter& p) {
        p.setPen(QPen(kOutline, 2));
        p.setBrush(kPaper);
        p.drawRect(QRectF(3, 9, 26, 18));
        p.drawLine(QPointF(3, 9), QPointF(16, 19));
        p.drawLine(QPointF(29, 9), QPointF(16, 19));
        p.setPen(QPen(kBlue, 2));
        p.drawLine(QPointF(22, 2), QPointF(22, 8));
        p.drawLine(QPointF(19, 5), QPointF(22, 2));
        p.drawLine(QPointF(25, 5), QPointF(22, 2));
    }, 32);
}

} // namespace tegalo::icons
