// The helpers that reach the system: POSIX.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/fs/scratch.h"
#include "tests/support/test_support.h"

namespace testing_support {

namespace stdfs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (stdfs::temp_directory_path() / "zbtest-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files and folders made by a test must not stop the clean-up.
    for (auto it = stdfs::recursive_directory_iterator(path_, ec); !ec && it != stdfs::recursive_directory_iterator();
         it.increment(ec)) {
        stdfs::permissions(it->path(), stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    }
    stdfs::remove_all(path_, ec);
}

bool PathExists(const std::string& path) {
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

CommandResult Run(const std::string& commandLine) {
    CommandResult result{-1, {}};
    const std::string cmd = "(" + commandLine + ") 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return result;
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ShellQuote(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

bool HaveTool(const std::string& program) {
    return Run("command -v " + ShellQuote(program) + " >/dev/null").exitCode == 0;
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim{};
    getrlimit(RLIMIT_FSIZE, &lim);
    oldSoft_ = lim.rlim_cur;
    lim.rlim_cur = static_cast<rlim_t>(bytes);
    if (setrlimit(RLIMIT_FSIZE, &lim) != 0) throw std::runtime_error("setrlimit(RLIMIT_FSIZE) failed");
}

FileSizeLimit::~FileSizeLimit() {
    struct rlimit lim{};
    getrlimit(RLIMIT_FSIZE, &lim);
    lim.rlim_cur = static_cast<rlim_t>(oldSoft_);
    setrlimit(RLIMIT_FSIZE, &lim);
    std::signal(SIGXFSZ, oldHandler_);
}

namespace {

// Runs `make` in a child process that then dies without cleaning up; the name it made, "" when none.
std::string MadeByAKilledChild(const std::function<std::string()>& make) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "";
    const pid_t child = fork();
    if (child < 0) return "";
    if (child == 0) {
        close(pipeFds[0]);
        const std::string name = make();
        if (write(pipeFds[1], name.data(), name.size()) < 0) _exit(1);
        _exit(0);  // no destructor runs: the files stay, and the locks end with the process
    }
    close(pipeFds[1]);
    std::string name;
    char buffer[64];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) name.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    return name;
}

}  // namespace

std::string DebrisOfAKilledMaker(const std::string& folder, const std::string& keepOf) {
    namespace fs = archive::fs;
    return MadeByAKilledChild([&] {
        // Never destroyed: the process dies first.
        auto* file = new fs::ScratchFile(keepOf.empty() ? fs::ScratchFile::Create(folder)
                                                        : fs::ScratchFile::Keep(fs::HeldFolder::Open(folder), keepOf));
        return file->Valid() ? fs::ExtractFileName(file->Path()) : std::string();
    });
}

std::string DebrisOfAKilledRun(const std::string& folder) {
    namespace fs = archive::fs;
    return MadeByAKilledChild([&] {
        // Never destroyed: the process dies first.
        auto* run = new fs::ScratchRun;
        auto* file = new fs::ScratchFile(fs::ScratchFile::CreateIn(fs::HeldFolder::Open(folder), *run));
        if (!file->Valid() || write(file->Handle(), "half", 4) != 4) return std::string();
        return fs::ExtractFileName(file->Path());
    });
}

}  // namespace testing_support
