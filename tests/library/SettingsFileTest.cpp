#include "SimFixture.h"

#include "frame/SettingsFile.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

namespace fs = std::filesystem;

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = root_.path() + "/settings";
        fs::create_directories(folder_);
        path_ = folder_ + "/Pelmux.ini";
    }

    void write(const std::string& content) const { std::ofstream(path_, std::ios::binary) << content; }
    std::string read() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Every file in the settings folder but the settings file itself.
    std::vector<std::string> strayFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            if (entry.path().filename() != "Pelmux.ini")
                names.push_back(entry.path().filename().string());
        return names;
    }
    // One load-modify-write cycle.
    bool set(const std::string& key, const std::string& value) const
    {
        SettingsFile file;
        file.loadSettings(path_);
        return file.setValue(key, value);
    }
    SettingsEntries load() const
    {
        SettingsFile file;
        file.loadSettings(path_);
        return file.entries();
    }

    TempRoot root_;
    std::string folder_;
    std::string path_;
};

TEST(SettingsText, ReadRules)
{
    struct Case {
        const char* what;
        std::string text;
        SettingsEntries expected;
    };
    const Case cases[] = {
        {"plain", "ABL_mode=2\n", {{"ABL_mode", "2"}}},
        {"spaces around '=' trimmed", "  ABL_k  =  50  \n", {{"ABL_k", "50"}}},
        {"second '=' belongs to the value", "a=b=c\n", {{"a", "b=c"}}},
        {"tabs stay", "a\t=\tb\n", {{"a\t", "\tb"}}},
        {"';' first is a comment", ";ABL_mode=2\n", {}},
        {"'#' is an ordinary key", "#x=1\n", {{"#x", "1"}}},
        {"space before ';' makes a key", " ;x=1\n", {{";x", "1"}}},
        {"exactly '[' and '/' are skipped", "[\n/\n", {}},
        {"section header gives the empty key", "[General]\n", {{"", ""}}},
        {"'[' with more is read", "[=1\n//=2\n", {{"[", "1"}, {"//", "2"}}},
        {"line without '='", "just text\n", {{"", ""}}},
        {"lone '='", "=\n", {{"", ""}}},
        {"empty value", "a=\n", {{"a", ""}}},
        {"later lines win", "ABL_mode=1\nABL_mode=2\n", {{"ABL_mode", "2"}}},
        {"CR LF and LF read alike", "a=1\r\nb=2\nc=3\r\n", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        {"last line without line end", "a=1\nb=2", {{"a", "1"}, {"b", "2"}}},
        {"only the CR before LF goes", "a=1\r\r\nb=2\r", {{"a", "1\r"}, {"b", "2\r"}}},
        {"blank lines", "\n\r\n\na=1\n\n", {{"a", "1"}}},
        {"empty text", "", {}},
        {"NUL bytes are kept",
         std::string("a\0b=c\0d\n", 8),
         {{std::string("a\0b", 3), std::string("c\0d", 3)}}},
    };
    for (const auto& c : cases) {
        SettingsEntries entries;
        readSettingsText(c.text, entries);
        EXPECT_EQ(entries, c.expected) << c.what;
    }
}

TEST_F(SettingsFileTest, WriteRules)
{
    struct Case {
        const char* what;
        std::string before; // "" for no file
        std::vector<std::pair<std::string, std::string>> sets;
        std::string after;
    };
    const Case cases[] = {
        {"new key last with spaces",
         "ABL_mode=2\n;comment\nABL_k = 50\n",
         {{"ABL_status", "1"}},
         "ABL_k=50\nABL_mode=2\nABL_status = 1\n"},
        {"next rewrite sorts it in",
         "ABL_mode=2\n;comment\nABL_k = 50\n",
         {{"ABL_status", "1"}, {"ABL_k", "51"}},
         "ABL_k=51\nABL_mode=2\nABL_status=1\n"},
        {"no file", "", {{"UseLEDDimming", "1"}}, "UseLEDDimming = 1\n"},
        {"duplicate keys collapse", "ABL_mode=1\nABL_mode=2\n", {{"X", "y"}}, "ABL_mode=2\nX = y\n"},
        {"existing key in place", "a=1\nb=2\nc=3\n", {{"b", "x"}}, "a=1\nb=x\nc=3\n"},
        {"byte-wise order", "b=1\nB=2\na=3\n_=4\n", {{"a", "5"}}, "B=2\n_=4\na=5\nb=1\n"},
        {"spaces trimmed from key and value", "", {{"  k ", " v w  "}}, "k = v w\n"},
        {"section header becomes '='", "[General]\nx=1\n", {{"x", "2"}}, "=\nx=2\n"},
        {"CR LF file rewritten with this system's line end",
         "b=2\r\na=1\r\n",
         {{"c", "3"}},
         "a=1\nb=2\nc = 3\n"},
    };
    for (const auto& c : cases) {
        fs::remove(path_);
        if (!c.before.empty())
            write(c.before);
        for (const auto& [key, value] : c.sets)
            EXPECT_TRUE(set(key, value)) << c.what;
        EXPECT_EQ(read(), c.after) << c.what;
    }
}

TEST_F(SettingsFileTest, MissingKeyReadThroughTheObjectIsWrittenEmpty)
{
    write("Middle=1\n");
    SettingsFile file;
    file.loadSettings(path_);
    EXPECT_EQ(file.getValue("Zeta"), "");
    EXPECT_EQ(file.getValue("Middle"), "1");
    EXPECT_TRUE(file.setValue("Alpha", "a"));
    EXPECT_EQ(read(), "Middle=1\nZeta=\nAlpha = a\n");
}

// Keys and values the file could not give back as written are refused; nothing changes.
TEST_F(SettingsFileTest, UnstorableKeysAndValuesAreRefused)
{
    const std::pair<std::string, std::string> refused[] = {
        {"a=b", "1"}, {";a", "1"}, {"a\nb", "1"}, {"a\rb", "1"}, {"ok", "x\nABL_mode=0"}, {"ok", "x\r"},
    };
    write("ABL_mode=2\n");
    for (const auto& [key, value] : refused) {
        SettingsFile file;
        file.loadSettings(path_);
        EXPECT_FALSE(file.setValue(key, value)) << key;
        EXPECT_EQ(file.entries(), (SettingsEntries{{"ABL_mode", "2"}})) << key;
        EXPECT_EQ(read(), "ABL_mode=2\n") << key;
    }
    EXPECT_FALSE(set(" ; not a comment", "1")) << "the space before ';' is trimmed off";
}

// Neither a key only read nor a value too large for the store to read back can change what the
// next rewrite writes, or silence the store for later cycles.
TEST_F(SettingsFileTest, ItsOwnCallsCannotPolluteOrDisableTheStore)
{
    write("ABL_mode=2\n");
    {
        SettingsFile file;
        file.loadSettings(path_);
        for (const char* key : {"x\nABL_mode=0\nzz", "a=b", ";c", " ;d", "e\rf"})
            EXPECT_EQ(file.getValue(key), "") << key;
        EXPECT_TRUE(file.setValue("k", "v"));
    }
    EXPECT_EQ(read(), "ABL_mode=2\nk = v\n");

    EXPECT_FALSE(set("big", std::string(maxSettingsFileBytes, 'x')));
    EXPECT_EQ(read(), "ABL_mode=2\nk = v\n");
    EXPECT_TRUE(set("after", "1"));
    EXPECT_EQ(load().at("after"), "1");
}

// A long line is read whole and the reading ends.
TEST_F(SettingsFileTest, LongLinesAreReadWhole)
{
    const std::string longValue(300000, 'x');
    write("a=" + longValue + "\nb=2\n");
    const SettingsEntries entries = load();
    EXPECT_EQ(entries.at("a"), longValue);
    EXPECT_EQ(entries.at("b"), "2");
    EXPECT_TRUE(set("c", "3"));
    EXPECT_EQ(read(), "a=" + longValue + "\nb=2\nc = 3\n");
}

// A file that is there but cannot be read whole is never replaced by what little is known.
TEST_F(SettingsFileTest, AFileThatCannotBeReadIsNotOverwritten)
{
    const std::string huge = "a=1\n" + std::string(maxSettingsFileBytes, ';');
    write(huge);
    {
        SettingsFile file;
        file.loadSettings(path_);
        EXPECT_TRUE(file.entries().empty());
        EXPECT_FALSE(file.setValue("b", "2"));
        EXPECT_EQ(read().size(), huge.size());
    }

    fs::remove(path_);
    fs::create_directory(path_); // a folder in the file's place
    EXPECT_FALSE(set("b", "2"));
    EXPECT_TRUE(fs::is_directory(path_));
}

// A failed write leaves nothing behind that makes the next one through the same object fail.
TEST_F(SettingsFileTest, EachWriteStartsClean)
{
    const std::string gone = root_.path() + "/later/Pelmux.ini";
    SettingsFile file;
    file.loadSettings(gone);
    EXPECT_FALSE(file.setValue("a", "1"));
    fs::create_directories(root_.path() + "/later");
    EXPECT_TRUE(file.setValue("b", "2"));
    std::ifstream in(gone, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "a=1\nb = 2\n");
}

TEST_F(SettingsFileTest, ReplacementLeavesNoTemporaryFilesAndKeepsPermissions)
{
    write("a=1\n");
    ::chmod(path_.c_str(), 0640);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(set("a", std::to_string(i)));
    EXPECT_EQ(read(), "a=4\n");
    EXPECT_TRUE(strayFiles().empty());
    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// The library's temporary files of writers that died are removed; one a living writer holds, one
// with a second name, and files of any other shape, stay.
TEST_F(SettingsFileTest, LeftoversOfDeadWritersAreRemoved)
{
    write("a=1\n");
    std::ofstream(folder_ + "/Pelmux.ini.pelmux-99999-1-0-4.tmp") << "half";
    // A dead writer whose process id now belongs to a living process (this one).
    std::ofstream(folder_ + "/Pelmux.ini.pelmux-" + std::to_string(::getpid()) + "-1-900-4.tmp") << "half";
    std::ofstream(folder_ + "/Pelmux.ini.backup.tmp") << "mine";
    std::ofstream(folder_ + "/Pelmux.ini.99999-0.tmp") << "an earlier version's, or another program's";
    std::ofstream(folder_ + "/Pelmux.ini.7.tmp") << "another program's";
    std::ofstream(folder_ + "/target") << "a file of another name";
    ASSERT_EQ(::link((folder_ + "/target").c_str(), (folder_ + "/Pelmux.ini.pelmux-99998-1-0-4.tmp").c_str()),
              0);
    std::ofstream(folder_ + "/Pelmux.ini.pelmux-12345-1-7-13.tmp") << "being written";
    const int held = ::open((folder_ + "/Pelmux.ini.pelmux-12345-1-7-13.tmp").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_TRUE(set("a", "2"));
    auto stray = strayFiles();
    std::sort(stray.begin(), stray.end());
    EXPECT_EQ(stray, (std::vector<std::string>{"Pelmux.ini.7.tmp", "Pelmux.ini.99999-0.tmp",
                                               "Pelmux.ini.backup.tmp", "Pelmux.ini.pelmux-12345-1-7-13.tmp",
                                               "Pelmux.ini.pelmux-99998-1-0-4.tmp", "target"}));
    ::close(held);
}

// The settings file lies in our folder of the common application data, which is made again when
// it vanished since the path was resolved (each test here has a fresh root).
TEST_F(SettingsFileTest, SettingsPathIsInTheCommonApplicationData)
{
    EXPECT_EQ(settingsPath(), "C:\\ProgramData\\Varnholt\\Pelmux.ini");
    fs::remove_all(root_.path() + "/C");
    {
        SettingsFile file;
        file.loadSettings(settingsPath());
        EXPECT_TRUE(file.setValue("ABL_status", "1"));
    }
    std::ifstream in(root_.path() + "/C/ProgramData/Varnholt/Pelmux.ini", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "ABL_status = 1\n");
}

// The object holds the lock from construction to destruction: another cycle waits for it.
TEST_F(SettingsFileTest, OneCycleAtATime)
{
    std::atomic<bool> secondIn{false};
    std::thread second;
    {
        SettingsFile first;
        EXPECT_TRUE(first.holdsLock());
        second = std::thread([&] {
            SettingsFile file;
            secondIn = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(secondIn.load());
    }
    second.join();
    EXPECT_TRUE(secondIn.load());
}

TEST_F(SettingsFileTest, ConcurrentIncrementsLoseNothing)
{
    constexpr int threads = 4;
    constexpr int cycles = 100;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([this] {
            for (int i = 0; i < cycles; ++i) {
                SettingsFile file;
                file.loadSettings(path_);
                std::int32_t count = 0;
                textToInt(file.getValue("count"), count);
                std::string text;
                intToText(count + 1, text);
                file.setValue("count", text);
            }
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(load().at("count"), std::to_string(threads * cycles));
}

TEST(SettingsConversions, NumbersToText)
{
    const std::pair<std::int32_t, const char*> ints[] = {
        {0, "0"}, {7, "7"}, {-42, "-42"}, {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"}};
    for (const auto& [value, text] : ints) {
        std::string out = "old";
        EXPECT_EQ(intToText(value, out), Varnholt::ERR_SUCCESS);
        EXPECT_EQ(out, text);
    }
    // The shortest text that reads back as the same value.
    const std::pair<double, const char*> doubles[] = {
        {50.0, "50"},
        {123.4567, "123.4567"},
        {0.1, "0.1"},
        {-2.5, "-2.5"},
        {1234567.0, "1234567"},
        {1e-7, "1e-07"},
        {0.0, "0"},
        {999999.5, "999999.5"},
        {1e21, "1e+21"},
        {160.0 / std::log(100.0), "34.74355855226014"},
    };
    for (const auto& [value, text] : doubles) {
        std::string out = "old";
        EXPECT_EQ(doubleToText(value, out), Varnholt::ERR_SUCCESS) << text;
        EXPECT_EQ(out, text);
        double back = 0.0;
        EXPECT_EQ(textToDouble(out, back), Varnholt::ERR_SUCCESS) << text;
        EXPECT_EQ(back, value) << text;
    }
    // No reader takes these back.
    for (const double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        std::string out = "old";
        EXPECT_EQ(doubleToText(bad, out), Varnholt::ERR_DATATYPE_MISMATCH);
        EXPECT_EQ(out, "old");
    }
}

TEST(SettingsConversions, TextToNumbers)
{
    struct IntCase {
        std::string text;
        Varnholt::ResultCode result;
        std::int32_t value;
    };
    const IntCase ints[] = {
        {"7", Varnholt::ERR_SUCCESS, 7},
        {" 7", Varnholt::ERR_SUCCESS, 7},
        {"\t\n 7", Varnholt::ERR_SUCCESS, 7},
        {"12abc", Varnholt::ERR_SUCCESS, 12},
        {"-5", Varnholt::ERR_SUCCESS, -5},
        {"+5", Varnholt::ERR_SUCCESS, 5},
        {"1.9", Varnholt::ERR_SUCCESS, 1},
        {"0x10", Varnholt::ERR_SUCCESS, 0},
        {"2147483647", Varnholt::ERR_SUCCESS, 2147483647},
        {"-2147483648", Varnholt::ERR_SUCCESS, -2147483647 - 1},
        {"2147483648", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"-2147483649", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"abc", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"   ", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"-", Varnholt::ERR_DATATYPE_MISMATCH, 0},
    };
    for (const auto& c : ints) {
        std::int32_t value = 99;
        EXPECT_EQ(textToInt(c.text, value), c.result) << '"' << c.text << '"';
        EXPECT_EQ(value, c.result == Varnholt::ERR_SUCCESS ? c.value : 99) << '"' << c.text << '"';
    }
    struct DoubleCase {
        std::string text;
        Varnholt::ResultCode result;
        double value;
    };
    const DoubleCase doubles[] = {
        {"50", Varnholt::ERR_SUCCESS, 50.0},
        {" 1.5e3x", Varnholt::ERR_SUCCESS, 1500.0},
        {".5", Varnholt::ERR_SUCCESS, 0.5},
        {"-0.25", Varnholt::ERR_SUCCESS, -0.25},
        {"1,5", Varnholt::ERR_SUCCESS, 1.0},
        {"123.457", Varnholt::ERR_SUCCESS, 123.457},
        {"", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"x1", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"nan", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"inf", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {"1e999", Varnholt::ERR_DATATYPE_MISMATCH, 0},
        {".", Varnholt::ERR_DATATYPE_MISMATCH, 0},
    };
    for (const auto& c : doubles) {
        double value = 99.0;
        EXPECT_EQ(textToDouble(c.text, value), c.result) << '"' << c.text << '"';
        EXPECT_EQ(value, c.result == Varnholt::ERR_SUCCESS ? c.value : 99.0) << '"' << c.text << '"';
    }
}

// The file is shared by every program: a caller's own locale does not change its numbers.
TEST(SettingsConversions, CallersLocaleDoesNotApply)
{
    struct Comma : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        char do_thousands_sep() const override { return '.'; }
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new Comma));
    std::string text;
    double value = 0;
    std::int32_t number = 0;
    EXPECT_EQ(doubleToText(1234.5, text), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(text, "1234.5");
    EXPECT_EQ(intToText(1234567, text), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(text, "1234567");
    EXPECT_EQ(textToDouble("2.5", value), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(value, 2.5);
    EXPECT_EQ(textToInt("1.234", number), Varnholt::ERR_SUCCESS);
    EXPECT_EQ(number, 1);
    std::locale::global(previous);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
