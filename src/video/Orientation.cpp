#include "video/Orientation.h"

#include <QFile>
#include <QPainter>
#include <QTransform>
#include <QtEndian>

#include <cmath>

namespace qm {

namespace {

struct Turn
{
    Orientation orientation;
    int a, b, c, d; // the display matrix's upper part
    const char *direction;
    const char *tag;
};

// x' = a x + c y, y' = b x + d y, with y pointing down as in the picture.
constexpr Turn kTurns[] = {
    {Orientation::Upright, 1, 0, 0, 1, "identity", "rotate-0"},
    {Orientation::Clockwise, 0, 1, -1, 0, "90r", "rotate-90"},
    {Orientation::UpsideDown, -1, 0, 0, -1, "180", "rotate-180"},
    {Orientation::CounterClockwise, 0, -1, 1, 0, "90l", "rotate-270"},
    {Orientation::Mirrored, -1, 0, 0, 1, "horiz", "flip-rotate-0"},
    {Orientation::Flipped, 1, 0, 0, -1, "vert", "flip-rotate-180"},
    // The names qtdemux gives these two (mirrored, then turned).
    {Orientation::Transposed, 0, 1, 1, 0, "ul-lr", "flip-rotate-270"},
    {Orientation::AntiTransposed, 0, -1, -1, 0, "ur-ll", "flip-rotate-90"},
};

const Turn &turn(Orientation o)
{
    return kTurns[int(o)];
}

quint32 be32(const char *p)
{
    return qFromBigEndian<quint32>(p);
}

// An ISO box inside `bytes` from `at`: its type and where its content lies.
struct Box
{
    QByteArray type;
    qsizetype content = 0;
    qsizetype end = 0;
};

bool nextBox(const QByteArray &bytes, qsizetype at, qsizetype limit, Box *box)
{
    if (at + 8 > limit)
        return false;
    quint64 size = be32(bytes.constData() + at);
    qsizetype header = 8;
    if (size == 1) {
        if (at + 16 > limit)
            return false;
        size = qFromBigEndian<quint64>(bytes.constData() + at + 8);
        header = 16;
    } else if (size == 0) {
        size = quint64(limit - at);
    }
    if (size < quint64(header) || size > quint64(limit - at))
        return false;
    box->type = bytes.mid(at + 4, 4);
    box->content = at + header;
    box->end = at + qsizetype(size);
    return true;
}

// The first child of that type inside [from, to).
bool findChild(const QByteArray &bytes, qsizetype from, qsizetype to, const char *type, Box *found)
{
    Box box;
    for (qsizetype at = from; nextBox(bytes, at, to, &box); at = box.end) {
        if (box.type == type) {
            *found = box;
            return true;
        }
    }
    return false;
}

// The whole "moov" box of the file, wherever it lies; empty when there is none.
QByteArray readMovieBox(QFile &file)
{
    constexpr qint64 kMaxMovieBox = 64 << 20;
    qint64 at = 0;
    const qint64 size = file.size();
    for (int boxes = 0; boxes < 4096 && at + 8 <= size; ++boxes) {
        if (!file.seek(at))
            return {};
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            return {};
        quint64 boxSize = be32(header.constData());
        qint64 headerSize = 8;
        if (boxSize == 1 && header.size() == 16) {
            boxSize = qFromBigEndian<quint64>(header.constData() + 8);
            headerSize = 16;
        } else if (boxSize == 0) {
            boxSize = quint64(size - at);
        }
        if (boxSize < quint64(headerSize) || boxSize > quint64(size - at))
            return {};
        if (header.mid(4, 4) == "moov") {
            if (boxSize > quint64(kMaxMovieBox) || !file.seek(at))
                return {};
            return file.read(qint64(boxSize));
        }
        at += qint64(boxSize);
    }
    return {};
}

} // namespace

bool swapsSides(Orientation o)
{
    return turn(o).a == 0;
}

const char *videoDirection(Orientation o)
{
    return turn(o).direction;
}

std::optional<Orientation> orientationFromMatrix(double a, double b, double c, double d)
{
    // Some writers scale the matrix (a pixel aspect); only the signs and
    // zeros tell the turn.
    auto sign = [](double v) { return std::fabs(v) < 1e-3 ? 0 : v > 0 ? 1 : -1; };
    for (const Turn &t : kTurns)
        if (sign(a) == t.a && sign(b) == t.b && sign(c) == t.c && sign(d) == t.d)
            return t.orientation;
    return std::nullopt;
}

std::optional<Orientation> orientationFromTag(const QString &tag)
{
    for (const Turn &t : kTurns)
        if (tag == QLatin1String(t.tag))
            return t.orientation;
    return std::nullopt;
}

std::optional<Orientation> readTrackOrientation(const QString &path, quint32 trackId)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray moov = readMovieBox(file);
    Box box;
    if (!nextBox(moov, 0, moov.size(), &box) || box.type != "moov")
        return std::nullopt;
    Box trak;
    for (qsizetype at = box.content; nextBox(moov, at, box.end, &trak); at = trak.end) {
        if (trak.type != "trak")
            continue;
        Box tkhd, mdia, hdlr;
        if (!findChild(moov, trak.content, trak.end, "tkhd", &tkhd))
            continue;
        const bool video = findChild(moov, trak.content, trak.end, "mdia", &mdia)
                           && findChild(moov, mdia.content, mdia.end, "hdlr", &hdlr)
                           && hdlr.end - hdlr.content >= 12 && moov.mid(hdlr.content + 8, 4) == "vide";
        const char *t = moov.constData() + tkhd.content;
        const int version = uchar(t[0]);
        const qsizetype idAt = version == 1 ? 20 : 12;
        const qsizetype matrixAt = version == 1 ? 52 : 40;
        if (tkhd.end - tkhd.content < matrixAt + 36)
            continue;
        const quint32 id = be32(t + idAt);
        if (trackId ? id != trackId : !video)
            continue;
        auto fixed = [t, matrixAt](int i) { return double(qint32(be32(t + matrixAt + 4 * i))) / 65536.0; };
        return orientationFromMatrix(fixed(0), fixed(1), fixed(3), fixed(4));
    }
    return std::nullopt;
}

namespace {

// Maps the stored picture's rectangle (0, 0, w, h) onto the upright one.
QTransform uprightTransform(Orientation o, QSizeF stored)
{
    const Turn &t = turn(o);
    const QTransform m(t.a, t.b, t.c, t.d, 0, 0);
    const QRectF moved = m.mapRect(QRectF(QPointF(0, 0), stored));
    return m * QTransform::fromTranslate(-moved.x(), -moved.y());
}

} // namespace

QImage orientedImage(const QImage &stored, Orientation o)
{
    if (o == Orientation::Upright || stored.isNull())
        return stored;
    return stored.transformed(uprightTransform(o, stored.size()));
}

void drawOriented(QPainter &painter, const QRectF &target, const QImage &stored, Orientation o)
{
    if (stored.isNull())
        return;
    const QSizeF upright = swapsSides(o) ? stored.size().transposed() : stored.size();
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / upright.width(), target.height() / upright.height());
    painter.setTransform(uprightTransform(o, stored.size()), true);
    painter.drawImage(QPointF(0, 0), stored);
    painter.restore();
}

} // namespace qm
