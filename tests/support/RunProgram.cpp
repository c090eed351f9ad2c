#include "RunProgram.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

std::string binPath(const std::string& name)
{
    return std::string(CORVO_BIN_DIR) + "/" + name;
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, double timeLimitSeconds, const std::string& argv0)
{
    RunResult result;
    std::string path = program.find('/') == std::string::npos ? binPath(program) : program;

    int inPipe[2], outPipe[2], errPipe[2];
    // Close-on-exec, so a program started meanwhile from another thread does
    // not inherit these ends and hold our output open after this child ends.
    if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
        pipe2(errPipe, O_CLOEXEC) != 0)
        return result;

    // Built before the fork: a child of a threaded process must not allocate.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0.empty() ? path.c_str() : argv0.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0)
    {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    signal(SIGPIPE, SIG_IGN);

    int inFd = inPipe[1];
    size_t inPos = 0;
    if (input.empty())
    {
        close(inFd);
        inFd = -1;
    }
    else
        fcntl(inFd, F_SETFL, O_NONBLOCK);

    int outFd = outPipe[0], errFd = errPipe[0];
    auto deadline = start + std::chrono::duration<double>(timeLimitSeconds);
    while (outFd >= 0 || errFd >= 0)
    {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
        {
            kill(pid, SIGKILL);
            result.timedOut = true;
            break;
        }
        int waitMs = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()) + 1;
        pollfd fds[3];
        int n = 0;
        if (outFd >= 0)
            fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0)
            fds[n++] = {errFd, POLLIN, 0};
        if (inFd >= 0)
            fds[n++] = {inFd, POLLOUT, 0};
        if (poll(fds, n, waitMs) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; i++)
        {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == inFd)
            {
                ssize_t w = ::write(inFd, input.data() + inPos, input.size() - inPos);
                if (w > 0)
                    inPos += static_cast<size_t>(w);
                if (w < 0 || inPos == input.size())
                {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            char buf[4096];
            ssize_t r = ::read(fds[i].fd, buf, sizeof(buf));
            std::string& sink = fds[i].fd == outFd ? result.out : result.err;
            if (r > 0)
                sink.append(buf, static_cast<size_t>(r));
            else
            {
                close(fds[i].fd);
                (fds[i].fd == outFd ? outFd : errFd) = -1;
            }
        }
    }
    for (int fd : {inFd, outFd, errFd})
        if (fd >= 0)
            close(fd);

    int wstatus = 0;
    struct rusage usage;
    memset(&usage, 0, sizeof(usage));
    while (wait4(pid, &wstatus, 0, &usage) < 0 && errno == EINTR)
    {
    }
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(wstatus) && !result.timedOut)
        result.status = WEXITSTATUS(wstatus);
    return result;
}

TempDir::TempDir()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "corvo-test-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) != nullptr)
        _path = buf.data();
}

TempDir::~TempDir()
{
    if (!_path.empty())
    {
        std::error_code ec;
        std::filesystem::permissions(_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(_path, ec);
    }
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
