#include "app/ui/ExCComboBox.h"

#include <vector>

#include "app/combo_order.h"

ExCComboBox::ExCComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
}

uint32_t ExCComboBox::ItemData(int index) const { return itemData(index).toUInt(); }

int ExCComboBox::InsertItem(const QString& text, uint32_t itemData) {
    int position = -1;
    if (m_orderedByData) {
        std::vector<uint32_t> ordered;
        ordered.reserve(count());
        for (int i = 0; i < count(); ++i) ordered.push_back(ItemData(i));
        position = OrderedInsertPosition(ordered, itemData);
    }
    const int index = position < 0 ? count() : position;
    insertItem(index, text, QVariant::fromValue(itemData));
    return index;
}

int ExCComboBox::FindItemByData(uint32_t itemData) const {
    for (int i = 0; i < count(); ++i)
        if (ItemData(i) == itemData) return i;
    return -1;
}

int ExCComboBox::SetCurSel(int value, bool byData) {
    const int index = byData ? FindItemByData(static_cast<uint32_t>(value)) : value;
    if (index < 0 || index >= count()) {
        setCurrentIndex(-1);
        return -1;
    }
    setCurrentIndex(index);
    return index;
}

int ExCComboBox::GetCurSel(bool byData) const {
    const int index = currentIndex();
    if (index < 0 || !byData) return index;
    return static_cast<int>(ItemData(index));
}
