// The INI parser: what a read keeps and drops, typed reads, changes, and the
// layout of a written file.
#include "code/configparser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string SEP =
    "# -----------------------------------------------------------------------------";

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
    std::string value(const ConfigParser& parser, const std::string& section,
                      const std::string& key) {
        std::string v = "<missing>";
        parser.get(section, key, v);
        return v;
    }

    TempDir m_dir;
    std::string m_path = m_dir.file("in.ini");
};

TEST_F(ConfigParserTest, DuplicatesKeepTheFirstAndFailTheRead) {
    ConfigParser sections(true);
    EXPECT_FALSE(read(sections, "[A]\nx=1\n[A]\nx=2\ny=3\n[B]\nz=4\n"));
    EXPECT_EQ(value(sections, "A", "x"), "1");
    EXPECT_FALSE(sections.has_option("A", "y")) << "the second [A] is dropped whole";
    EXPECT_EQ(value(sections, "B", "z"), "4") << "reading goes on after the error";
    EXPECT_EQ(sections.section_order(), (std::vector<std::string>{"A", "B"}));

    ConfigParser keys(true);
    EXPECT_FALSE(read(keys, "[A]\n# first\nk=1\n# second\nk=2\n"));
    EXPECT_EQ(value(keys, "A", "k"), "1");
    EXPECT_EQ(keys.sections().at("A").options.at("k").comments,
              std::vector<std::string>{"# first"});

    ConfigParser twice(true);
    EXPECT_TRUE(read(twice, "[A]\nk=1\n"));
    EXPECT_FALSE(twice.read(m_path.c_str())) << "a section held from an earlier read counts";
    EXPECT_EQ(twice.section_order().size(), 1u);
}

TEST_F(ConfigParserTest, LinesOutsideAnySectionAreDroppedAsErrors) {
    ConfigParser before(true);
    EXPECT_FALSE(read(before, "k=0\n[A]\nk=1\n"));
    EXPECT_EQ(value(before, "A", "k"), "1") << "not carried into the next section";

    ConfigParser empty_name(true);
    EXPECT_FALSE(read(empty_name, "[A]\na=1\n[ ]\nk=2\n[B]\nb=3\n"));
    EXPECT_FALSE(empty_name.has_section(""));
    EXPECT_FALSE(empty_name.has_option("B", "k"));
    EXPECT_EQ(value(empty_name, "B", "b"), "3");

    ConfigParser header_only(true);
    EXPECT_FALSE(read(header_only, "[]\n")) << "a header that names no section is an error too";

    ConfigParser comments_only(true);
    EXPECT_TRUE(read(comments_only, "; about A\n\n[A]\nk=1\n"))
        << "comments and blanks before the first header are fine";
    EXPECT_EQ(comments_only.sections().at("A").comments, std::vector<std::string>{"; about A"});
}

TEST_F(ConfigParserTest, LineSyntax) {
    ConfigParser p(true);
    EXPECT_TRUE(read(p,
                     "[ Name ]  trailing\r\n"
                     "path: C:\\x = y\r\n"
                     "  k  = v  \r\n"
                     "inline = a ; b\r\n"
                     "[Broken\r\n"
                     "no separator here\r\n"
                     "=empty key\r\n"
                     "tab\t=\t\tx\r\n"));
    EXPECT_TRUE(p.has_section("Name"));
    EXPECT_FALSE(p.has_section("Broken"));
    EXPECT_EQ(value(p, "Name", "path"), "C:\\x = y");
    EXPECT_EQ(value(p, "Name", "k"), "v  ") << "trailing blanks kept, CR of the line end not";
    EXPECT_EQ(value(p, "Name", "inline"), "a ; b");
    EXPECT_EQ(value(p, "Name", ""), "empty key");
    EXPECT_EQ(value(p, "Name", "tab"), "x");
    EXPECT_FALSE(p.has_option("name", "path")) << "names are case-sensitive";
    EXPECT_EQ(p.sections().at("Name").options.size(), 5u);

    ConfigParser trimmed(false);
    EXPECT_TRUE(read(trimmed, "[S]\nk = v \t\n"));
    EXPECT_EQ(value(trimmed, "S", "k"), "v");
}

TEST_F(ConfigParserTest, CommentsStayWithTheLineBelowThem) {
    ConfigParser p(true);
    EXPECT_TRUE(read(p,
                     "  ; note\n"
                     "[B]\n"
                     "# for first\n"
                     "\n"
                     "first = 1\n"
                     "second = 2\n"
                     "# dropped with the line that has no separator\n"
                     "junk\n"
                     "third = 3\n"
                     "[C]\n"
                     "c = 1\n"
                     "# end one\n"
                     ";end two\n"));
    EXPECT_EQ(p.sections().at("B").comments, std::vector<std::string>{"; note"});
    EXPECT_EQ(p.sections().at("B").options.at("first").comments,
              std::vector<std::string>{"# for first"});
    EXPECT_TRUE(p.sections().at("B").options.at("third").comments.empty());
    EXPECT_EQ(p.trailing_comments(), (std::vector<std::string>{"# end one", ";end two"}));
    EXPECT_EQ(written(p),
              "; note\r\n[B]\r\n# for first\r\nfirst = 1\r\nsecond = 2\r\nthird = 3\r\n" + SEP +
                  "\r\n[C]\r\nc = 1\r\n# end one\r\n;end two\r\n");

    ConfigParser again(true);
    EXPECT_TRUE(read(again, "[D]\n"));
    EXPECT_TRUE(again.trailing_comments().empty()) << "each read replaces the trailing comments";
    write_file_bytes(m_path, "");
    EXPECT_TRUE(again.read(m_path.c_str())) << "an empty file reads fine";
    EXPECT_EQ(again.section_order().size(), 1u);
}

TEST_F(ConfigParserTest, WriteLayoutOrdersSectionsByInsertionAndKeysByByte) {
    ConfigParser p(true);
    EXPECT_TRUE(p.set("Zeta", "b", "1", true));
    EXPECT_TRUE(p.set("Zeta", "B", "2", true));
    EXPECT_TRUE(p.set("Zeta", "a", "3", true));
    EXPECT_TRUE(p.set("Alpha", "\xc3\xa9", "utf-8 sorts after ASCII", true));
    EXPECT_TRUE(p.set("Alpha", "z", "", true));
    const std::string note = "  about alpha ";
    EXPECT_FALSE(p.add_section("Alpha", &note)) << "exists already";
    EXPECT_EQ(written(p), SEP + "\r\n[Zeta]\r\nB = 2\r\na = 3\r\nb = 1\r\n" + SEP +
                              "\r\n[Alpha]\r\nz = \r\n\xc3\xa9 = utf-8 sorts after ASCII\r\n");

    ConfigParser q(true);
    EXPECT_TRUE(q.add_section("S", &note));
    const std::string semicolon = ";x";
    const std::string blank = "   ";
    EXPECT_TRUE(q.set("S", "k", "v", false, &semicolon));
    EXPECT_TRUE(q.set("S", "m", "w", false, &blank));
    EXPECT_EQ(written(q), "# about alpha\r\n[S]\r\n;x\r\nk = v\r\nm = w\r\n");
    EXPECT_TRUE(q.set("S", "k", "v2", false));
    EXPECT_EQ(written(q), "# about alpha\r\n[S]\r\nk = v2\r\nm = w\r\n")
        << "a set without a comment drops the key's comment lines";
}

TEST_F(ConfigParserTest, SetFormsAndRefusals) {
    ConfigParser p(true);
    EXPECT_FALSE(p.set("Missing", "k", "v", false));
    EXPECT_FALSE(p.has_section("Missing"));
    EXPECT_FALSE(p.modified());
    EXPECT_TRUE(p.set("N", "uint", 4294967295u, true));
    EXPECT_TRUE(p.set("N", "ulong", 18446744073709551615ul, true));
    EXPECT_TRUE(p.set("N", "chars", "text", true));
    EXPECT_TRUE(p.set_bool("N", "yes", true, true));
    EXPECT_TRUE(p.set_bool("N", "no", false, true));
    EXPECT_EQ(value(p, "N", "uint"), "4294967295");
    EXPECT_EQ(value(p, "N", "ulong"), "18446744073709551615");
    EXPECT_EQ(value(p, "N", "chars"), "text");
    EXPECT_EQ(value(p, "N", "yes"), "True");
    EXPECT_EQ(value(p, "N", "no"), "False");
    EXPECT_TRUE(p.modified());

    // Texts the file could not carry back would corrupt the lines around them.
    LogCapture log;
    EXPECT_FALSE(p.set("N", "k", "line\n[Injected]", true));
    EXPECT_FALSE(p.set("N", "a=b", "v", true));
    EXPECT_FALSE(p.set("N", "[x]", "v", true));
    EXPECT_FALSE(p.set("N", "#k", "v", true));
    EXPECT_FALSE(p.set("N", " k", "v", true));
    const std::string two_lines = "one\ntwo";
    EXPECT_FALSE(p.set("N", "k", "v", true, &two_lines));
    EXPECT_FALSE(p.add_section(""));
    EXPECT_FALSE(p.add_section("a]b"));
    EXPECT_FALSE(p.add_section(" pad"));
    EXPECT_FALSE(p.has_option("N", "k"));
    EXPECT_TRUE(log.messages().empty());
    EXPECT_FALSE(p.set("bad]name", "k", "v", true));
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"verify(add_section(section_name)) failure"});
}

TEST_F(ConfigParserTest, TypedReads) {
    ConfigParser p(true);
    EXPECT_TRUE(read(p,
                     "[N]\nplain=1033\npadded=  7  \nmax=4294967295\nover=4294967296\n"
                     "suffix=12abc\nnegative=-1\nplus=+5\nempty=\n"
                     "[B]\na=On\nb=OFF\nc=2\nd=0\ne=abc\nf=trueish\ng=offline\nh=yes\ni=-1\n"
                     "j=17\nk=\nl=TRUE\nm=false\n"));
    const std::vector<std::pair<std::string, unsigned>> good = {
        {"plain", 1033u}, {"padded", 7u}, {"max", 4294967295u}};
    for (const auto& [key, expected] : good) {
        unsigned n = 99;
        EXPECT_TRUE(p.get("N", key, n)) << key;
        EXPECT_EQ(n, expected) << key;
    }
    for (const char* key : {"over", "suffix", "negative", "plus", "empty", "missing"}) {
        unsigned n = 99;
        EXPECT_FALSE(p.get("N", key, n)) << key;
        EXPECT_EQ(n, 99u) << key << " leaves the number untouched";
    }
    const std::vector<std::pair<std::string, bool>> words = {
        {"a", true},  {"b", false}, {"c", true},  {"d", false}, {"e", false},
        {"f", true},  {"g", false}, {"h", false}, {"i", false}, {"j", true},
        {"k", false}, {"l", true},  {"m", false}};
    for (const auto& [key, expected] : words) {
        bool b = !expected;
        EXPECT_TRUE(p.get_bool("B", key, b)) << key;
        EXPECT_EQ(b, expected) << key;
    }
    bool untouched = true;
    EXPECT_FALSE(p.get_bool("B", "missing", untouched));
    EXPECT_TRUE(untouched);
    EXPECT_TRUE(p.set("B", "lead", " 1", false));
    EXPECT_TRUE(p.get_bool("B", "lead", untouched));
    EXPECT_FALSE(untouched) << "a leading blank is no digit";
    std::string text = "keep";
    EXPECT_FALSE(p.get("Nope", "a", text));
    EXPECT_EQ(text, "keep");
}

TEST_F(ConfigParserTest, WriteOnlyWhenChangedOrForced) {
    write_file_bytes(m_path, "[A]\nk = v\n");
    ConfigParser p(true);
    ASSERT_TRUE(p.read(m_path.c_str()));
    EXPECT_FALSE(p.write(nullptr, false)) << "nothing changed";
    EXPECT_EQ(read_file_bytes(m_path), "[A]\nk = v\n");
    EXPECT_TRUE(p.write("", true)) << "forced, to the remembered name";
    EXPECT_EQ(read_file_bytes(m_path), SEP + "\r\n[A]\r\nk = v\r\n");

    ConfigParser fresh(true);
    EXPECT_TRUE(fresh.set("A", "k", "v", true));
    EXPECT_FALSE(fresh.write(nullptr, false)) << "no name known";
    EXPECT_TRUE(fresh.modified());
    EXPECT_TRUE(fresh.write(m_dir.file("x.ini").c_str(), false));
    EXPECT_FALSE(fresh.modified());
    EXPECT_TRUE(fresh.filename().empty()) << "write never takes the name";
}

TEST_F(ConfigParserTest, ReadRemembersTheFirstNameAndRefusesNull) {
    LogCapture log;
    ConfigParser p(true);
    EXPECT_FALSE(p.read(nullptr));
    EXPECT_EQ(log.messages(), std::vector<std::string>{"verify(filename) failure"});
    EXPECT_FALSE(p.read(m_dir.file("missing.ini").c_str()));
    EXPECT_TRUE(p.filename().empty()) << "a missing file is not remembered";
    EXPECT_TRUE(read(p, "[A]\n"));
    write_file_bytes(m_dir.file("other.ini"), "[B]\n");
    EXPECT_TRUE(p.read(m_dir.file("other.ini").c_str()));
    EXPECT_EQ(p.filename(), m_path);
    EXPECT_EQ(p.section_order(), (std::vector<std::string>{"A", "B"}));
}

TEST_F(ConfigParserTest, DestructorSavesAChangedFileItRead) {
    write_file_bytes(m_path, "[A]\nk=1\n");
    {
        ConfigParser p(true);
        ASSERT_TRUE(p.read(m_path.c_str()));
        EXPECT_TRUE(p.set("A", "k", "2", false));
    }
    EXPECT_EQ(read_file_bytes(m_path), SEP + "\r\n[A]\r\nk = 2\r\n");

    // The file's name became a folder: the forced write fails, is logged, and
    // what stands there is left alone.
    LogCapture log;
    {
        ConfigParser p(true);
        ASSERT_TRUE(p.read(m_path.c_str()));
        EXPECT_TRUE(p.set("A", "k", "3", false));
        std::filesystem::remove(m_path);
        std::filesystem::create_directory(m_path);
    }
    EXPECT_TRUE(std::filesystem::is_directory(m_path));
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"Failed forced writing in file named [" + m_path + "]"});

    {
        ConfigParser never_read(true);
        EXPECT_TRUE(never_read.set("A", "k", "v", true));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.path()), {}), 1)
        << "a parser that never read a file writes nothing";
}

TEST_F(ConfigParserTest, WrittenFileReadsBackAndIsAFixedPoint) {
    ConfigParser p(true);
    EXPECT_FALSE(read(p,
                      "; lead\n[S]\n# c\nk = v \r\nx:y\n[T] t\n\x01\x02=\xff\xfe\n"
                      "[S]\nk=dup\n# tail\n"));
    const std::string first = written(p);
    write_file_bytes(m_path, first);
    ConfigParser q(true);
    EXPECT_TRUE(q.read(m_path.c_str()));
    EXPECT_EQ(written(q), first);
    EXPECT_EQ(value(q, "S", "k"), "v ");
    EXPECT_EQ(value(q, "T", "\x01\x02"), "\xff\xfe");
    EXPECT_EQ(q.trailing_comments(), std::vector<std::string>{"# tail"});
}

TEST_F(ConfigParserTest, NewFileModeFollowsTheOldFile) {
    write_file_bytes(m_path, "[A]\n");
    ASSERT_EQ(chmod(m_path.c_str(), 0640), 0);
    ConfigParser p(true);
    ASSERT_TRUE(p.read(m_path.c_str()));
    EXPECT_TRUE(p.set("A", "k", "v", false));
    EXPECT_TRUE(p.write(nullptr, false));
    struct stat info {};
    ASSERT_EQ(stat(m_path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    const mode_t old_mask = umask(022);
    const std::string fresh = m_dir.file("fresh.ini");
    EXPECT_TRUE(p.write(fresh.c_str(), true));
    umask(old_mask);
    ASSERT_EQ(stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u) << "what any new file gets";
}

TEST_F(ConfigParserTest, SymbolicLinkIsFollowed) {
    const std::string real = m_dir.file("real.ini");
    write_file_bytes(real, "[A]\n");
    std::filesystem::create_symlink(real, m_path);
    ConfigParser p(true);
    ASSERT_TRUE(p.read(m_path.c_str()));
    EXPECT_TRUE(p.set("A", "k", "v", false));
    EXPECT_TRUE(p.write(nullptr, false));
    EXPECT_TRUE(std::filesystem::is_symlink(m_path));
    EXPECT_EQ(read_file_bytes(real), SEP + "\r\n[A]\r\nk = v\r\n");
}

}  // namespace
