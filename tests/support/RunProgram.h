// Runs a built program the way a user does: arguments in; standard output,
// standard error and exit status out. Standard input is fed from a string and
// then closed, so a program that reads past it sees end of input.
#ifndef CORVO_TEST_RUNPROGRAM_H
#define CORVO_TEST_RUNPROGRAM_H

#include <string>
#include <vector>

struct RunResult
{
    std::string out;
    std::string err;
    int status = -1;       // exit status; -1 when killed or not started
    bool timedOut = false; // killed after the time limit
    double seconds = 0;    // wall time
    double cpuSeconds = 0; // user + system time of the program (its own
                           // children included), from the kernel's accounting
};

// `program` is a path, or a bare name looked up in the build's bin folder.
// argv[0] is `argv0` when given, else the program path. Safe to call from
// several threads at once: the child only redirects and executes.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input = std::string(), double timeLimitSeconds = 60,
                     const std::string& argv0 = std::string());

// Path of a program built into the build's bin folder.
std::string binPath(const std::string& name);

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return _path; }
    std::string file(const std::string& name) const { return _path + "/" + name; }

private:
    std::string _path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

#endif
