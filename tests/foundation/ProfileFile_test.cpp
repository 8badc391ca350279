#include "foundation/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

// One row: a file, one read, what it gives.
struct ReadCase {
    const char* rule;
    std::string file;  // bytes on disk; "<none>" for no file
    const char* section;
    const char* key;
    enum Kind { Str, Int, Bool } kind;
    std::string expected;  // string result, or the decimal / "1" "0" of the typed result
};

// Defaults used by every row: "dflt", 77, true.
std::string readAs(const ProfileFile& f, const ReadCase& c) {
    switch (c.kind) {
    case ReadCase::Str: return f.readString(c.section, c.key, "dflt");
    case ReadCase::Int: return std::to_string(f.readInteger(c.section, c.key, 77));
    case ReadCase::Bool: return f.readBool(c.section, c.key, true) ? "1" : "0";
    }
    return {};
}

TEST(ProfileFile, ReadsByTheProfileRules) {
    const std::string longValue(3000, 'x');
    const std::vector<ReadCase> cases = {
        {"missing file gives the default", "<none>", "SMS", "Enabled", ReadCase::Str, "dflt"},
        {"missing section", "[GUI]\r\nHeight=1\r\n", "SMS", "Height", ReadCase::Int, "77"},
        {"missing key", "[SMS]\r\nMode=1\r\n", "SMS", "Enabled", ReadCase::Int, "77"},
        {"CR LF lines", "[A]\r\nx=1\r\ny=2\r\n", "A", "y", ReadCase::Str, "2"},
        {"CR-only lines", "[A]\rx=1\ry=2\r", "A", "y", ReadCase::Str, "2"},
        {"LF-only lines", "[A]\nx=1\ny=2", "A", "y", ReadCase::Str, "2"},
        {"leading blanks", "  \t[A]\r\n   y=5\r\n", "A", "y", ReadCase::Int, "5"},
        {"section without regard to case", "[sms]\r\nMode=1\r\n", "SMS", "Mode", ReadCase::Int, "1"},
        {"key without regard to case", "[SMS]\r\ncomport=2\r\n", "SMS", "COMPort", ReadCase::Int, "2"},
        {"first section of a name wins", "[A]\r\nx=1\r\n[a]\r\nx=2\r\ny=3\r\n", "A", "x", ReadCase::Int, "1"},
        {"keys of a later duplicate section are ignored", "[A]\r\nx=1\r\n[a]\r\ny=3\r\n", "A", "y", ReadCase::Int, "77"},
        {"first key of a name wins", "[A]\r\nX=1\r\nx=2\r\n", "A", "x", ReadCase::Int, "1"},
        {"section name runs to the last ]", "[a]b]\r\nx=4\r\n", "a]b", "x", ReadCase::Int, "4"},
        {"blanks inside the brackets", "[ Nerivale Port ]\r\nx=4\r\n", "Nerivale Port", "x", ReadCase::Int, "4"},
        {"key before any section is not in one", "x=1\r\n[A]\r\n", "A", "x", ReadCase::Int, "77"},
        {"key trimmed", "[A]\r\nServer   =h\r\n", "A", "Server", ReadCase::Str, "h"},
        {"value trimmed", "[A]\r\nServer=  mail.example  \t\r\n", "A", "Server", ReadCase::Str, "mail.example"},
        {"only the first = splits", "[A]\r\nk=a=b\r\n", "A", "k", ReadCase::Str, "a=b"},
        {"; at line start is a comment", "[A]\r\n;k=1\r\n", "A", ";k", ReadCase::Str, "dflt"},
        {"; after blanks is a comment", "[A]\r\n  ;k=1\r\n", "A", "k", ReadCase::Str, "dflt"},
        {"; inside a value is data", "[A]\r\nk=a;b\r\n", "A", "k", ReadCase::Str, "a;b"},
        {"# is not a comment", "[A]\r\n#k=1\r\n", "A", "#k", ReadCase::Str, "1"},
        {"double quotes removed", "[A]\r\nk=\" a b \"\r\n", "A", "k", ReadCase::Str, " a b "},
        {"single quotes removed", "[A]\r\nk='x'\r\n", "A", "k", ReadCase::Str, "x"},
        {"unmatched quotes kept", "[A]\r\nk=\"x'\r\n", "A", "k", ReadCase::Str, "\"x'"},
        {"a lone quote is kept", "[A]\r\nk=\"\r\n", "A", "k", ReadCase::Str, "\""},
        {"empty pair gives empty", "[A]\r\nk=\"\"\r\n", "A", "k", ReadCase::Str, ""},
        {"Key= gives empty, not the default", "[A]\r\nTimeOut=\r\n", "A", "TimeOut", ReadCase::Str, ""},
        {"a line without = gives the default", "[A]\r\nTimeOut\r\n", "A", "TimeOut", ReadCase::Str, "dflt"},
        {"Windows-1252 bytes kept", "[A]\r\nk=caf\xE9 \x80\r\n", "A", "k", ReadCase::Str, "caf\xE9 \x80"},
        {"string cut at 2047", "[A]\r\nk=" + longValue + "\r\n", "A", "k", ReadCase::Str, std::string(2047, 'x')},
        {"decimal", "[A]\r\nn=42\r\n", "A", "n", ReadCase::Int, "42"},
        {"plus sign", "[A]\r\nn=+42\r\n", "A", "n", ReadCase::Int, "42"},
        {"minus sign", "[A]\r\nn=-42\r\n", "A", "n", ReadCase::Int, "-42"},
        {"leading zeros", "[A]\r\nn=007\r\n", "A", "n", ReadCase::Int, "7"},
        {"$ hex", "[A]\r\nn=$1F\r\n", "A", "n", ReadCase::Int, "31"},
        {"0x hex", "[A]\r\nn=0x1f\r\n", "A", "n", ReadCase::Int, "31"},
        {"0X hex", "[A]\r\nn=0X1F\r\n", "A", "n", ReadCase::Int, "31"},
        {"negative $ hex", "[A]\r\nn=-$10\r\n", "A", "n", ReadCase::Int, "-16"},
        {"32-bit hex wraps", "[A]\r\nn=$FFFFFFFF\r\n", "A", "n", ReadCase::Int, "-1"},
        {"hex over 32 bits", "[A]\r\nn=$100000000\r\n", "A", "n", ReadCase::Int, "77"},
        {"quoted number", "[A]\r\nn=\"12\"\r\n", "A", "n", ReadCase::Int, "12"},
        {"int32 max", "[A]\r\nn=2147483647\r\n", "A", "n", ReadCase::Int, "2147483647"},
        {"int32 min", "[A]\r\nn=-2147483648\r\n", "A", "n", ReadCase::Int, "-2147483648"},
        {"above int32", "[A]\r\nn=2147483648\r\n", "A", "n", ReadCase::Int, "77"},
        {"empty number", "[A]\r\nn=\r\n", "A", "n", ReadCase::Int, "77"},
        {"trailing letter", "[A]\r\nn=12a\r\n", "A", "n", ReadCase::Int, "77"},
        {"fraction", "[A]\r\nn=1.5\r\n", "A", "n", ReadCase::Int, "77"},
        {"inner blank", "[A]\r\nn=1 2\r\n", "A", "n", ReadCase::Int, "77"},
        {"bare 0x", "[A]\r\nn=0x\r\n", "A", "n", ReadCase::Int, "77"},
        {"bare $", "[A]\r\nn=$\r\n", "A", "n", ReadCase::Int, "77"},
        {"bare sign", "[A]\r\nn=-\r\n", "A", "n", ReadCase::Int, "77"},
        {"switch 0 is off", "[A]\r\nb=0\r\n", "A", "b", ReadCase::Bool, "0"},
        {"switch 1 is on", "[A]\r\nb=1\r\n", "A", "b", ReadCase::Bool, "1"},
        {"switch 2 is on", "[A]\r\nb=2\r\n", "A", "b", ReadCase::Bool, "1"},
        {"switch -1 is on", "[A]\r\nb=-1\r\n", "A", "b", ReadCase::Bool, "1"},
        {"switch $0 is off", "[A]\r\nb=$0\r\n", "A", "b", ReadCase::Bool, "0"},
        {"switch yes gives the default", "[A]\r\nb=yes\r\n", "A", "b", ReadCase::Bool, "1"},
        {"switch blank gives the default", "[A]\r\nb=\r\n", "A", "b", ReadCase::Bool, "1"},
    };
    test::TempDir dir;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ReadCase& c = cases[i];
        auto path = dir / ("case" + std::to_string(i) + ".ini");
        if (c.file != "<none>") test::writeFile(path, c.file);
        EXPECT_EQ(readAs(ProfileFile(path), c), c.expected) << c.rule;
    }
}

TEST(ProfileFile, SectionsAreListedOnceInFileOrder) {
    ProfileSnapshot ini = ProfileSnapshot::parse("x=0\n[Line2]\n[SMS]\n[line2]\n[Line0]\n");
    EXPECT_EQ(ini.sections(), (std::vector<std::string>{"Line2", "SMS", "Line0"}));
}

TEST(ProfileFile, EveryReadGoesToTheFile) {
    test::TempDir dir;
    ProfileFile f(dir / "Config.Dat");
    EXPECT_EQ(f.readInteger("SMS", "Enabled", 0), 0);
    test::writeFile(f.path(), "[SMS]\r\nEnabled=1\r\n");
    EXPECT_EQ(f.readInteger("SMS", "Enabled", 0), 1);
    test::writeFile(f.path(), "[SMS]\r\nEnabled=0\r\n");
    EXPECT_EQ(f.readInteger("SMS", "Enabled", 1), 0);
}

struct WriteCase {
    const char* rule;
    std::string before;
    std::vector<ProfileWrite> writes;
    std::string after;
};

TEST(ProfileFile, WritesByTheProfileRules) {
    const std::vector<WriteCase> cases = {
        {"new file", "", {{"SMS", "COMPort", "2"}, {"SMS", "Mode", "0"}},
         "[SMS]\r\nCOMPort=2\r\nMode=0\r\n"},
        {"replaced in place keeping spelling and neighbours",
         "; top\r\n[sms]\r\n  comport = 1 \r\nMode=0\r\n", {{"SMS", "COMPort", "3"}},
         "; top\r\n[sms]\r\ncomport=3\r\nMode=0\r\n"},
        {"an unchanged value leaves its line alone", "[A]\r\n  k = 5 ; note\r\n",
         {{"A", "K", "5 ; note"}}, "[A]\r\n  k = 5 ; note\r\n"},
        {"missing key goes after the section's last key, before its trailing comment",
         "[A]\r\nx=1\r\n\r\n; about B\r\n[B]\r\ny=2\r\n", {{"a", "z", "9"}},
         "[A]\r\nx=1\r\nz=9\r\n\r\n; about B\r\n[B]\r\ny=2\r\n"},
        {"missing key in an empty section goes right after its header", "[A]\r\n[B]\r\n",
         {{"A", "k", "v"}}, "[A]\r\nk=v\r\n[B]\r\n"},
        {"missing section appended", "[A]\r\nx=1\r\n", {{"B", "k", "v"}},
         "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n"},
        {"no second blank line before a new section", "[A]\r\nx=1\r\n\r\n", {{"B", "k", "v"}},
         "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n"},
        {"file without a final line end", "[A]\r\nx=1", {{"A", "y", "2"}, {"B", "k", "v"}},
         "[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nk=v\r\n"},
        {"LF file: other lines keep their ends", "[A]\nx=1\ny=2\n", {{"A", "x", "7"}},
         "[A]\nx=7\r\ny=2\n"},
        {"first of duplicate sections and keys is written", "[A]\r\nk=1\r\nk=2\r\n[A]\r\nk=3\r\n",
         {{"A", "k", "9"}}, "[A]\r\nk=9\r\nk=2\r\n[A]\r\nk=3\r\n"},
        {"empty value written Key=", "[A]\r\nTimeOut=60\r\n", {{"A", "TimeOut", ""}},
         "[A]\r\nTimeOut=\r\n"},
        {"CR and LF taken out of values", "", {{"A", "k", "a\r\nb\rc\nd"}}, "[A]\r\nk=abcd\r\n"},
        {"a line without = is not the key", "[A]\r\nk\r\n", {{"A", "k", "1"}}, "[A]\r\nk\r\nk=1\r\n"},
        {"comments keep their place", "[A]\r\n;k=0\r\n", {{"A", "k", "1"}},
         "[A]\r\nk=1\r\n;k=0\r\n"},
    };
    for (const WriteCase& c : cases) {
        EXPECT_EQ(applyProfileWrites(c.before, c.writes), c.after) << c.rule;
    }
}

// The reader removes a pair of quotes around a value, so a value that is
// itself quoted is stored inside one more pair and reads back unchanged; it
// used to lose its quotes at every save.
TEST(ProfileFile, QuotedValuesReadBackUnchanged) {
    struct Case { std::string value; std::string stored; };
    const Case cases[] = {
        {"'abc'", "\"'abc'\""},
        {"\"abc\"", "\"\"abc\"\""},
        {"''", "\"''\""},
        {"\"", "\""},                        // a lone quote is not a pair
        {"'abc\"", "'abc\""},                // nor are two different quotes
        {"a'b'", "a'b'"},
        {" 'x' ", "\" 'x' \""},              // the reader trims before it looks for quotes
        {"plain", "plain"},
    };
    for (const Case& c : cases) {
        const std::string file = applyProfileWrites("", {{"Server", "Password", c.value}});
        EXPECT_EQ(file, "[Server]\r\nPassword=" + c.stored + "\r\n") << c.value;
        EXPECT_EQ(ProfileSnapshot::parse(file).readString("Server", "Password", "dflt"), c.value) << c.value;
        // Saving what was read leaves the file as it is.
        EXPECT_EQ(applyProfileWrites(file, {{"Server", "Password", c.value}}), file) << c.value;
    }
}

TEST(ProfileFile, WriteCreatesFileWithRestrictedModeAndKeepsModeOfExistingOne) {
    test::TempDir dir;
    ProfileFile f(dir / "Config.Dat");
    f.writeString("Server", "Password", "secret");
    struct stat st {};
    ASSERT_EQ(::stat(f.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ::chmod(f.path().c_str(), 0600);
    f.writeBool("Server", "DefaultLogon", false);
    ASSERT_EQ(::stat(f.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(test::readFile(f.path()), "[Server]\r\nPassword=secret\r\nDefaultLogon=0\r\n");
}

TEST(ProfileFile, WriteIntoMissingFolderThrowsUnableToWrite) {
    test::TempDir dir;
    ProfileFile f(dir / "missing" / "Config.Dat");
    try {
        f.writeInteger("GUI", "Height", 400);
        FAIL() << "no error";
    } catch (const ProfileWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + f.path().string());
    }
}

TEST(ProfileFile, BatchIsOneReplacementOfTheFile) {
    test::TempDir dir;
    ProfileFile f(dir / "Config.Dat");
    test::writeFile(f.path(), "[A]\r\nx=1\r\n");
    struct stat before {};
    ASSERT_EQ(::stat(f.path().c_str(), &before), 0);
    ProfileBatch b;
    b.writeInteger("A", "x", 2);
    b.writeString("B", "y", "t");
    b.writeBool("A", "z", true);
    f.write(b);
    struct stat after {};
    ASSERT_EQ(::stat(f.path().c_str(), &after), 0);
    // A new inode: the old file was replaced whole, never rewritten in place.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(test::readFile(f.path()), "[A]\r\nx=2\r\nz=1\r\n\r\n[B]\r\ny=t\r\n");
    // Nothing but the file is left in the folder.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace nv
