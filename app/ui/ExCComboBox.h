#pragma once
// A drop-down list whose items stay ordered by their data and are selected and read
// by that data as well as by position.

#include <QComboBox>
#include <cstdint>

class ExCComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ExCComboBox(QWidget* parent = nullptr);

    // Inserts before the first item whose data is not smaller; the new item's index.
    int InsertItem(const QString& text, uint32_t itemData);
    // The first item holding `itemData`; -1 when none does.
    int FindItemByData(uint32_t itemData) const;
    // Selects by position, or by data; -1 (nothing selected) when there is no such item.
    int SetCurSel(int value, bool byData);
    // The selected item's position, or its data; -1 when nothing is selected.
    int GetCurSel(bool byData) const;

    uint32_t ItemData(int index) const;

    bool m_orderedByData = true;
};
