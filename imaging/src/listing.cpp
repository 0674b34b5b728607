// A data set listed in one pass: every element of the tree in order, sequences unfolded
// item by item (DicomAttributes::Listing).

#include "internal.h"

#include <QHash>

#include <vector>

namespace imaging::detail {

namespace {

// The elements of one item, gathered before any of them is read: reading a text looks up
// the character set in the item, which moves DCMTK's list cursor, so walking and reading
// in turns would make every step search the list from its start.
std::vector<DcmElement *> ElementsOf(DcmItem *item)
{
    std::vector<DcmElement *> elements;
    elements.reserve(item->card());
    for (DcmObject *o = item->nextInContainer(nullptr); o; o = item->nextInContainer(o))
        elements.push_back(static_cast<DcmElement *>(o));
    return elements;
}

struct Level
{
    DcmItem *item = nullptr;
    std::vector<DcmElement *> elements;
    std::size_t next = 0;
    int itemNumber = 0;
    int depth = 0;
    // The items of the sequence being listed, and the next of them.
    std::vector<DcmItem *> items;
    std::size_t nextItem = 0;
    bool inSequence = false;
};

// A sequence's items in one pass (getItem(i) walks the list from its start each time).
std::vector<DcmItem *> ItemsOf(DcmSequenceOfItems *sequence)
{
    std::vector<DcmItem *> items;
    items.reserve(sequence->card());
    for (DcmObject *o = sequence->nextInContainer(nullptr); o; o = sequence->nextInContainer(o))
        items.push_back(static_cast<DcmItem *>(o));
    return items;
}

} // namespace

std::vector<DicomListedAttribute> ListDataSet(const ItemRef &ref)
{
    std::vector<DicomListedAttribute> rows;
    if (!ref.root || !ref.item)
        return rows;
    std::lock_guard lock(ref.root->mutex);
    // Items repeat the same tags: one dictionary look-up per tag, and one shared text.
    QHash<quint32, QString> descriptions;
    auto description = [&descriptions](const DcmTagKey &key) {
        const quint32 id = (static_cast<quint32>(key.getGroup()) << 16) | key.getElement();
        auto it = descriptions.constFind(id);
        if (it == descriptions.constEnd())
            it = descriptions.insert(id, TagDescription(key));
        return *it;
    };
    std::vector<Level> stack;
    stack.push_back(Level{ref.item, ElementsOf(ref.item), 0, 0, 0, {}, 0, false});
    while (!stack.empty()) {
        Level &level = stack.back();
        if (level.inSequence) {
            if (level.nextItem >= level.items.size()) {
                level.inSequence = false;
                level.items.clear();
                continue;
            }
            const std::size_t n = level.nextItem++;
            DcmItem *item = level.items[n];
            if (!item)
                continue;
            const int depth = level.depth + 1;
            std::vector<DcmElement *> elements = ElementsOf(item);
            stack.push_back(Level{item, std::move(elements), 0, static_cast<int>(n + 1), depth, {}, 0, false});
            continue;
        }
        if (level.next >= level.elements.size()) {
            stack.pop_back();
            continue;
        }
        DcmElement *el = level.elements[level.next++];
        const DcmTagKey key = el->getTag().getXTag();
        DicomListedAttribute row;
        row.group = key.getGroup();
        row.element = key.getElement();
        row.description = description(key);
        row.item = level.itemNumber;
        row.depth = level.depth;
        if (el->ident() == EVR_SQ) {
            auto *sequence = static_cast<DcmSequenceOfItems *>(static_cast<DcmObject *>(el));
            row.vr = QStringLiteral("SQ");
            row.sequence = true;
            row.sequenceItems = static_cast<int>(sequence->card());
            row.vm = 1;
            rows.push_back(std::move(row));
            level.items = ItemsOf(sequence);
            level.nextItem = 0;
            level.inSequence = true;
            continue;
        }
        std::unique_ptr<DcmElement> holder;
        DcmElement *effective = EffectiveElement(el, holder);
        row.vr = QString::fromLatin1(DcmVR(effective->ident()).getValidVRName());
        if (row.vr.size() != 2) {
            // Pixel data is held in a class of its own: its value representation is the
            // one it was read (or declared) with.
            row.vr = QString::fromLatin1(DcmVR(effective->getVR()).getValidVRName());
            if (row.vr.size() != 2)
                row.vr = QStringLiteral("OW");
        }
        // Numbers written as text are listed as the file writes them.
        const DcmEVR evr = effective->ident();
        if (evr == EVR_DS || evr == EVR_IS)
            row.value = StoredNumberTexts(ItemRef{ref.root, level.item}, effective, row.vm);
        else
            row.value = ElementValue(ItemRef{ref.root, level.item}, effective, row.vm);
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace imaging::detail
