// The settings file shared by real processes: no update lost, no file broken by a killed writer.
#include "KillableProcess.h"
#include "Process.h"
#include "SimFixture.h"
#include "Waiting.h"

#include "frame/SettingsFile.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include <fcntl.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

namespace fs = std::filesystem;

std::string settingsFileOf(const std::string& root)
{
    return root + "/C/ProgramData/Varnholt/Pelmux.ini";
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The keys of a file written whole: every line "key=value" or "key = value", the last one ended.
std::optional<std::set<std::string>> keysOfWholeFile(const std::string& text)
{
    std::set<std::string> keys;
    if (text.empty())
        return keys;
    if (text.back() != '\n')
        return std::nullopt;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (line.empty() || equals == std::string::npos)
            return std::nullopt;
        SettingsEntries entries;
        readSettingsText(line, entries);
        keys.insert(entries.begin()->first);
    }
    return keys;
}

// The value of "Last" in the file: the rewrite worker sets it anew on every rewrite.
std::string lastWritten(const std::string& file)
{
    SettingsEntries entries;
    readSettingsText(readFile(file), entries);
    const auto last = entries.find("Last");
    return last == entries.end() ? std::string() : last->second;
}

// A root in memory when the system has one: this test is about the lock, and every cycle's flush
// to a disk would only make it slow.
class MemoryRoot {
public:
    MemoryRoot()
    {
        char pattern[] = "/dev/shm/pelmux-test-XXXXXX";
        const char* made = std::filesystem::is_directory("/dev/shm") ? ::mkdtemp(pattern) : nullptr;
        if (made == nullptr) {
            disk_ = std::make_unique<TempRoot>();
            path_ = disk_->path();
            return;
        }
        path_ = made;
        ::setenv("PELMUX_ROOT", path_.c_str(), 1);
    }
    ~MemoryRoot()
    {
        if (!disk_) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    std::string path() const { return path_; }

private:
    std::unique_ptr<TempRoot> disk_;
    std::string path_;
};

TEST(SettingsProcesses, FourProcessesIncrementingOneKeyLoseNothing)
{
    MemoryRoot root;
    constexpr int processes = 4;
    constexpr int cycles = 1000;
    std::vector<std::unique_ptr<KillableProcess>> workers;
    for (int p = 0; p < processes; ++p)
        workers.push_back(std::make_unique<KillableProcess>(
            std::vector<std::string>{PELMUX_WORKER, "increment", "Counter", std::to_string(cycles)}));
    for (auto& worker : workers)
        EXPECT_EQ(worker->wait(), 0);
    SettingsEntries entries;
    readSettingsText(readFile(settingsFileOf(root.path())), entries);
    EXPECT_EQ(entries["Counter"], std::to_string(processes * cycles));
}

TEST(SettingsProcesses, AKilledWriterNeverLeavesABrokenFile)
{
    TempRoot root;
    // A file large enough that a rewrite takes a while: a kill lands inside one often.
    std::string initial;
    for (int k = 0; k < 300; ++k)
        initial += "K" + std::to_string(k) + "=" + std::string(400, static_cast<char>('a' + k % 26)) + "\n";
    root.writeFile("C/ProgramData/Varnholt/Pelmux.ini", initial);
    const std::string file = settingsFileOf(root.path());

    const auto strayFiles = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(file).parent_path()))
            if (entry.path().filename() != "Pelmux.ini")
                names.push_back(entry.path().filename().string());
        return names;
    };
    std::mt19937 random(20240517);
    std::uniform_int_distribution<int> delayUs(0, 30000);
    int killedMidWrite = 0;
    for (int round = 0; round < 100; ++round) {
        const auto before = keysOfWholeFile(readFile(file));
        ASSERT_TRUE(before) << "round " << round;
        const std::string lastBefore = lastWritten(file);
        KillableProcess writer({PELMUX_WORKER, "rewrite"});
        ASSERT_TRUE(writer.started());
        // Once the writer has rewritten the file it rewrites without end: the kill lands at a random
        // point of that, however late a loaded machine started the process.
        ASSERT_TRUE(waitUntil([&] { return lastWritten(file) != lastBefore; })) << "round " << round;
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        writer.kill();
        EXPECT_EQ(writer.wait(), 128 + SIGKILL);
        killedMidWrite += strayFiles().empty() ? 0 : 1;
        const auto after = keysOfWholeFile(readFile(file));
        ASSERT_TRUE(after) << "round " << round << ": the file is not whole";
        for (const auto& key : *before)
            ASSERT_TRUE(after->count(key)) << "round " << round << ": " << key << " lost";
    }
    // The next writer clears what the killed ones left behind.
    EXPECT_EQ(runCommand({PELMUX_WORKER, "increment", "Done", "1"}, root.path()).exitCode, 0);
    EXPECT_GT(killedMidWrite, 0) << "no kill landed inside a rewrite: the test proved nothing";
    RecordProperty("killedMidWrite", killedMidWrite);
    const auto stray = strayFiles();
    EXPECT_TRUE(stray.empty()) << stray.size() << " files left, the first " << stray.front();
    const auto last = keysOfWholeFile(readFile(file));
    ASSERT_TRUE(last);
    EXPECT_TRUE(last->count("K0") && last->count("K299") && last->count("Done"));
}

// A `keys` writer, printing into a file of its own; killed when the test ends, however it ends.
struct KeyWriter {
    KeyWriter(const std::string& folder, int number) : output(folder + "/w" + std::to_string(number))
    {
        const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid = spawn({PELMUX_WORKER, "keys", "w" + std::to_string(number)}, std::string(), fd, false);
        ::close(fd);
    }
    ~KeyWriter() { stop(); }
    // Answers how it ended: 128 + SIGKILL unless it stopped on its own.
    int stop()
    {
        if (pid > 0)
            ::kill(pid, SIGKILL);
        const int status = pid > 0 ? waitExitCode(pid) : -1;
        pid = -1;
        return status;
    }
    pid_t pid = -1;
    std::string output;
};

// Writers killed while they hold the settings lock stop neither the others nor a new process, and
// the lock of a killed taker is never taken over while it lives: no key reported written is lost.
TEST(SettingsProcesses, WritersKilledInsideTheirCycleNeverStopTheOthers)
{
    MemoryRoot root;
    const std::string outputs = root.path() + "/keys-written";
    fs::create_directories(outputs);
    constexpr int writerCount = 4;
    constexpr int kills = 30;
    std::mt19937 random(20240611);
    std::vector<std::unique_ptr<KeyWriter>> writers;
    int started = 0;
    for (; started < writerCount; ++started)
        writers.push_back(std::make_unique<KeyWriter>(outputs, started));
    int freshWrites = 0;
    for (int round = 0; round < kills; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 75));
        auto& victim = writers[random() % writerCount];
        EXPECT_EQ(victim->stop(), 128 + SIGKILL) << "a writer stopped on its own";
        victim = std::make_unique<KeyWriter>(outputs, started++);
        KillableProcess fresh({PELMUX_WORKER, "increment", "Fresh", "1"});
        const auto status = fresh.waitFor(std::chrono::seconds(5));
        if (!status) {
            ADD_FAILURE() << "round " << round << ": a new writer waited for the lock for 5 s";
            break;
        }
        EXPECT_EQ(*status, 0) << "round " << round;
        ++freshWrites;
    }
    for (auto& writer : writers)
        EXPECT_EQ(writer->stop(), 128 + SIGKILL) << "a writer stopped on its own";

    SettingsEntries entries;
    readSettingsText(readFile(settingsFileOf(root.path())), entries);
    EXPECT_EQ(entries.count("Fresh") ? entries["Fresh"] : "0", std::to_string(freshWrites));
    int reported = 0, lost = 0;
    for (const auto& output : fs::directory_iterator(outputs)) {
        const std::string text = readFile(output.path());
        // Whole lines only: a kill may cut the last one.
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            ++reported;
            const std::string key = text.substr(start, end - start);
            if (entries.count(key) == 0 && ++lost <= 5)
                ADD_FAILURE() << key << " was reported written and is not in the file";
        }
    }
    EXPECT_EQ(lost, 0);
    EXPECT_GT(reported, kills) << "the writers hardly wrote";
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
