// Starts and stops corvo-adapter-sim for end-to-end tests.
#include "SimProcess.h"

#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "RunProgram.h"

namespace
{
const int kWaitStepMs = 10;
}

SimProcess::SimProcess(const std::vector<std::string>& args, double startLimitSeconds)
{
    int out[2];
    if (pipe(out) != 0)
        return;
    std::string program = binPath("corvo-adapter-sim");
    _pid = fork();
    if (_pid < 0)
    {
        close(out[0]);
        close(out[1]);
        return;
    }
    if (_pid == 0)
    {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);

    std::string line;
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(startLimitSeconds);
    while (line.find('\n') == std::string::npos)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd = {out[0], POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            break;
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof(buf));
        if (n <= 0)
            break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    size_t end = line.find('\n');
    if (end != std::string::npos)
        _path = line.substr(0, end);
    else
        stop();
}

SimProcess::~SimProcess()
{
    stop();
}

int SimProcess::wait(double limitSeconds)
{
    if (_ended || _pid <= 0)
        return _status;
    for (double waited = 0; waited <= limitSeconds; waited += kWaitStepMs / 1000.0)
    {
        int wstatus = 0;
        if (waitpid(_pid, &wstatus, WNOHANG) == _pid)
        {
            _ended = true;
            _status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
            return _status;
        }
        poll(nullptr, 0, kWaitStepMs);
    }
    return -1;
}

int SimProcess::stop(double limitSeconds)
{
    if (_ended || _pid <= 0)
        return _status;
    kill(_pid, SIGTERM);
    if (wait(limitSeconds) >= 0 || _ended)
        return _status;
    kill(_pid, SIGKILL);
    waitpid(_pid, nullptr, 0);
    _ended = true;
    _status = -1;
    return _status;
}
