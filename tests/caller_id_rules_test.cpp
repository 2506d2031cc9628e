// The caller-ID page's rules for the local file name and the port, without a widget.
#include "app/caller_id_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/string_table.h"

namespace {

TEST(CallerIdRules, LocalFileNameGainsXmlAndIsABareNameTheSystemAccepts) {
    const std::wstring longest(256, L'a');  // with ".xml", exactly 260 units
    const struct {
        std::wstring typed;
        unsigned refusal;
        std::wstring shown;  // the name after validation
    } cases[] = {
        {L"calls", 0, L"calls.xml"},
        {L"calls.XML", 0, L"calls.XML.xml"},
        {L"calls.", 0, L"calls..xml"},
        {L" \tcalls.xml  ", 0, L"calls.xml"},
        {L"", IDS_FILL_ALL_FIELDS, L""},
        {L"   ", IDS_FILL_ALL_FIELDS, L""},
        {longest, 0, longest + L".xml"},
        {longest + L"a", IDS_FILE_NAME_TOO_LONG, longest + L"a.xml"},
        // A character beyond U+FFFF takes two UTF-16 units of the console's limit.
        {longest.substr(1) + L"\U0001F600", IDS_FILE_NAME_TOO_LONG,
         longest.substr(1) + L"\U0001F600.xml"},
        {L"sub\\calls.xml", IDS_FILE_NAME_BAD_CHARACTERS, L"sub\\calls.xml"},
        {L"sub/calls.xml", IDS_FILE_NAME_BAD_CHARACTERS, L"sub/calls.xml"},
        {L"C:calls.xml", IDS_FILE_NAME_BAD_CHARACTERS, L"C:calls.xml"},
        {L"\\\\host\\calls.xml", IDS_FILE_NAME_BAD_CHARACTERS, L"\\\\host\\calls.xml"},
        {L"/calls.xml", IDS_FILE_NAME_BAD_CHARACTERS, L"/calls.xml"},
        {L"a|b.xml", IDS_FILE_NAME_BAD_CHARACTERS, L"a|b.xml"},
        {L"a?b", IDS_FILE_NAME_BAD_CHARACTERS, L"a?b.xml"},
        {std::wstring(L"a\x1f"
                      L"b.xml"),
         IDS_FILE_NAME_BAD_CHARACTERS,
         L"a\x1f"
         L"b.xml"},
        {std::wstring(L"a\0b.xml", 7), IDS_FILE_NAME_BAD_CHARACTERS, std::wstring(L"a\0b.xml", 7)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "typed: " << testing::PrintToString(c.typed));
        CallerIdFields fields;
        fields.kind = CallerIdDbLocal;
        fields.localFileName = c.typed;
        std::wstring shown = L"previous";
        EXPECT_EQ(ValidateCallerIdFields(fields, shown), c.refusal);
        EXPECT_EQ(shown, c.shown);
    }
    EXPECT_EQ(CheckLocalFileName(L""), FileNameEmpty);
}

TEST(CallerIdRules, PortTextGivesTheStoredPortAndTheTypedOne) {
    const struct {
        const wchar_t* text;
        uint32_t normalised;  // a stored or disabled port
        std::optional<uint32_t> typed;
        bool inRange;
    } cases[] = {
        {L"52444", 52444, 52444, true},
        {L"1", 1, 1, true},
        {L"65535", 65535, 65535, true},
        {L" 3050 ", 3050, 3050, true},
        {L"0", 52444, 0, false},
        {L"65536", 52444, 65536, false},
        {L"70000", 52444, 70000, false},
        {L"4294967296", 52444, std::nullopt, false},
        {L"99999999999999999999999", 52444, std::nullopt, false},
        {L"abc", 52444, std::nullopt, false},
        {L"", 52444, std::nullopt, false},
        {L"80abc", 80, std::nullopt, false},
        {L"-1", 52444, std::nullopt, false},
        {L"+80", 80, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
        EXPECT_EQ(NormalisedPort(c.text), c.normalised);
        EXPECT_EQ(ParsePortText(c.text), c.typed);
        EXPECT_EQ(c.typed && PortInRange(*c.typed), c.inRange);
    }
}

}  // namespace
