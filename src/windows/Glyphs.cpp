#include "windows/Glyphs.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

namespace orvane {

namespace {

const QColor kInk(0x33, 0x3d, 0x4a);
const QColor kPaper(0xfb, 0xfb, 0xf8);
const QColor kBlue(0x2f, 0x6f, 0xb8);
const QColor kGreen(0x2e, 0x8b, 0x57);
const QColor kRed(0xc0, 0x39, 0x2b);
const QColor kAmber(0xe0, 0x9a, 0x1a);

// A sheet of paper with a folded corner, in a 16-unit box.
void paper(QPainter& p, QRectF r = QRectF(3, 1.5, 10, 13)) {
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 3, r.top());
    path.lineTo(r.right(), r.top() + 3);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    p.drawPath(path);
}

void grid(QPainter& p, QRectF r) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(kPaper);
    p.drawRect(r);
    p.setPen(QPen(kBlue, 0.8));
    for (double y = r.top() + 3; y < r.bottom(); y += 3) {
        p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    }
    p.drawLine(QPointF(r.left() + r.width() / 2, r.top()),
               QPointF(r.left() + r.width() / 2, r.bottom()));
}

void badge(QPainter& p, const QColor& color, const QString& sign) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(8.5, 8.5, 7, 7));
    p.setPen(QPen(Qt::white, 1.4));
    if (sign == QLatin1String("+")) {
        p.drawLine(QPointF(10, 12), QPointF(14, 12));
        p.drawLine(QPointF(12, 10), QPointF(12, 14));
    } else if (sign == QLatin1String("-")) {
        p.drawLine(QPointF(10, 12), QPointF(14, 12));
    } else if (sign == QLatin1String("down")) {
        p.drawLine(QPointF(12, 9.8), QPointF(12, 14));
        p.drawLine(QPointF(10.2, 12.2), QPointF(12, 14));
        p.drawLine(QPointF(13.8, 12.2), QPointF(12, 14));
    } else if (sign == QLatin1String("up")) {
        p.drawLine(QPointF(12, 10), QPointF(12, 14.2));
        p.drawLine(QPointF(10.2, 11.8), QPointF(12, 10));
        p.drawLine(QPointF(13.8, 11.8), QPointF(12, 10));
    } else if (sign == QLatin1String("bolt")) {
        QPolygonF bolt;
        bolt << QPointF(12.8, 9.3) << QPointF(10.4, 12.4) << QPointF(12, 12.4)
             << QPointF(11.2, 14.7) << QPointF(13.6, 11.6) << QPointF(12, 11.6);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPolygon(bolt);
    }
}

void draw(QPainter& p, TGlyph glyph) {
    switch (glyph) {
    case TGlyph::Variable: {
        p.setPen(QPen(kBlue.darker(130), 1));
        p.setBrush(kBlue);
        QPolygonF diamond;
        diamond << QPointF(8, 3) << QPointF(13, 8) << QPointF(8, 13) << QPointF(3, 8);
        p.drawPolygon(diamond);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(8, 8), 1.6, 1.6);
        break;
    }
    case TGlyph::NewInspector:
        grid(p, QRectF(1.5, 2.5, 12, 10));
        badge(p, kGreen, QStringLiteral("+"));
        break;
    case TGlyph::QuickInspector:
        grid(p, QRectF(1.5, 2.5, 12, 10));
        badge(p, kAmber, QStringLiteral("bolt"));
        break;
    case TGlyph::Cut: {
        p.setPen(QPen(kInk, 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(5, 12), 2.2, 2.2);
        p.drawEllipse(QPointF(11, 12), 2.2, 2.2);
        p.drawLine(QPointF(6.3, 10.2), QPointF(11, 2));
        p.drawLine(QPointF(9.7, 10.2), QPointF(5, 2));
        break;
    }
    case TGlyph::Copy:
        paper(p, QRectF(1.5, 1.5, 8, 10));
        paper(p, QRectF(6.5, 4.5, 8, 10));
        break;
    case TGlyph::Paste: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(0xc8, 0x9b, 0x62));
        p.drawRoundedRect(QRectF(2.5, 2.5, 9, 12), 1.2, 1.2);
        p.setBrush(QColor(0x9a, 0xa3, 0xad));
        p.drawRect(QRectF(5, 1.5, 4, 2.5));
        paper(p, QRectF(7.5, 6.5, 7, 8));
        break;
    }
    case TGlyph::AddSheet:
        paper(p);
        badge(p, kGreen, QStringLiteral("+"));
        break;
    case TGlyph::RemoveSheet:
        paper(p);
        badge(p, kRed, QStringLiteral("-"));
        break;
    case TGlyph::LoadApplication: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(0x4a, 0x55, 0x63));
        p.drawRect(QRectF(3.5, 3.5, 8, 8));
        p.setPen(QPen(kInk, 1));
        for (double x = 5; x <= 10.1; x += 2.5) {
            p.drawLine(QPointF(x, 1.5), QPointF(x, 3.5));
            p.drawLine(QPointF(x, 11.5), QPointF(x, 13.5));
        }
        badge(p, kBlue, QStringLiteral("down"));
        break;
    }
    case TGlyph::LoadSettings:
    case TGlyph::SaveSettings: {
        // A written page; the badge says which way the settings go.
        paper(p);
        p.setPen(QPen(kInk, 0.8));
        for (double y = 5; y < 11; y += 2) {
            p.drawLine(QPointF(5, y), QPointF(10, y));
        }
        const bool load = glyph == TGlyph::LoadSettings;
        badge(p, load ? kBlue : kGreen, load ? QStringLiteral("down") : QStringLiteral("up"));
        break;
    }
    case TGlyph::Reset: {
        p.setPen(QPen(kBlue, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(2.5, 2.5, 11, 11), 100 * 16, 290 * 16);
        QPolygonF head;
        head << QPointF(6.2, 0.8) << QPointF(9.8, 3.0) << QPointF(6.0, 5.2);
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawPolygon(head);
        break;
    }
    case TGlyph::LockIO: {
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(4.5, 1.5, 7, 8), 0, 180 * 16);
        p.drawLine(QPointF(4.5, 5.5), QPointF(4.5, 7.5));
        p.drawLine(QPointF(11.5, 5.5), QPointF(11.5, 7.5));
        p.setPen(QPen(kInk, 1));
        p.setBrush(kAmber);
        p.drawRoundedRect(QRectF(2.5, 7, 11, 7.5), 1, 1);
        p.setBrush(kInk);
        p.drawEllipse(QPointF(8, 10.5), 1, 1);
        break;
    }
    case TGlyph::SaveValues: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(kBlue);
        p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.2, 1.2);
        p.setBrush(kPaper);
        p.drawRect(QRectF(4, 1.5, 8, 5));
        p.setBrush(QColor(0xdd, 0xe3, 0xea));
        p.drawRect(QRectF(3.5, 9, 9, 5.5));
        break;
    }
    case TGlyph::NotConnected: {
        p.setPen(QPen(kRed.darker(120), 1));
        p.setBrush(kRed);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
        break;
    }
    case TGlyph::Logo: {
        p.setPen(Qt::NoPen);
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(3.5, 3.5, 9, 9));
        p.setBrush(kBlue);
        p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
        p.setBrush(kAmber);
        p.drawPie(QRectF(3.5, 3.5, 9, 9), 30 * 16, 60 * 16);
        break;
    }
    default:
        break;
    }
}

// Paints a glyph at whatever size and device pixel ratio is asked for.
class TGlyphEngine : public QIconEngine {
public:
    explicit TGlyphEngine(TGlyph glyph) : m_glyph(glyph) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(rect.topLeft());
        painter->scale(rect.width() / 16.0, rect.height() / 16.0);
        if (mode == QIcon::Disabled) {
            painter->setOpacity(0.35);
        }
        draw(*painter, m_glyph);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override {
        QPixmap pm(size * scale);
        pm.setDevicePixelRatio(scale);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }

    QIconEngine* clone() const override { return new TGlyphEngine(m_glyph); }

private:
    TGlyph m_glyph;
};

QIcon themeOr(const char* name, const QIcon& fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name), fallback);
}

QIcon drawn(TGlyph glyph) {
    return QIcon(new TGlyphEngine(glyph));
}

QIcon standard(QStyle::StandardPixmap pixmap) {
    return QApplication::style()->standardIcon(pixmap);
}

QIcon makeIcon(TGlyph glyph) {
    switch (glyph) {
    case TGlyph::ClosedFolder:
        return themeOr("folder", standard(QStyle::SP_DirClosedIcon));
    case TGlyph::OpenFolder:
        return themeOr("folder-open", standard(QStyle::SP_DirOpenIcon));
    case TGlyph::OpenInspector:
        return themeOr("document-open", standard(QStyle::SP_DialogOpenButton));
    case TGlyph::SaveInspector:
        return themeOr("document-save", standard(QStyle::SP_DialogSaveButton));
    case TGlyph::Cut:
        return themeOr("edit-cut", drawn(glyph));
    case TGlyph::Copy:
        return themeOr("edit-copy", drawn(glyph));
    case TGlyph::Paste:
        return themeOr("edit-paste", drawn(glyph));
    case TGlyph::Help:
        return themeOr("help-contents", standard(QStyle::SP_DialogHelpButton));
    default:
        return drawn(glyph);
    }
}

} // namespace

QIcon OrvaneIcon(TGlyph glyph) {
    return makeIcon(glyph);
}

} // namespace orvane
