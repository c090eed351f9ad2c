// corvo-bench: how close corvo's device operations come to what the protocol
// itself makes them take. Each operation runs against corvo-adapter-sim with
// its timing model (a USB-like link with a fixed reply delay, or a serial
// link paced at its byte rate); the fastest of a few runs is compared with
// the protocol floor: the mandated pauses, the time-outs the protocol waits
// out even when all went well, the reply delay of every reply and every byte
// on the wire at the link's byte rate. The floor's command count is checked
// against the simulator's log, so a model that drifts from what corvo sends
// is caught rather than reported.
//
//   corvo-bench [--repeat N] [--results FILE]
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RunProgram.h"
#include "SimProcess.h"

namespace
{

// The protocol's own waits, in seconds.
const double kSettlePause = 0.500;   // after opening, before the drain
const double kResetPause = 0.100;    // after the reset request
const double kFlushPause = 0.001;    // after an unanswered command on a USB link
const double kShortTimeout = 0.100;  // the drain, auto-baud answers, the version text

// Sizes on the wire, in bytes.
const int kWordRead = 12;        // "w%08X,4#"
const int kWordReply = 4;
const int kWordWrite = 19;       // "W%08X,%08X#"
const int kVersionCommand = 2;   // "V#"
const int kEraseCommand = 12;    // "X%08X,%d#"
const int kShortReply = 3;       // "X\n\r", "Y\n\r", "x\n\r"
const int kInitDCommand = 2;     // "x#"
const int kMemWriteCommand = 19; // "S%08X,%08X#"
const int kBufferSource = 12;    // "Y%08X,0#"
const int kBufferTarget = 19;    // "Y%08X,%08X#"
const int kChecksumCommand = 19; // "Z%08X,%08X#"
const int kChecksumReply = 9;
const int kBlock = 64;
const int kXmodemBlock = 133;
const int kAutoBaudOut = 3;      // 0x80, 0x80, "#"
const int kAutoBaudReply = 2;    // "\n\r"
const int kChipIdReads = 3;      // reset vector, CPUID, device id

const int kSettingsSize = 4096;
const int kFirmwareSize = 122880;

struct Link
{
    const char* name;
    std::vector<std::string> simArgs;
    double byteSeconds;  // one byte on the wire
    double replyDelay;   // before every reply
    bool serial;
};

// What the protocol makes an operation take, piece by piece.
struct Floor
{
    double waits = 0;  // pauses and time-outs waited out
    int replies = 0;
    long bytes = 0;
    int commands = 0;  // as the simulator counts them

    void exchange(int out, int in)
    {
        commands++;
        replies++;
        bytes += out + in;
    }
    void unanswered(int out)
    {
        commands++;
        bytes += out;
    }
    double seconds(const Link& link) const
    {
        return waits + replies * link.replyDelay + bytes * link.byteSeconds;
    }
};

std::string simulator_version_text()
{
    return "v2.1 QZV Kestrune boot loader\n\r";  // the simulator's default
}

// The connection, then the device road's own identity check.
void add_connect(Floor& f, const Link& link)
{
    if (link.serial)
    {
        // A named port is tried as a USB link first; a serial boot loader
        // ignores it, so the first identity read waits out its time-out.
        f.waits += kSettlePause + kShortTimeout + kShortTimeout;
    }
    f.waits += kSettlePause + kShortTimeout;  // the drain reads until its time-out
    if (link.serial)
    {
        // Nothing answers the two 0x80 bytes; "#" gets two of the three
        // bytes read for it, so all three reads wait out their time-out.
        f.waits += 3 * kShortTimeout;
        f.replies++;
        f.bytes += kAutoBaudOut + kAutoBaudReply;
    }
    for (int i = 0; i < kChipIdReads; i++)
        f.exchange(kWordRead, kWordReply);
    // The version text is read as "up to 255 bytes": it ends with a time-out.
    f.exchange(kVersionCommand, static_cast<int>(simulator_version_text().size()));
    f.waits += kShortTimeout;
    for (int i = 0; i < kChipIdReads; i++)
        f.exchange(kWordRead, kWordReply);
}

// One 64-byte block into flash: staged in RAM, then the buffered write.
void add_block(Floor& f, const Link& link)
{
    if (link.serial)
    {
        // "S", then XMODEM: "C", one block, ACK, EOT, ACK.
        f.unanswered(kMemWriteCommand);
        f.replies += 3;
        f.bytes += 1 + kXmodemBlock + 1 + 1 + 1;
    }
    else
    {
        f.unanswered(kMemWriteCommand + kBlock);
        f.waits += kFlushPause;
    }
    f.exchange(kBufferSource, kShortReply);
    f.exchange(kBufferTarget, kShortReply);
}

void add_reset(Floor& f, const Link& link)
{
    for (int i = 0; i < kChipIdReads; i++)
        f.exchange(kWordRead, kWordReply);
    f.unanswered(kWordWrite);
    if (!link.serial)
        f.waits += kFlushPause;
    f.waits += kResetPause;
}

struct Operation
{
    const char* name;
    std::vector<std::string> args;  // after -p PORT; FILE is appended when set
    const char* fixture;            // "settings", "firmware" or nullptr
};

Floor floor_of(const Operation& op, const Link& link)
{
    Floor f;
    add_connect(f, link);
    const std::string name = op.name;
    if (name == "-i")
    {
        f.exchange(kVersionCommand, static_cast<int>(simulator_version_text().size()));
        f.waits += kShortTimeout;
        for (int i = 0; i < 6; i++)  // identity record, firmware words, ADJ
            f.exchange(kWordRead, kWordReply);
    }
    else if (name == "-s")
    {
        for (int i = 0; i < kSettingsSize / 4; i++)
            f.exchange(kWordRead, kWordReply);
    }
    else if (name == "-u")
    {
        f.exchange(kEraseCommand, kShortReply);
        for (int i = 0; i < kSettingsSize / kBlock; i++)
            add_block(f, link);
        f.exchange(kChecksumCommand, kChecksumReply);
    }
    else if (name == "-f")
    {
        f.exchange(kWordRead, kWordReply);  // firmware type
        f.exchange(kWordRead, kWordReply);  // ring type and PCB version
        f.exchange(kEraseCommand, kShortReply);
        f.exchange(kInitDCommand, kShortReply);
        for (int i = 0; i < kFirmwareSize / kBlock; i++)
            add_block(f, link);
        for (int i = 0; i < 3; i++)  // firmware code, settings, the verdict
            f.exchange(kChecksumCommand, kChecksumReply);
        add_reset(f, link);
    }
    return f;
}

int logged_commands(const std::string& log)
{
    int n = 0;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line.compare(0, 2, "- ") != 0)
            n++;
    return n;
}

struct Measurement
{
    double wall = 1e9;
    double cpu = 0;  // of the fastest run
    int commands = -1;
    bool ok = true;
    std::string failure;
};

// One run of corvo against a fresh simulator: the exit status, the times and,
// when `log` is set, the simulator's command log. A fresh adapter each run:
// -f ends with a reset, after which the boot loader answers nothing.
RunResult run_once(const Operation& op, const Link& link, const TempDir& dir, const std::string& log)
{
    std::vector<std::string> simArgs = link.simArgs;
    if (!log.empty())
    {
        simArgs.push_back("--log");
        simArgs.push_back(log);
    }
    SimProcess sim(simArgs);
    if (!sim.started())
        return RunResult();
    std::vector<std::string> args = {"-p", sim.path()};
    args.insert(args.end(), op.args.begin(), op.args.end());
    if (op.fixture != nullptr)
        args.push_back(dir.file(op.fixture));
    RunResult r = runProgram("corvo", args, std::string(), 600);
    sim.stop();
    return r;
}

// First a run with the command log, to check the floor's command count; then
// the timed runs without it. The simulator writes and flushes a log line per
// command, and a state file would be saved before every buffered write's
// reply: both would be the simulator's time, not the protocol's or corvo's.
Measurement measure(const Operation& op, const Link& link, int repeat, const TempDir& dir)
{
    Measurement m;
    static int logs = 0;
    const std::string log = dir.file("log-" + std::to_string(logs++));
    for (int run = 0; run <= repeat; run++)
    {
        RunResult r = run_once(op, link, dir, run == 0 ? log : std::string());
        if (r.status != 0)
        {
            m.ok = false;
            m.failure = "corvo exited with " + std::to_string(r.status) + ": " + r.err;
            return m;
        }
        if (run == 0)
        {
            m.commands = logged_commands(readFile(log));
            continue;
        }
        if (r.seconds < m.wall)
        {
            m.wall = r.seconds;
            m.cpu = r.cpuSeconds;
        }
    }
    return m;
}

// The link's cost per exchange beyond the model: the difference between -s
// (1024 word reads) and a bare connection, per read, less what the floor
// counts for one read. It is what handing a command and its reply between
// two processes through a pseudo-terminal costs, plus however late the
// simulator's timer lets a paced or delayed reply out.
double exchange_overhead(const Link& link, int repeat, const TempDir& dir)
{
    const Operation connectOnly = {"connect", {}, nullptr};
    const Operation save = {"-s", {"-s"}, "calibration"};
    Measurement c = measure(connectOnly, link, repeat, dir);
    Measurement s = measure(save, link, repeat, dir);
    if (!c.ok || !s.ok)
        return 0;
    const int reads = kSettingsSize / 4;
    const double modelled = link.replyDelay + (kWordRead + kWordReply) * link.byteSeconds;
    return (s.wall - c.wall) / reads - modelled;
}

std::string first_line_of(const char* path, const char* key)
{
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, strlen(key), key) == 0)
        {
            size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    return "unknown";
}

std::string machine_description()
{
    utsname u;
    uname(&u);
    std::ostringstream s;
    s << "nproc " << std::thread::hardware_concurrency() << ", CPU "
      << first_line_of("/proc/cpuinfo", "model name") << ", kernel " << u.sysname << " "
      << u.release << " " << u.machine;
    return s.str();
}

bool make_fixtures(const TempDir& dir)
{
    RunResult s = runProgram("corvo-mksettings", {"--lens", "50", "--lens", "24-70:3,-2", dir.file("settings")});
    RunResult f = runProgram("corvo-mkfw", {dir.file("firmware")});
    return s.status == 0 && f.status == 0 && readFile(dir.file("firmware")).size() > kFirmwareSize;
}

}  // namespace

int main(int argc, char** argv)
{
    int repeat = 3;
    std::string results;
    for (int i = 1; i < argc; i++)
    {
        if (strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, atoi(argv[++i]));
        else if (strcmp(argv[i], "--results") == 0 && i + 1 < argc)
            results = argv[++i];
        else
        {
            fprintf(stderr, "Usage: corvo-bench [--repeat N] [--results FILE]\n");
            return 2;
        }
    }

    TempDir dir;
    if (!make_fixtures(dir))
    {
        fprintf(stderr, "corvo-bench: could not build the settings and firmware files\n");
        return 1;
    }

    const std::vector<Link> links = {
        {"USB-like (--reply-delay-ms 1)", {"--reply-delay-ms", "1"}, 0.0, 0.001, false},
        {"serial 115200 (--serial --baud-pace 115200)", {"--serial", "--baud-pace", "115200"},
         10.0 / 115200, 0.0, true},
    };
    const std::vector<Operation> ops = {
        {"-i", {"-i"}, nullptr},
        {"-s", {"-s"}, "saved"},
        {"-u", {"-u"}, "settings"},
        {"-f", {"-f"}, "firmware"},
    };

    std::ostringstream table;
    table << "| Link | Operation | Measured (s) | Floor (s) | Ratio | Host CPU (s) | CPU / wall |"
             " Floor + link overhead (s) | Ratio to it |\n"
          << "|---|---|---:|---:|---:|---:|---:|---:|---:|\n";
    std::ostringstream calibration;
    {
        // With no delay and no pacing the whole cost of an exchange is the
        // hand-off between the two processes and their own work.
        const Link bare = {"no delay, no pacing", {}, 0.0, 0.0, false};
        char line[256];
        snprintf(line, sizeof(line), "- %s: %.0f us per exchange\n", bare.name,
                 exchange_overhead(bare, repeat, dir) * 1e6);
        calibration << line;
        fputs(line, stdout);
    }
    bool allOk = true;
    for (const Link& link : links)
    {
        const double overhead = exchange_overhead(link, repeat, dir);
        char line[256];
        snprintf(line, sizeof(line), "- %s: %.0f us per exchange beyond the model\n", link.name,
                 overhead * 1e6);
        calibration << line;
        fputs(line, stdout);
        for (const Operation& op : ops)
        {
            Floor f = floor_of(op, link);
            Measurement m = measure(op, link, repeat, dir);
            if (!m.ok)
            {
                fprintf(stderr, "%s %s: %s\n", link.name, op.name, m.failure.c_str());
                allOk = false;
                continue;
            }
            if (m.commands != f.commands)
            {
                fprintf(stderr, "%s %s: the floor counts %d commands, the simulator logged %d\n",
                        link.name, op.name, f.commands, m.commands);
                allOk = false;
            }
            const double floor = f.seconds(link);
            const double withLink = floor + f.replies * overhead;
            char row[320];
            snprintf(row, sizeof(row),
                     "| %s | `%s` | %.3f | %.3f | %.3f | %.3f | %.1f%% | %.3f | %.3f |\n", link.name,
                     op.name, m.wall, floor, m.wall / floor, m.cpu, 100.0 * m.cpu / m.wall, withLink,
                     m.wall / withLink);
            table << row;
            fputs(row, stdout);
            fflush(stdout);
        }
    }

    const std::string machine = machine_description();
    printf("\nMachine: %s\n", machine.c_str());
    fflush(stdout);
    if (!results.empty())
    {
        std::ofstream out(results);
        out << "Machine: " << machine << "  \n"
            << "Runs per operation: " << repeat << " (the fastest is kept)\n\n"
            << table.str() << "\nLink overhead per exchange, measured (-s less a bare connection, per word read):\n\n"
            << calibration.str();
    }
    return allOk ? 0 : 1;
}
