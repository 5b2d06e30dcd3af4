// The default PELMUX_ROOT is a folder of the user's own that nobody else can serve or read.
#include "SimFixture.h"

#include "platform/Semaphore.h"
#include "platform/posix/Root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace pelmux::test {
namespace PELMUX_FILE_SCOPE {

namespace fs = std::filesystem;
using platform::posix::privateFolderProblem;

// Sets or clears an environment variable for the test's scope.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

unsigned modeOf(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777u : 0u;
}

TEST(DefaultRoot, OnlyAPrivateFolderOfTheUsersOwnIsUsed)
{
    TempRoot base;
    const std::string own = base.path() + "/own";
    ASSERT_EQ(::mkdir(own.c_str(), 0700), 0);
    struct Case {
        const char* what;
        std::string folder;
        bool refused;
    };
    std::vector<Case> cases = {
        {"made when missing", base.path() + "/fresh", false},
        {"an existing private folder", own, false},
    };
    const auto add = [&](const char* what, const std::string& name, auto prepare) {
        const std::string folder = base.path() + "/" + name;
        prepare(folder);
        cases.push_back({what, folder, true});
    };
    add("writable by others", "open",
        [](const std::string& f) { ::mkdir(f.c_str(), 0700), ::chmod(f.c_str(), 0777); });
    add("writable by the group", "group",
        [](const std::string& f) { ::mkdir(f.c_str(), 0700), ::chmod(f.c_str(), 0770); });
    add("a link to a private folder", "link",
        [&](const std::string& f) { fs::create_directory_symlink(own, f); });
    add("a file", "file", [](const std::string& f) { std::ofstream(f) << "x"; });
    if (::getuid() == 0)
        add("another user's", "theirs",
            [](const std::string& f) { ::mkdir(f.c_str(), 0700), ::chown(f.c_str(), 65534, 65534); });

    for (const auto& c : cases) {
        const std::string problem = privateFolderProblem(c.folder);
        EXPECT_EQ(!problem.empty(), c.refused) << c.what << ": " << problem;
        if (c.refused)
            EXPECT_NE(problem.find(c.folder), std::string::npos)
                << c.what << ": the message names the folder";
        else
            EXPECT_EQ(modeOf(c.folder), 0700u) << c.what;
    }
}

TEST(DefaultRoot, ComesFromTheRuntimeFolderAndARefusedOneLeadsNowhere)
{
    TempRoot runtime;
    ScopedVariable noRoot("PELMUX_ROOT", nullptr);
    ScopedVariable xdg("XDG_RUNTIME_DIR", runtime.path().c_str());
    EXPECT_EQ(platform::posix::root(), runtime.path() + "/pelmux");
    EXPECT_EQ(modeOf(runtime.path() + "/pelmux"), 0700u);
    EXPECT_EQ(platform::posix::boardSocketPath(), runtime.path() + "/pelmux/board.sock");

    ::chmod((runtime.path() + "/pelmux").c_str(), 0777);
    EXPECT_EQ(platform::posix::root(), "");
    EXPECT_EQ(platform::posix::boardSocketPath(), "");
    EXPECT_EQ(platform::posix::hostPath(L"C:\\ProgramData\\Varnholt\\Pelmux.ini"), "");
    EXPECT_EQ(platform::createSemaphore("PELMUX_TEST_NO_ROOT"), nullptr);
}

} // namespace PELMUX_FILE_SCOPE
} // namespace pelmux::test
