// The widget-free rules behind the sheet: where the language list inserts, and the
// string table's lookups.
#include <gtest/gtest.h>

#include <vector>

#include "app/combo_order.h"
#include "app/string_table.h"

namespace {

// Inserts each value where OrderedInsertPosition says, as the combo box does.
std::vector<uint32_t> insert_all(const std::vector<uint32_t>& values) {
    std::vector<uint32_t> list;
    for (uint32_t v : values) {
        const int at = OrderedInsertPosition(list, v);
        list.insert(at < 0 ? list.end() : list.begin() + at, v);
    }
    return list;
}

// Unsigned order, equal items beside their equals, -1 for the end.
TEST(OrderedInsertion, KeepsTheListOrderedByData) {
    const std::pair<std::vector<uint32_t>, std::vector<uint32_t>> cases[] = {
        {{1036, 1031, 1033, 1033, 1040}, {1031, 1033, 1033, 1036, 1040}},
        {{9, 7, 5, 3, 1, 8, 6, 4, 2, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {{0x80000000u, 1, 0xFFFFFFFFu, 2}, {1, 2, 0x80000000u, 0xFFFFFFFFu}},
    };
    for (const auto& [inserted, expected] : cases) EXPECT_EQ(insert_all(inserted), expected);
    const std::vector<uint32_t> list = {10, 20, 20, 20, 30};
    EXPECT_EQ(OrderedInsertPosition({}, 5), 0);
    EXPECT_EQ(OrderedInsertPosition(list, 10), 0);
    EXPECT_EQ(OrderedInsertPosition(list, 30), -1);
    EXPECT_EQ(OrderedInsertPosition(list, 25), 4);
    const int at = OrderedInsertPosition(list, 20);
    EXPECT_TRUE(at >= 1 && at <= 3) << "an equal item lands beside its equals, got " << at;
}

TEST(StringTable, CachedEntriesAndTheGapsBetweenThem) {
    EXPECT_EQ(LoadCachedString(IDS_TITLE), L"Talvex Console Configuration");
    EXPECT_EQ(LoadCachedString(IDS_WARNING), L"Warning");
    EXPECT_EQ(LoadCachedString(IDS_FILE_NAME_BAD_CHARACTERS),
              L"The local database filename contains characters not accepted by the operating "
              L"system. Don't use the characters <, >, :, \", /, \\, |, ? and * in the filename.");
    for (unsigned missing : {0u, 2u, 16u, 17u, 20u, 52u, 54u})
        EXPECT_EQ(LoadCachedString(missing), L"");
}

}  // namespace
