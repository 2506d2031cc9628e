// The INI parser: what a read keeps and drops, typed reads, changes, and the
// layout of a written file. That a written file reads back to the same content and
// bytes is the fuzz target's invariant (fuzz/fuzz_configparser.cpp).
#include "code/configparser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/ini_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class ConfigParserTest : public ::testing::Test {
protected:
    bool read(ConfigParser& parser, const std::string& bytes) {
        write_file_bytes(m_path, bytes);
        return parser.read(m_path.c_str());
    }
    std::string written(ConfigParser& parser) {
        const std::string out = m_dir.file("out.ini");
        EXPECT_TRUE(parser.write(out.c_str(), true));
        return read_file_bytes(out);
    }

    TempDir m_dir;
    std::string m_path = m_dir.file("in.ini");
};

// What a read keeps shows whole in what the parser writes back. (Lines outside any
// section: console_setting_parser_test.)
TEST_F(ConfigParserTest, ReadKeepsTheFirstOfDuplicatesAndDropsStrayLines) {
    using namespace std::string_literals;
    // Far longer than any read chunk or write buffer; two halves fill one buffer.
    const std::string huge(3 * 1024 * 1024, 'x'), half(40 * 1024, 'y');
    const std::tuple<std::string, bool, std::string> cases[] = {
        // NUL bytes are kept, long lines are read whole, names are case-sensitive, the
        // last line needs no line end.
        {"[A\0B]\nk\0ey = v\0al\n"s, true, "---\n[A\0B]\nk\0ey = v\0al\n"s},
        {"[A]\na=" + half + "\nb=" + half + "\nlong = " + huge + "\n" + huge + "\n[" + huge +
             "]\nk=1\n",
         true,
         "---\n[A]\na = " + half + "\nb = " + half + "\nlong = " + huge + "\n---\n[" + huge +
             "]\nk = 1\n"},
        {"[A]\nk=1\nK=2\n[a]\nk=3", true, "---\n[A]\nK = 2\nk = 1\n---\n[a]\nk = 3\n"},
        {"", true, ""},
        // Duplicates: the first wins, the second section is dropped whole, reading goes on.
        {"[A]\nx=1\n[A]\nx=2\ny=3\n[B]\nz=4\n", false, "---\n[A]\nx = 1\n---\n[B]\nz = 4\n"},
        {"[A]\n# first\nk=1\n# second\nk=2\n", false, "---\n[A]\n# first\nk = 1\n"},
        // Line syntax: the first ':' or '=' separates, the value keeps its trailing
        // blanks but not the CR, a header ignores what follows its ']'.
        {"[ Name ]  trailing\r\npath: C:\\x = y\r\n  k  = v  \r\ninline = a ; b\r\n[Broken\r\n"
         "no separator here\r\n=empty key\r\ntab\t=\t\tx\r\n",
         true, "---\n[Name]\n = empty key\ninline = a ; b\nk = v  \npath = C:\\x = y\ntab = x\n"},
        // Comments stay with the line below them, or go with a line that is dropped;
        // those after the last line are written last.
        {"  ; note\n[B]\n# for first\n\nfirst = 1\nsecond = 2\n# dropped with the line below\n"
         "junk\nthird = 3\n[C]\nc = 1\n# end one\n;end two\n",
         true,
         "; note\n[B]\n# for first\nfirst = 1\nsecond = 2\nthird = 3\n---\n[C]\nc = 1\n# end "
         "one\n;end two\n"},
    };
    for (const auto& [input, ok, output] : cases) {
        SCOPED_TRACE(input.substr(0, 200));
        ConfigParser p(true);
        EXPECT_EQ(read(p, input), ok);
        EXPECT_EQ(written(p), ini_lines(output));
    }
    ConfigParser trimmed(false);
    EXPECT_TRUE(read(trimmed, "[S]\nk = v \t\n"));
    EXPECT_EQ(written(trimmed), ini_lines("---\n[S]\nk = v\n"));
}

// Keys in byte order (sections in the order added: console_setting_parser_test).
TEST_F(ConfigParserTest, WriteLayoutSetFormsAndRefusals) {
    ConfigParser p(true);
    EXPECT_FALSE(p.set("S", "k", "v", false)) << "no such section";
    EXPECT_FALSE(p.modified());
    EXPECT_FALSE(p.write(nullptr, true)) << "no file name known";
    const std::string note = "  about S ", semicolon = ";x", blank = "   ", two_lines = "a\nb";
    EXPECT_TRUE(p.add_section("S", &note));
    EXPECT_FALSE(p.add_section("S")) << "exists already";
    EXPECT_TRUE(p.set("S", "k", "", false, &semicolon));
    EXPECT_TRUE(p.set("S", "max", 18446744073709551615ul, false, &blank));
    EXPECT_TRUE(p.set_bool("S", "no", false, false));
    EXPECT_TRUE(p.set("S", "\xc3\xa9", "v", false, &semicolon));
    EXPECT_TRUE(p.set("S", "\xc3\xa9", "w", false)) << "a set without a comment drops the key's";

    // Texts the file could not carry back are refused and change nothing.
    LogCapture log;
    for (const char* key : {"a=b", "[x]", "#k", " k"}) EXPECT_FALSE(p.set("S", key, "v", true));
    EXPECT_FALSE(p.set("S", "no", "line\n[Injected]", true));
    EXPECT_FALSE(p.set("S", "no", "v", true, &two_lines));
    for (const char* name : {"", "a]b", " pad"}) EXPECT_FALSE(p.add_section(name)) << name;
    EXPECT_TRUE(log.messages().empty());
    EXPECT_FALSE(p.set("bad]name", "k", "v", true));
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"verify(add_section(section_name)) failure"});
    EXPECT_EQ(written(p), ini_lines("# about S\n[S]\n;x\nk = \nmax = 18446744073709551615\n"
                                    "no = False\n\xc3\xa9 = w\n"));
}

TEST_F(ConfigParserTest, TypedReads) {
    ConfigParser p(true);
    // Read as stream extraction reads: blanks, an optional '+', digits, then anything;
    // 99 for a text that is no number, which leaves the number untouched.
    const std::pair<const char*, unsigned> numbers[] = {
        {"  7  ", 7},       {"4294967295", 4294967295u},
        {"4294967296", 99}, {"12abc", 12},
        {"-1", 99},         {"+5", 5},
        {"", 99},           {"+", 99}};
    for (const auto& [text, expected] : numbers) {
        ASSERT_TRUE(p.set("S", "k", text, true));
        unsigned n = 99;
        EXPECT_EQ(p.get("S", "k", n), expected != 99) << text;
        EXPECT_EQ(n, expected) << text;
    }
    // True for a word starting "t" or "on" (any case) or a number other than 0; a
    // leading blank is no digit. The first four are true.
    const char* const switches[] = {"On",      "17",    "trueish", "TRUE", "OFF",
                                    "offline", "false", "0",       "yes",  " 1"};
    for (size_t i = 0; i < std::size(switches); ++i) {
        ASSERT_TRUE(p.set("S", "k", switches[i], true));
        bool b = i >= 4;
        EXPECT_TRUE(p.get_bool("S", "k", b) && b == (i < 4)) << switches[i];
    }
    unsigned n = 99;
    bool b = true;
    std::string text = "keep";
    EXPECT_FALSE(p.get("S", "no", n) || p.get_bool("S", "no", b) || p.get("No", "k", text));
    EXPECT_EQ(std::make_tuple(n, b, text), std::make_tuple(99u, true, std::string("keep")));
}

// Reads add to what is held. A parser that read a file and changed it saves itself
// there as it ends; a failure is logged and leaves what stands at the name alone. (The old file's
// mode and ACL: settings_file_faults_test.)
TEST_F(ConfigParserTest, WhenAFileIsWritten) {
    const std::string other = m_dir.file("other.ini"), fresh = m_dir.file("fresh.ini");
    write_file_bytes(other, "[A]\n[B]\n");
    {
        ConfigParser p(true);
        ASSERT_TRUE(read(p, "x = 1\n[A]\nk = v\n# tail\n"));
        EXPECT_FALSE(p.read(other.c_str())) << "[A] is held already";
        EXPECT_EQ(p.problems().size(), 1u) << "each read lists its own";
        EXPECT_FALSE(p.write(nullptr, false)) << "nothing changed";
        EXPECT_TRUE(p.write("", true)) << "forced, to the remembered name";
        const mode_t old_mask = umask(022);
        EXPECT_TRUE(p.write(fresh.c_str(), true));
        umask(old_mask);
        EXPECT_TRUE(p.set("A", "k", "2", false));
    }
    // At the first name read, with what each read added and the last one's trailing comments.
    EXPECT_EQ(read_file_bytes(m_path), ini_lines("---\n[A]\nk = 2\n---\n[B]\n"));
    EXPECT_EQ(std::filesystem::status(fresh).permissions(), std::filesystem::perms(0644))
        << "what any new file gets";

    LogCapture log;
    EXPECT_FALSE(ConfigParser(true).read(nullptr));
    {
        ConfigParser p(true);
        ASSERT_TRUE(p.read(m_path.c_str()));
        EXPECT_TRUE(p.set("A", "k", "3", false));
        std::filesystem::remove(m_path);
        std::filesystem::create_directory(m_path);
    }
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"verify(filename) failure",
                                        "Failed forced writing in file named [" + m_path + "]"}));
}

}  // namespace
