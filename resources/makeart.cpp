// Draws the application's artwork into the folder given as the only argument.
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>
#include <QtMath>

#include <cstdio>

namespace {

QImage canvas(int w, int h, bool transparent)
{
    QImage img(w, h, transparent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    img.fill(transparent ? Qt::transparent : Qt::white);
    return img;
}

void landscape(QPainter &p, const QRectF &r)
{
    QLinearGradient sky(r.topLeft(), r.bottomLeft());
    sky.setColorAt(0, QColor(0x5b, 0x9b, 0xd5));
    sky.setColorAt(1, QColor(0xcf, 0xe6, 0xf7));
    p.fillRect(r, sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd4, 0x4d));
    p.drawEllipse(QPointF(r.left() + r.width() * 0.75, r.top() + r.height() * 0.28), r.height() * 0.13, r.height() * 0.13);
    QPolygonF far{{r.left(), r.bottom()}, {r.left() + r.width() * 0.30, r.top() + r.height() * 0.42},
                  {r.left() + r.width() * 0.55, r.top() + r.height() * 0.70}, {r.left() + r.width() * 0.78, r.top() + r.height() * 0.50},
                  {r.right(), r.top() + r.height() * 0.72}, {r.right(), r.bottom()}};
    p.setBrush(QColor(0x4f, 0x7f, 0x5a));
    p.drawPolygon(far);
    QPolygonF near{{r.left(), r.bottom()}, {r.left(), r.top() + r.height() * 0.78},
                   {r.left() + r.width() * 0.45, r.top() + r.height() * 0.66}, {r.right(), r.top() + r.height() * 0.85},
                   {r.right(), r.bottom()}};
    p.setBrush(QColor(0x33, 0x5c, 0x3b));
    p.drawPolygon(near);
}

void framedPhoto(QPainter &p, const QRectF &r, qreal border)
{
    p.setPen(QPen(QColor(0, 0, 0, 90), 1));
    p.setBrush(Qt::white);
    p.drawRect(r);
    landscape(p, r.adjusted(border, border, -border, -border));
}

QImage albumThumb()
{
    QImage img = canvas(60, 40, false);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    landscape(p, QRectF(0, 0, 60, 40));
    return img;
}

QImage collectionThumb()
{
    QImage img = canvas(60, 40, false);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(img.rect(), QColor(0xe9, 0xe4, 0xda));
    for (int i = 0; i < 3; ++i) {
        p.save();
        p.translate(30, 21);
        p.rotate(-14 + i * 12);
        framedPhoto(p, QRectF(-17, -12, 34, 24), 2);
        p.restore();
    }
    return img;
}

QImage videoThumb()
{
    QImage img = canvas(120, 90, false);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 90);
    g.setColorAt(0, QColor(0x2b, 0x30, 0x3a));
    g.setColorAt(1, QColor(0x12, 0x14, 0x18));
    p.fillRect(img.rect(), g);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xee, 0xee, 0xee, 60));
    for (int x = 4; x < 120; x += 12) {
        p.drawRoundedRect(QRectF(x, 4, 7, 6), 1.5, 1.5);
        p.drawRoundedRect(QRectF(x, 80, 7, 6), 1.5, 1.5);
    }
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(QPointF(60, 45), 22, 22);
    p.setBrush(QColor(0xf5, 0xf5, 0xf5));
    p.drawPolygon(QPolygonF{{52, 33}, {52, 57}, {73, 45}});
    return img;
}

void drawBin(QPainter &p, bool full)
{
    const QColor body(0x8a, 0x94, 0xa3);
    const QColor dark(0x5d, 0x66, 0x73);
    p.setRenderHint(QPainter::Antialiasing);
    if (full) {
        p.setPen(QPen(QColor(0x9c, 0x8c, 0x6c), 1));
        p.setBrush(QColor(0xf4, 0xef, 0xe1));
        p.save();
        p.translate(26, 16);
        p.rotate(-20);
        p.drawRect(QRectF(-9, -11, 18, 22));
        p.restore();
        p.save();
        p.translate(38, 15);
        p.rotate(16);
        p.setBrush(QColor(0xdd, 0xe9, 0xf5));
        p.drawRect(QRectF(-9, -11, 18, 22));
        p.restore();
    }
    QPainterPath can;
    can.moveTo(14, 22);
    can.lineTo(50, 22);
    can.lineTo(46, 60);
    can.lineTo(18, 60);
    can.closeSubpath();
    QLinearGradient g(14, 0, 50, 0);
    g.setColorAt(0, body.lighter(125));
    g.setColorAt(1, body.darker(110));
    p.setPen(QPen(dark, 1.5));
    p.setBrush(g);
    p.drawPath(can);
    p.setPen(QPen(dark, 1.5));
    for (qreal x : {24.0, 32.0, 40.0})
        p.drawLine(QPointF(x, 28), QPointF(x - (x - 32) * 0.1, 55));
    p.setBrush(body.lighter(115));
    p.drawRoundedRect(QRectF(10, 17, 44, 6), 2, 2);
    p.drawRoundedRect(QRectF(26, 13, 12, 5), 2, 2);
}

QImage trash(bool full)
{
    QImage img = canvas(64, 64, true);
    QPainter p(&img);
    drawBin(p, full);
    return img;
}

QImage photoKind()
{
    QImage img = canvas(16, 16, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    framedPhoto(p, QRectF(1.5, 3.5, 13, 10), 1);
    return img;
}

QImage videoKind()
{
    QImage img = canvas(16, 16, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x33, 0x37, 0x40));
    p.drawRoundedRect(QRectF(1, 3, 14, 10), 1.5, 1.5);
    p.setBrush(QColor(0xee, 0xee, 0xee));
    for (int x = 2; x < 15; x += 3) {
        p.drawRect(QRectF(x, 4, 1.6, 1.4));
        p.drawRect(QRectF(x, 10.6, 1.6, 1.4));
    }
    p.drawPolygon(QPolygonF{{6.5, 6}, {6.5, 10}, {10, 8}});
    return img;
}

// The album tree's icons for a node without a thumbnail: one framed
// picture for an album, a fanned stack of them for a collection.
QImage albumKind()
{
    QImage img = canvas(32, 32, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    framedPhoto(p, QRectF(3.5, 7.5, 25, 18), 2);
    return img;
}

QImage collectionKind()
{
    QImage img = canvas(32, 32, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 3; ++i) {
        p.save();
        p.translate(16, 17);
        p.rotate(-16 + i * 14);
        framedPhoto(p, QRectF(-11, -8, 22, 16), 1.5);
        p.restore();
    }
    return img;
}

QImage gear()
{
    QImage img = canvas(32, 32, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(16, 16);
    QPainterPath path;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const qreal a = i * M_PI / teeth;
        const qreal r = (i % 2 == 0) ? 14 : 11;
        const QPointF pt(r * qCos(a), r * qSin(a));
        const QPointF pt2(r * qCos(a + M_PI / teeth * 0.6), r * qSin(a + M_PI / teeth * 0.6));
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
        path.lineTo(pt2);
    }
    path.closeSubpath();
    path.addEllipse(QPointF(0, 0), 4.5, 4.5);
    p.setPen(QPen(QColor(0x4a, 0x50, 0x5a), 1));
    p.setBrush(QColor(0x8e, 0x96, 0xa3));
    p.drawPath(path);
    return img;
}

QImage appIcon()
{
    QImage img = canvas(256, 256, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient bg(QPointF(128, 100), 170);
    bg.setColorAt(0, QColor(0x3d, 0x6f, 0xa8));
    bg.setColorAt(1, QColor(0x1f, 0x3a, 0x5f));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
    p.save();
    p.translate(120, 140);
    p.rotate(-8);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawRect(QRectF(-80, -56, 164, 120));
    framedPhoto(p, QRectF(-84, -62, 164, 120), 9);
    p.restore();
    // A quill feather crossing the picture.
    QPainterPath feather;
    feather.moveTo(214, 30);
    feather.cubicTo(170, 50, 120, 110, 96, 196);
    feather.cubicTo(140, 150, 200, 96, 214, 30);
    p.setBrush(QColor(0xfa, 0xf7, 0xef));
    p.setPen(QPen(QColor(0x9b, 0x8f, 0x76), 2));
    p.drawPath(feather);
    p.setPen(QPen(QColor(0x6b, 0x5f, 0x48), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(210, 36), QPointF(88, 214));
    return img;
}

bool save(const QImage &img, const QString &folder, const char *name)
{
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    if (!img.save(path, nullptr, 92)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qm_makeart FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = true;
    ok &= save(albumThumb(), out, "albumthumb.jpg");
    ok &= save(collectionThumb(), out, "collthumb.jpg");
    ok &= save(videoThumb(), out, "videothumb.jpg");
    ok &= save(trash(false), out, "trashempty.png");
    ok &= save(trash(true), out, "trashfull.png");
    ok &= save(photoKind(), out, "photokind.png");
    ok &= save(videoKind(), out, "videokind.png");
    ok &= save(albumKind(), out, "albumkind.png");
    ok &= save(collectionKind(), out, "collectionkind.png");
    ok &= save(gear(), out, "GeneralPreferences.png");
    ok &= save(appIcon(), out, "quillmere.png");
    return ok ? 0 : 1;
}
