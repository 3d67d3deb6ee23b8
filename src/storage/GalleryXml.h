#pragma once

// The index and album file formats: reading them into the model and
// writing them from it, with what other tools put into them kept in place.
// No file access here; GalleryFile reads and writes the bytes.

#include "model/Data.h"
#include "model/Foreign.h"

#include <QList>
#include <QString>

namespace qm {

// What the model does not hold of one element, as the text it was written
// in: written back unchanged where it stood, as long as the object it
// belongs to is written.
struct ForeignXml
{
    QString prolog;     // a root's document: what stands before the root (document type, stylesheets)
    QString epilog;     // ... and after it
    QString attributes; // each after one space, as written
    QString before;     // what stood just before an item or node, and goes where it goes
    // What stood inside, by slot: before the known child of that number, then
    // the slot after the known children (ahead of any items), then the end.
    QList<std::pair<int, QString>> pieces;
    // Known child elements with content of their own (attributes, pieces, raw text).
    QList<std::pair<QString, ForeignXmlPtr>> children;
    // The content of a text element as written (an entity reference, a
    // comment), used again as long as the element's value is `textValue`.
    QString text;
    QString textValue;

    ForeignXmlPtr child(QStringView name) const;
};

// The text of an XML file in the encoding it declares (or its byte order
// mark shows); false with the reason when it cannot be decoded faithfully.
bool decodeXml(const QByteArray &bytes, QString *text, QString *problem);

struct AlbumXml
{
    QList<ItemPtr> items;
    ForeignXmlPtr foreign; // of the document and its root
    QString problem;       // the file cannot be used at all: it gave no items
    QString partly;        // read, but what is said here would be lost by a save
    QList<ForeignXmlPtr> records; // every record made, for a save to account for
};
AlbumXml readAlbumXml(const QString &text);

struct IndexXml
{
    QList<NodePtr> nodes;
    // Each album's file as named, in the order of the index.
    QList<std::pair<Album *, QString>> albumFiles;
    ForeignXmlPtr foreign;
    QString problem;
    bool newGallery = false; // the first index of a new gallery, not loaded on purpose
    QList<ForeignXmlPtr> records;
};
IndexXml readIndexXml(const QString &text, int maxDepth);

// The bytes of a file and the records of other tools' content written into them.
struct XmlText
{
    QByteArray bytes;
    QList<ForeignXmlPtr> kept;
};
XmlText albumXml(const Album &album);
XmlText indexXml(const QList<NodePtr> &nodes, const ForeignXmlPtr &foreign);
QByteArray newIndexXml();

} // namespace qm
