// Runs the simulated adapter program, corvo-adapter-sim, in the background
// for end-to-end tests: starts it with the given options, reads the terminal
// path it prints first, and stops it again. Every wait is bounded.
#ifndef CORVO_TEST_SIMPROCESS_H
#define CORVO_TEST_SIMPROCESS_H

#include <string>
#include <vector>

class SimProcess
{
public:
    // Started when the terminal path arrived within the limit; otherwise the
    // process is stopped again and started() is false.
    explicit SimProcess(const std::vector<std::string>& args = {}, double startLimitSeconds = 10);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool started() const { return !_path.empty(); }
    // The pseudo-terminal's slave, e.g. /dev/pts/3.
    const std::string& path() const { return _path; }
    int pid() const { return _pid; }

    // SIGTERM, then the exit status; -1 when it had to be killed.
    int stop(double limitSeconds = 10);
    // Waits for the program to end by itself: its exit status, or -1 when it
    // is still running after the limit (it is left running).
    int wait(double limitSeconds);

private:
    int _pid = -1;
    int _status = -1;
    bool _ended = false;
    std::string _path;
};

#endif
