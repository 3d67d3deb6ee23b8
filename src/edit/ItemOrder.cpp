#include "edit/ItemOrder.h"

#include "model/Photo.h"
#include "model/Video.h"

#include <QCollator>
#include <QCoreApplication>

#include <algorithm>

namespace qm {

QString sortKeyName(SortKey key)
{
    switch (key) {
    case SortKey::DateTaken:
        return QCoreApplication::translate("ItemOrder", "Date Taken");
    case SortKey::Title:
        return QCoreApplication::translate("ItemOrder", "Title");
    case SortKey::FileName:
        return QCoreApplication::translate("ItemOrder", "File Name");
    }
    return QString();
}

QString mainFileName(const Item &item)
{
    if (item.isPhoto()) {
        const auto &photo = static_cast<const Photo &>(item);
        return photo.imageFile().isEmpty() ? photo.smallImageFile() : photo.imageFile();
    }
    const auto &video = static_cast<const Video &>(item);
    return video.streams().isEmpty() ? video.thumbFile() : video.streams().first()->file();
}

QList<ItemPtr> sortedItems(const QList<ItemPtr> &items, SortKey key, const DateForm &hint)
{
    QList<ItemPtr> order = items;
    if (key == SortKey::DateTaken) {
        // Each date read once; an unreadable one sorts after every real day.
        QHash<const Item *, qint64> day;
        day.reserve(items.size());
        for (const ItemPtr &item : items) {
            const DateReading r = DateForm::read(item->date(), hint);
            day.insert(item.get(), r.isValid() ? r.date.toJulianDay() : std::numeric_limits<qint64>::max());
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](const ItemPtr &a, const ItemPtr &b) { return day.value(a.get()) < day.value(b.get()); });
        return order;
    }
    // The C locale compares code points only, numbers and all.
    QCollator collator(QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale());
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QHash<const Item *, QCollatorSortKey> keys;
    keys.reserve(items.size());
    for (const ItemPtr &item : items)
        keys.insert(item.get(), collator.sortKey(key == SortKey::Title ? item->title() : mainFileName(*item)));
    std::stable_sort(order.begin(), order.end(), [&](const ItemPtr &a, const ItemPtr &b) {
        return keys.find(a.get())->compare(*keys.find(b.get())) < 0;
    });
    return order;
}

} // namespace qm
