// corvo-adapter-sim: the simulated adapter on a pseudo-terminal. Parses the
// command line, builds the simulator from defaults, the state file and the
// identity options (in that order of precedence, last wins), and serves it.
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "AdapterSim.h"
#include "PtyServer.h"
#include "SimOptions.h"

int main(int argc, char* argv[])
{
    SimProgramOptions options;
    std::string error;
    if (!parseSimOptions(argc, argv, options, error))
    {
        std::fprintf(stderr, "corvo-adapter-sim: %s\nTry 'corvo-adapter-sim --help'.\n",
                     error.c_str());
        return 2;
    }
    if (options.help)
    {
        std::fputs(simUsage(), stdout);
        return 0;
    }

    AdapterSim sim(options.config);
    struct stat st;
    if (!options.statePath.empty() && stat(options.statePath.c_str(), &st) == 0 &&
        !sim.loadState(options.statePath, &error))
    {
        std::fprintf(stderr, "corvo-adapter-sim: %s\n", error.c_str());
        return 1;
    }
    applyIdentityOptions(options, sim);
    if (options.saveOnly)
    {
        if (sim.saveState(options.statePath, &error))
            return 0;
        std::fprintf(stderr, "corvo-adapter-sim: %s\n", error.c_str());
        return 1;
    }

    FILE* log = nullptr;
    if (!options.logPath.empty())
    {
        log = std::fopen(options.logPath.c_str(), "a");
        if (log == nullptr)
        {
            std::fprintf(stderr, "corvo-adapter-sim: cannot open log %s\n",
                         options.logPath.c_str());
            return 1;
        }
        // Flushed per line so a test can read the log while we run.
        sim.setLogSink([log](const std::string& line) {
            std::fprintf(log, "%s\n", line.c_str());
            std::fflush(log);
        });
    }

    PtyServerSettings settings;
    settings.statePath = options.statePath;
    settings.linkPath = options.linkPath;
    int status = servePty(sim, settings);
    if (log != nullptr)
    {
        sim.setLogSink(nullptr);
        std::fclose(log);
    }
    return status;
}
