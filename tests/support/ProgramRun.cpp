#include "support/ProgramRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "support/TestPaths.h"

extern char** environ;

namespace zorvo::test {
namespace {

// Closes a descriptor when the last copy goes (or on reset()).
std::shared_ptr<void> Closer(int fd) {
    return {nullptr, [fd](void*) { ::close(fd); }};
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& argv, const InputFeed& feed) {
    ProgramRun run;
    TempDir dir;
    const std::string out = dir.File("out");
    const std::string err = dir.File("err");
    // Standard input is a socket rather than a pipe: send() can fail with EPIPE instead of
    // raising SIGPIPE when the program stops reading early. Without a feed it just ends.
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        run.err = "cannot make the input socket";
        return run;
    }
    std::shared_ptr<void> ours = Closer(pair[0]);
    std::shared_ptr<void> theirs = Closer(pair[1]);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    const std::shared_ptr<void> filesGo(nullptr,
                                        [&](void*) { posix_spawn_file_actions_destroy(&files); });
    posix_spawn_file_actions_adddup2(&files, pair[1], 0);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    if (const int failed = ::posix_spawnp(&pid, args[0], &files, nullptr, args.data(), environ)) {
        run.err = "cannot run " + argv[0] + ": " + std::strerror(failed);
        return run;
    }
    theirs.reset();
    // Big pieces cost fewer round trips.
    const int buffer = 4 << 20;
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    std::string bytes;
    for (bool open = static_cast<bool>(feed); open && feed(bytes);) {
        for (std::size_t sent = 0; open && sent < bytes.size();) {
            const ssize_t n =
                ::send(pair[0], bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            open = n > 0 || errno == EINTR;
            sent += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        bytes.clear();
    }
    ours.reset();
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return run;
        }
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = FileText(out);
    run.err = FileText(err);
    return run;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

ProgramRun RunZorvo(const std::string& arguments, const std::string& program, int watchdogSeconds) {
    const std::string watchdog =
        watchdogSeconds > 0 ? "timeout -k 5 " + std::to_string(watchdogSeconds) + " " : "";
    return RunProgram(
        {"/bin/sh", "-c", "exec " + watchdog + BinDir() + "/" + program + " " + arguments});
}

}  // namespace zorvo::test
