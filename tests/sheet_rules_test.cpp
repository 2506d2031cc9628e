// The widget-free rules behind the sheet's pages: the caller-ID fields, where the language
// list inserts, the string table's gaps and the connection test's client-library step.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/caller_id_rules.h"
#include "app/combo_order.h"
#include "app/connection_test.h"
#include "app/string_table.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(CallerIdRules, LocalFileNameGainsXmlAndIsABareNameTheSystemAccepts) {
    const std::wstring longest(256, L'a');  // with ".xml", exactly 260 units
    // The name typed, the refusal, the name shown after validation.
    std::vector<std::tuple<std::wstring, unsigned, std::wstring>> cases = {
        {L"calls.XML", 0, L"calls.XML.xml"},
        {L"calls.", 0, L"calls..xml"},
        {L" \tcalls.xml  ", 0, L"calls.xml"},
        {longest, 0, longest + L".xml"},
        // A character beyond U+FFFF takes two UTF-16 units of the console's limit.
        {longest.substr(1) + L"\U0001F600", IDS_FILE_NAME_TOO_LONG,
         longest.substr(1) + L"\U0001F600.xml"},
    };
    // Each refused character, U+0000 and another control character among them, and a
    // folder, a drive or a share by either separator; the name shown gains ".xml" still.
    for (const wchar_t refused : std::wstring(L"<>:\"|?*/\\\x1f\0", 11))
        cases.emplace_back(std::wstring(L"a") + refused + L"b", IDS_FILE_NAME_BAD_CHARACTERS,
                           std::wstring(L"a") + refused + L"b.xml");
    for (const auto& [typed, refusal, shown] : cases) {
        SCOPED_TRACE(testing::PrintToString(typed));
        CallerIdFields fields;
        fields.kind = CallerIdDbLocal;
        fields.localFileName = typed;
        std::wstring validated = L"previous";
        EXPECT_EQ(ValidateCallerIdFields(fields, validated), refusal);
        EXPECT_EQ(validated, shown);
    }
    EXPECT_EQ(CheckLocalFileName(L""), FileNameEmpty);
}

TEST(CallerIdRules, PortTextGivesTheStoredPortAndTheTypedOne) {
    // The text, the port it is stored as (or a disabled port), the port typed, in range.
    const std::tuple<const wchar_t*, uint32_t, std::optional<uint32_t>, bool> cases[] = {
        {L"1", 1, 1, true},
        {L"65535", 65535, 65535, true},
        {L" 3050 ", 3050, 3050, true},
        {L"65536", 52444, 65536, false},
        {L"4294967297", 52444, std::nullopt, false},
        {L"99999999999999999999999", 52444, std::nullopt, false},
        {L"80abc", 80, std::nullopt, false},
        {L"-1", 52444, std::nullopt, false},
        {L"+80", 80, std::nullopt, false},
    };
    for (const auto& [text, normalised, typed, inRange] : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
        EXPECT_EQ(NormalisedPort(text), normalised);
        EXPECT_EQ(ParsePortText(text), typed);
        EXPECT_EQ(typed && PortInRange(*typed), inRange);
    }
}

// Each value inserted where OrderedInsertPosition says, as the combo box does: the list
// stays in unsigned order, an equal item beside its equals.
TEST(OrderedInsertion, KeepsTheListOrderedByData) {
    const std::pair<std::vector<uint32_t>, std::vector<uint32_t>> cases[] = {
        {{1036, 0xFFFFFFFFu, 1031, 1033, 0x80000000u, 1033, 1040},
         {1031, 1033, 1033, 1036, 1040, 0x80000000u, 0xFFFFFFFFu}},
        {{9, 7, 5, 3, 1, 8, 6, 4, 2, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
    };
    for (const auto& [inserted, expected] : cases) {
        std::vector<uint32_t> list;
        for (uint32_t v : inserted) {
            const int at = OrderedInsertPosition(list, v);
            list.insert(at < 0 ? list.end() : list.begin() + at, v);
        }
        EXPECT_EQ(list, expected);
    }
}

TEST(StringTable, AnIdentifierWithoutAnEntryGivesNoText) {
    for (unsigned missing : {0u, 2u, 16u, 52u, 54u}) EXPECT_EQ(LoadCachedString(missing), L"");
}

// The steps against the server are run by admin_commands_test and by the dialog's cases
// in caller_id_page_test, which also see the lines of a failed connect step.
TEST(ConnectionTest, AMissingOrUnloadableClientLibraryFailsItsStep) {
    TempDir empty, broken;
    write_file_bytes(broken.file("libfbclient.so.2"), "\177ELF but not really a library");
    const std::wstring missing = empty.path().wstring() + L"/libfbclient.so.2";
    std::vector<std::wstring> lines;
    const auto addLine = [&lines](const std::wstring& line) { lines.push_back(line); };
    ConnectionTestDetails details;
    EXPECT_FALSE(RunConnectionTest(empty.path().wstring(), {}, addLine, &details));
    EXPECT_EQ(lines, (std::vector<std::wstring>{LoadCachedString(IDS_LIBRARY_TRYING),
                                                L"This file could NOT be found: " + missing, L"",
                                                LoadCachedString(IDS_TEST_FAILED)}));
    ASSERT_EQ(details.steps.size(), 1u);
    EXPECT_FALSE(details.steps[0].passed);
    EXPECT_EQ(details.steps[0].error, L"no such file: " + missing);

    EXPECT_FALSE(RunConnectionTest(broken.path().wstring(), {}, addLine, &details));
    ASSERT_EQ(details.steps.size(), 2u) << "the details start afresh";
    EXPECT_TRUE(details.steps[0].passed && !details.steps[1].passed);
    EXPECT_NE(details.steps[1].error.find(L"cannot load"), std::wstring::npos)
        << testing::PrintToString(details.steps[1].error);
    EXPECT_EQ(DescribeConnectionTestDetails(details).find(L"Firebird error"), std::wstring::npos)
        << "no code to show";
}

}  // namespace
