// The INI parser: what a read keeps and drops, typed reads, changes, and the
// layout of a written file.
#include "code/configparser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "tests/support/ini_text.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class ConfigParserTest : public ::testing::Test {
protected:
    // Reads `bytes` as a file; returns read's answer.
    bool read(ConfigParser& parser, const std::string& bytes) {
        write_file_bytes(m_path, bytes);
        return parser.read(m_path.c_str());
    }
    // What `parser` writes, as bytes.
    std::string written(ConfigParser& parser) {
        const std::string out = m_dir.file("out.ini");
        EXPECT_TRUE(parser.write(out.c_str(), true));
        return read_file_bytes(out);
    }

    TempDir m_dir;
    std::string m_path = m_dir.file("in.ini");
};

// What a read keeps shows whole in what the parser writes back.
TEST_F(ConfigParserTest, ReadKeepsTheFirstOfDuplicatesAndDropsStrayLines) {
    using namespace std::string_literals;
    const std::string huge(3 * 1024 * 1024, 'x');  // far longer than any read chunk
    const std::tuple<std::string, bool, std::string> cases[] = {
        // NUL bytes are kept, long lines are read whole.
        {"[A\0B]\nk\0ey = v\0al\n"s, true, "---\n[A\0B]\nk\0ey = v\0al\n"s},
        {"[A]\nlong = " + huge + "\n" + huge + "\n[" + huge + "]\nk=1\n", true,
         "---\n[A]\nlong = " + huge + "\n---\n[" + huge + "]\nk = 1\n"},
        // Duplicates: the first wins, the second section is dropped whole, reading goes on.
        {"[A]\nx=1\n[A]\nx=2\ny=3\n[B]\nz=4\n", false, "---\n[A]\nx = 1\n---\n[B]\nz = 4\n"},
        {"[A]\n# first\nk=1\n# second\nk=2\n", false, "---\n[A]\n# first\nk = 1\n"},
        // Lines before the first section or under a header that names none are
        // dropped, and cost nothing else.
        {"k=0\n[A]\nk=1\n", true, "---\n[A]\nk = 1\n"},
        {"[A]\na=1\n[ ]\nk=2\n[B]\nb=3\n", true, "---\n[A]\na = 1\n---\n[B]\nb = 3\n"},
        {"[]\n", true, ""},
        {"", true, ""},
        {"; about A\n\n[A]\nk=1\n", true, "; about A\n[A]\nk = 1\n"},
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
        {"; lead\n[S]\n# c\nk = v \r\nx:y\n[T] t\n\x01\x02=\xff\xfe\n[S]\nk=dup\n# tail\n", false,
         "; lead\n[S]\n# c\nk = v \nx = y\n---\n[T]\n\x01\x02 = \xff\xfe\n# tail\n"},
    };
    for (const auto& [input, ok, output] : cases) {
        SCOPED_TRACE(input.substr(0, 200));
        ConfigParser p(true), again(true);
        EXPECT_EQ(read(p, input), ok);
        EXPECT_EQ(written(p), ini_lines(output));
        EXPECT_TRUE(read(again, ini_lines(output))) << "a written file reads back whole";
        EXPECT_EQ(written(again), ini_lines(output));
    }
    ConfigParser p(true);
    EXPECT_TRUE(read(p, "[Name]\npath = x\n"));
    EXPECT_FALSE(p.has_option("name", "path")) << "names are case-sensitive";
    ConfigParser trimmed(false);
    EXPECT_TRUE(read(trimmed, "[S]\nk = v \t\n"));
    EXPECT_EQ(written(trimmed), ini_lines("---\n[S]\nk = v\n"));
}

// Where each thing was read, and the lines that were not taken, in file order.
TEST_F(ConfigParserTest, ReadLocatesSectionsKeysAndProblems) {
    LogCapture log;
    ConfigParser p(true);
    EXPECT_FALSE(read(p,
                      "stray = 1\n\n[A]\n; c\nx = 1\n[]\ny = 2\n[A]\nx = 3\nx = 4\n[B]\n"
                      "k = 1\nk = 2\nlast = 5\n"));
    std::string problems;  // kind@line[section]key
    for (const ConfigParser::Problem& q : p.problems())
        problems += std::to_string(q.kind) + "@" + std::to_string(q.line) + "[" + q.section + "]" +
                    q.key + " ";
    EXPECT_EQ(problems, "2@1[]stray 2@7[]y 0@8[A] 1@10[A]x 1@13[B]k ");
    EXPECT_EQ(log.messages(), std::vector<std::string>{"2 key line(s) outside any section ignored "
                                                       "in ini file [" +
                                                       m_path + "], the first at line 1"});
    const auto& b = p.sections().at("B");
    EXPECT_TRUE(p.set("B", "k", "9", false));
    EXPECT_TRUE(p.set("C", "n", "0", true));
    EXPECT_EQ(std::make_tuple(b.options.at("k").line, p.sections().at("C").line),
              std::make_tuple(0u, 0u))
        << "set in memory";
    EXPECT_TRUE(read(p, "[D]\n"));
    EXPECT_TRUE(p.problems().empty()) << "each read lists its own";
}

TEST_F(ConfigParserTest, SuccessiveReadsAddToWhatIsHeld) {
    LogCapture log;
    auto owner = std::make_unique<ConfigParser>(true);
    ConfigParser& p = *owner;
    EXPECT_FALSE(p.read(nullptr));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"verify(filename) failure"});
    EXPECT_FALSE(p.read(m_dir.file("missing.ini").c_str()));
    EXPECT_TRUE(p.filename().empty()) << "a missing file is not remembered";
    EXPECT_TRUE(read(p, "[A]\n# tail\n"));
    write_file_bytes(m_dir.file("other.ini"), "[B]\n");
    EXPECT_TRUE(p.read(m_dir.file("other.ini").c_str()));
    EXPECT_EQ(p.filename(), m_path) << "the first name is kept";
    EXPECT_TRUE(p.trailing_comments().empty()) << "each read replaces the trailing comments";
    EXPECT_FALSE(p.read(m_path.c_str())) << "a section held from an earlier read counts";
    EXPECT_EQ(p.section_order(), (std::vector<std::string>{"A", "B"}));
    owner.reset();
    EXPECT_EQ(read_file_bytes(m_path), "[A]\n# tail\n")
        << "an unchanged parser ends without a write";
}

TEST_F(ConfigParserTest, WriteLayoutSetFormsAndRefusals) {
    ConfigParser p(true);
    EXPECT_FALSE(p.set("Missing", "k", "v", false));
    EXPECT_FALSE(p.modified());
    EXPECT_TRUE(p.set("Zeta", "b", "1", true));
    EXPECT_TRUE(p.set("Zeta", "B", 4294967295u, true));
    EXPECT_TRUE(p.set("Zeta", "a", 18446744073709551615ul, true));
    EXPECT_TRUE(p.set_bool("Zeta", "yes", true, true));
    EXPECT_TRUE(p.set_bool("Zeta", "no", false, true));
    EXPECT_TRUE(p.set("Alpha", "\xc3\xa9", "utf-8 sorts after ASCII", true));
    EXPECT_TRUE(p.set("Alpha", "z", "", true));
    const std::string note = "  about alpha ";
    EXPECT_FALSE(p.add_section("Alpha", &note)) << "exists already";
    EXPECT_TRUE(p.modified());
    // Sections in insertion order, keys in byte order.
    EXPECT_EQ(written(p),
              ini_lines("---\n[Zeta]\nB = 4294967295\na = 18446744073709551615\nb = "
                        "1\nno = False\nyes = True\n---\n[Alpha]\nz = \n\xc3\xa9 = utf-8 "
                        "sorts after ASCII\n"));

    ConfigParser q(true);
    EXPECT_TRUE(q.add_section("S", &note));
    const std::string semicolon = ";x", blank = "   ";
    EXPECT_TRUE(q.set("S", "k", "v", false, &semicolon));
    EXPECT_TRUE(q.set("S", "m", "w", false, &blank));
    EXPECT_EQ(written(q), ini_lines("# about alpha\n[S]\n;x\nk = v\nm = w\n"));
    EXPECT_TRUE(q.set("S", "k", "v2", false)) << "a set without a comment drops the key's";

    // Texts the file could not carry back are refused and change nothing.
    LogCapture log;
    const std::string two_lines = "one\ntwo";
    for (const char* key : {"a=b", "[x]", "#k", " k"}) EXPECT_FALSE(q.set("S", key, "v", true));
    EXPECT_FALSE(q.set("S", "k", "line\n[Injected]", true));
    EXPECT_FALSE(q.set("S", "k", "v", true, &two_lines));
    for (const char* name : {"", "a]b", " pad"}) EXPECT_FALSE(q.add_section(name)) << name;
    EXPECT_EQ(written(q), ini_lines("# about alpha\n[S]\nk = v2\nm = w\n"));
    EXPECT_TRUE(log.messages().empty());
    EXPECT_FALSE(q.set("bad]name", "k", "v", true));
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"verify(add_section(section_name)) failure"});
}

TEST_F(ConfigParserTest, TypedReads) {
    ConfigParser p(true);
    EXPECT_TRUE(read(p,
                     "[N]\nplain=1033\npadded=  7  \nmax=4294967295\nover=4294967296\n"
                     "suffix=12abc\nnegative=-1\nplus=+5\nempty=\nsign=+\n"
                     "[B]\na=On\nb=OFF\nc=2\nd=0\ne=abc\nf=trueish\ng=offline\nh=yes\ni=-1\n"
                     "j=17\nk=\nl=TRUE\nm=false\n"));
    EXPECT_TRUE(p.set("B", "lead", " 1", false));
    // 99 for a text that is no number: the number is left untouched.
    // Read as stream extraction reads: blanks, an optional '+', digits, then anything.
    const std::pair<std::string, unsigned> numbers[] = {
        {"plain", 1033u}, {"padded", 7u}, {"max", 4294967295u}, {"over", 99}, {"suffix", 12},
        {"negative", 99}, {"plus", 5},    {"empty", 99},        {"sign", 99}, {"missing", 99}};
    for (const auto& [key, expected] : numbers) {
        unsigned n = 99;
        EXPECT_EQ(p.get("N", key, n), expected != 99) << key;
        EXPECT_EQ(n, expected) << key;
    }
    // Only words starting "t", "on" or a digit other than 0 are true; a leading blank is
    // no digit.
    for (const std::string key :
         {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "lead"}) {
        const bool expected = std::string("acfjl").find(key) != std::string::npos;
        bool b = !expected;
        EXPECT_TRUE(p.get_bool("B", key, b) && b == expected) << key;
    }
    bool untouched = true;
    EXPECT_FALSE(p.get_bool("B", "missing", untouched));
    EXPECT_TRUE(untouched);
    std::string text = "keep";
    EXPECT_FALSE(p.get("Nope", "a", text));
    EXPECT_EQ(text, "keep");
}

// A write happens when asked with changes or forced, and when a parser that read a
// file and changed it ends; it keeps the old file's mode.
TEST_F(ConfigParserTest, WhenAndHowAFileIsWritten) {
    const std::string real = m_dir.file("real.ini"), fresh = m_dir.file("fresh.ini");
    write_file_bytes(real, "[A]\nk = v\n");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    {
        ConfigParser p(true);
        ASSERT_TRUE(p.read(real.c_str()));
        EXPECT_FALSE(p.write(nullptr, false)) << "nothing changed";
        EXPECT_EQ(read_file_bytes(real), "[A]\nk = v\n");
        EXPECT_TRUE(p.write("", true)) << "forced, to the remembered name";
        EXPECT_EQ(read_file_bytes(real), ini_lines("---\n[A]\nk = v\n"));
        const mode_t old_mask = umask(022);
        EXPECT_TRUE(p.write(fresh.c_str(), true));
        umask(old_mask);
        EXPECT_TRUE(p.set("A", "k", "2", false));
    }
    EXPECT_EQ(read_file_bytes(real), ini_lines("---\n[A]\nk = 2\n")) << "saved as the parser ended";
    using std::filesystem::perms, std::filesystem::status;
    EXPECT_EQ(status(real).permissions(), perms(0640));
    EXPECT_EQ(status(fresh).permissions(), perms(0644)) << "what any new file gets";

    LogCapture log;
    {
        ConfigParser unnamed(true);
        EXPECT_TRUE(unnamed.set("A", "k", "v", true));
        EXPECT_FALSE(unnamed.write(nullptr, false)) << "no name known";
        EXPECT_TRUE(unnamed.write(fresh.c_str(), false)) << "still changed";
        EXPECT_FALSE(unnamed.modified());
        EXPECT_TRUE(unnamed.filename().empty()) << "write never takes the name";
        EXPECT_TRUE(unnamed.set("A", "k", "w", true));
    }
    EXPECT_TRUE(log.messages().empty()) << "a parser that never read a file writes nothing";

    // The file's name became a folder: the forced write fails, is logged, and what
    // stands there is left alone.
    {
        ConfigParser p(true);
        ASSERT_TRUE(p.read(real.c_str()));
        EXPECT_TRUE(p.set("A", "k", "3", false));
        std::filesystem::remove(real);
        std::filesystem::create_directory(real);
    }
    EXPECT_TRUE(std::filesystem::is_directory(real));
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"Failed forced writing in file named [" + real + "]"});
}

}  // namespace
