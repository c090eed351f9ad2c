// The fault matrix: each device step of corvo against corvo-adapter-sim
// failing in each way a link fails (silence, the terminal hanging up,
// garbage replies, a NAK storm on the serial link, an erase slower than its
// time-out or just inside it). Every row checks the exit status and the exact
// report, that the run ends within the protocol's own time-outs for that step
// (and not before a long time-out it must wait out), that corvo slept rather
// than spun, that no host file was damaged, and what the adapter's flash
// holds afterwards (read from the simulator's state file).
//
// The simulator counts commands from 1 as their "#" arrives. After connecting
// (identity reads 1-3, version 4) the device road reads the identity again
// (5-7); every step starts at command 8. A fault "at command C" is
// --silence-after C-1 (C and everything after are ignored), --hang-up-after
// C-1 (C-1 is answered, then the line drops) or --garbage-after C-1 (C is
// carried out, its reply garbled).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "EEPROM_Init.h"
#include "RunProgram.h"
#include "SimProcess.h"

namespace
{

// The adapter's flash as the state file holds it.
const uint32_t kFlashSize = 0x20000;
const uint32_t kBootLoaderEnd = 0x1000;
const uint32_t kFirmwareAddr = 0x1000;
const uint32_t kSettingsAddr = 0x1F000;
const uint32_t kSettingsSize = 0x1000;
const uint32_t kBlock = 64;

// The image the -f rows write: 16 blocks of plain firmware, settings kept.
const int kFirmwareBlocks = 16;

// Commands of each step (see the file comment for the numbering).
const int kFirstStepCommand = 8;
const int kInfoIdentityRead = 9;           // -i: the word at 0xFF4, after the version
const int kSaveMiddleRead = 500;         // -s: a word read halfway through the dump
const int kSettingsBlock = 32;           // -u, -c: erase 8, block k: S 9+3k, Y 10+3k, Y 11+3k
const int kSettingsMidTarget = 11 + 3 * kSettingsBlock;  // the copy into flash of block 32
const int kResetIdentityRead = 9;        // -R: the second identity read
const int kFlashErase = 10;              // -f: type 8, PCB 9, erase 10, x# 11
const int kFlashInitD = 11;
const int kFlashBlock = 8;               // block k: S 12+3k, Y 13+3k, Y 14+3k
const int kFlashMidTarget = 14 + 3 * kFlashBlock;
const int kFlashChecksum = 12 + 3 * kFirmwareBlocks;

// Protocol waits, seconds.
const double kConnectUsb = 0.5 + 0.1 + 4 * 0.1 + 0.1;        // pause, drain, identity, version
const double kConnectSerial = kConnectUsb + 3 * 0.1;         // plus the auto-baud answers
const double kConnectBoth = kConnectUsb + kConnectSerial;    // a USB attempt, then serial
const double kWordTimeout = 1.0;
const double kLongTimeout = 5.0;
// Process start, the work before the fault and a loaded machine.
const double kSlack = 1.0;
const double kCpuLimit = 0.5;

enum Step
{
    kConnectIdentity,  // the second identity read while connecting
    kConnectVersion,   // the version query while connecting
    kInfo,
    kSave,
    kLoad,
    kClear,
    kReset,
    kFlashAtErase,
    kFlashAtInitD,
    kFlashMidTransfer,
    kFlashAtChecksum,
};

enum Fault
{
    kSilence,
    kHangUp,
    kGarbage,
    kNakStorm,
    kEraseSlow,    // the erase answers after 5.5 s
    kEraseInside,  // ... after 4.5 s
};

enum Outcome
{
    kNoDevice,      // connect gave up: "No device found on PORT"
    kMonitorError,  // "\nSAM-BA operation failed\n"
    kCompleted,     // status 0
};

// What an area of flash holds after the run.
enum AreaState
{
    kUnchanged,
    kErased,
    kPrefix,   // its first `blocks` blocks of the new contents, the rest erased
    kWritten,  // the new contents whole
};

struct Row
{
    Step step;
    Fault fault;
    Outcome outcome;
    AreaState firmware;
    AreaState settings;
    int blocks;         // for kPrefix
    double maxSeconds;  // the protocol's waits for this row, before slack
    double minSeconds;  // a time-out the row must wait out whole
};

const char* step_name(Step s)
{
    static const char* names[] = {"connect-identity", "connect-version", "-i", "-s", "-u", "-c",
                                  "-R", "-f-erase", "-f-x#", "-f-transfer", "-f-checksum"};
    return names[s];
}

const char* fault_name(Fault f)
{
    static const char* names[] = {"silence", "hang-up", "garbage", "nak-storm", "erase-5.5s",
                                  "erase-4.5s"};
    return names[f];
}

int target_command(Step s)
{
    switch (s)
    {
    case kConnectIdentity: return 2;
    case kConnectVersion: return 4;
    case kInfo: return kInfoIdentityRead;
    case kSave: return kSaveMiddleRead;
    case kLoad:
    case kClear: return kSettingsMidTarget;
    case kReset: return kResetIdentityRead;
    case kFlashAtErase: return kFlashErase;
    case kFlashAtInitD: return kFlashInitD;
    case kFlashMidTransfer: return kFlashMidTarget;
    case kFlashAtChecksum: return kFlashChecksum;
    }
    return kFirstStepCommand;
}

const Row kRows[] = {
    // step               fault        outcome        firmware    settings    blocks  max  min
    {kConnectIdentity, kSilence, kNoDevice, kUnchanged, kUnchanged, 0, kConnectBoth, 0},
    {kConnectIdentity, kHangUp, kNoDevice, kUnchanged, kUnchanged, 0, kConnectBoth, 0},
    {kConnectIdentity, kGarbage, kNoDevice, kUnchanged, kUnchanged, 0, kConnectBoth, 0},
    {kConnectIdentity, kNakStorm, kCompleted, kUnchanged, kUnchanged, 0, kConnectBoth, 0},
    // A version query that falls silent is an error, not a refusal.
    {kConnectVersion, kSilence, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb, 0},
    {kConnectVersion, kHangUp, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb, 0},
    {kConnectVersion, kGarbage, kNoDevice, kUnchanged, kUnchanged, 0, kConnectBoth, 0},

    // The report checks nothing it reads: garbage is printed, not detected.
    {kInfo, kSilence, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb + 0.1 + kWordTimeout, kWordTimeout},
    {kInfo, kHangUp, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb + 0.1, 0},
    {kInfo, kGarbage, kCompleted, kUnchanged, kUnchanged, 0, kConnectUsb + 0.1, 0},
    {kInfo, kNakStorm, kCompleted, kUnchanged, kUnchanged, 0, kConnectBoth + 0.1, 0},

    // The dump has no check either; a failed one leaves FILE as it was.
    {kSave, kSilence, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb + kWordTimeout, kWordTimeout},
    {kSave, kHangUp, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb, 0},
    {kSave, kGarbage, kCompleted, kUnchanged, kUnchanged, 0, kConnectUsb, 0},
    {kSave, kNakStorm, kCompleted, kUnchanged, kUnchanged, 0, kConnectBoth + 0.5, 0},

    // Loading stops with the settings area erased or partly written.
    {kLoad, kSilence, kMonitorError, kUnchanged, kPrefix, kSettingsBlock, kConnectUsb + kLongTimeout, kLongTimeout},
    {kLoad, kHangUp, kMonitorError, kUnchanged, kPrefix, kSettingsBlock, kConnectUsb, 0},
    {kLoad, kGarbage, kMonitorError, kUnchanged, kPrefix, kSettingsBlock + 1, kConnectUsb, 0},
    {kLoad, kNakStorm, kMonitorError, kUnchanged, kErased, 0, kConnectBoth + 5 * kWordTimeout, 0},
    {kLoad, kEraseSlow, kMonitorError, kUnchanged, kErased, 0, kConnectUsb + kLongTimeout, kLongTimeout},
    {kLoad, kEraseInside, kCompleted, kUnchanged, kWritten, 0, kConnectUsb + 4.5 + 1.0, 4.5},

    // Clearing writes the default image the same way.
    {kClear, kSilence, kMonitorError, kUnchanged, kPrefix, kSettingsBlock, kConnectUsb + kLongTimeout, kLongTimeout},
    {kClear, kHangUp, kMonitorError, kUnchanged, kPrefix, kSettingsBlock, kConnectUsb, 0},
    {kClear, kGarbage, kMonitorError, kUnchanged, kPrefix, kSettingsBlock + 1, kConnectUsb, 0},
    {kClear, kNakStorm, kMonitorError, kUnchanged, kErased, 0, kConnectBoth + 5 * kWordTimeout, 0},
    {kClear, kEraseSlow, kMonitorError, kUnchanged, kErased, 0, kConnectUsb + kLongTimeout, kLongTimeout},
    {kClear, kEraseInside, kCompleted, kUnchanged, kWritten, 0, kConnectUsb + 4.5 + 1.0, 4.5},

    // A garbled identity is "not this processor": nothing is written.
    {kReset, kSilence, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb + kWordTimeout, kWordTimeout},
    {kReset, kHangUp, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb, 0},
    {kReset, kGarbage, kCompleted, kUnchanged, kUnchanged, 0, kConnectUsb + 0.1, 0},
    {kReset, kNakStorm, kCompleted, kUnchanged, kUnchanged, 0, kConnectBoth + 0.1, 0},

    // The update (erase mode 0) never touches the settings area. An erase
    // command that never arrived leaves the firmware as it was; one that was
    // carried out leaves it erased, then partly written.
    {kFlashAtErase, kSilence, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb + kLongTimeout, kLongTimeout},
    {kFlashAtErase, kHangUp, kMonitorError, kUnchanged, kUnchanged, 0, kConnectUsb, 0},
    {kFlashAtErase, kGarbage, kMonitorError, kErased, kUnchanged, 0, kConnectUsb, 0},
    {kFlashAtErase, kNakStorm, kMonitorError, kErased, kUnchanged, 0, kConnectBoth + 5 * kWordTimeout, 0},
    {kFlashAtErase, kEraseSlow, kMonitorError, kErased, kUnchanged, 0, kConnectUsb + kLongTimeout, kLongTimeout},
    {kFlashAtErase, kEraseInside, kCompleted, kWritten, kUnchanged, 0, kConnectUsb + 4.5 + 1.0, 4.5},
    {kFlashAtInitD, kSilence, kMonitorError, kErased, kUnchanged, 0, kConnectUsb + kLongTimeout, kLongTimeout},
    {kFlashAtInitD, kHangUp, kMonitorError, kErased, kUnchanged, 0, kConnectUsb, 0},
    {kFlashAtInitD, kGarbage, kMonitorError, kErased, kUnchanged, 0, kConnectUsb, 0},
    {kFlashMidTransfer, kSilence, kMonitorError, kPrefix, kUnchanged, kFlashBlock, kConnectUsb + kLongTimeout, kLongTimeout},
    {kFlashMidTransfer, kHangUp, kMonitorError, kPrefix, kUnchanged, kFlashBlock, kConnectUsb, 0},
    {kFlashMidTransfer, kGarbage, kMonitorError, kPrefix, kUnchanged, kFlashBlock + 1, kConnectUsb, 0},
    {kFlashAtChecksum, kSilence, kMonitorError, kWritten, kUnchanged, 0, kConnectUsb + kLongTimeout, kLongTimeout},
    {kFlashAtChecksum, kHangUp, kMonitorError, kWritten, kUnchanged, 0, kConnectUsb, 0},
    {kFlashAtChecksum, kGarbage, kMonitorError, kWritten, kUnchanged, 0, kConnectUsb, 0},
};
const int kRowCount = sizeof(kRows) / sizeof(kRows[0]);

// Files every row starts from, built once.
struct Fixtures
{
    TempDir dir;
    std::string initialFlash;  // default adapter with old settings in place
    std::string oldSettings;
    std::string newSettings;   // the -u file
    std::string firmwarePlain; // what the -f image writes into flash
    std::string savedBefore;   // what FILE holds before -s
};

std::string pattern(size_t size, unsigned seed)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++)
        s[i] = static_cast<char>((i * 7 + seed) % 251);  // never 0xFF
    return s;
}

bool build_fixtures(Fixtures& fx)
{
    const std::string dir = fx.dir.path();
    if (runProgram("corvo-mksettings", {"--lens", "85", dir + "/old.dat"}).status != 0 ||
        runProgram("corvo-mksettings", {"--lens", "50", "--lens", "24-70:3,-2", dir + "/new.dat"}).status != 0)
        return false;
    fx.oldSettings = readFile(dir + "/old.dat");
    fx.newSettings = readFile(dir + "/new.dat");

    fx.firmwarePlain = pattern(kFirmwareBlocks * kBlock, 3);
    writeFile(dir + "/plain.bin", fx.firmwarePlain);
    if (runProgram("corvo-mkfw", {"--payload=" + dir + "/plain.bin", dir + "/fw.img"}).status != 0)
        return false;

    if (runProgram("corvo-adapter-sim", {"--state", dir + "/base.state", "--save-only"}).status != 0)
        return false;
    std::string flash = readFile(dir + "/base.state").substr(0, kFlashSize);
    if (flash.size() != kFlashSize || fx.oldSettings.size() != kSettingsSize)
        return false;
    flash.replace(kSettingsAddr, kSettingsSize, fx.oldSettings);
    fx.initialFlash = flash;
    fx.savedBefore = "settings saved last week\n" + pattern(100, 9);
    return true;
}

std::vector<std::string> fault_options(const Row& row)
{
    const std::string before = std::to_string(target_command(row.step) - 1);
    switch (row.fault)
    {
    case kSilence: return {"--silence-after", before};
    case kHangUp: return {"--hang-up-after", before};
    case kGarbage: return {"--garbage-after", before};
    case kNakStorm: return {"--serial", "--nak-block", "1", "--nak-always"};
    case kEraseSlow: return {"--erase-delay-ms", "5500"};
    case kEraseInside: return {"--erase-delay-ms", "4500"};
    }
    return {};
}

struct RowRun
{
    std::string stateFile;
    std::string file;  // FILE of the run, if any
    std::vector<std::string> args;
    std::string input;
    SimProcess* sim = nullptr;
    RunResult result;
};

void prepare(const Fixtures& fx, const Row& row, int index, RowRun& run)
{
    const std::string dir = fx.dir.path() + "/row" + std::to_string(index);
    mkdir(dir.c_str(), 0700);
    run.stateFile = dir + "/adapter.state";
    writeFile(run.stateFile, fx.initialFlash);
    switch (row.step)
    {
    case kConnectIdentity:
    case kConnectVersion:
        break;
    case kInfo: run.args = {"-i"}; break;
    case kSave:
        run.file = dir + "/saved.dat";
        writeFile(run.file, fx.savedBefore);
        run.args = {"-s", run.file};
        break;
    case kLoad:
        run.file = dir + "/new.dat";
        writeFile(run.file, fx.newSettings);
        run.args = {"-u", run.file};
        break;
    case kClear:
        run.args = {"-c"};
        run.input = "0\n";
        break;
    case kReset: run.args = {"-R"}; break;
    case kFlashAtErase:
    case kFlashAtInitD:
    case kFlashMidTransfer:
    case kFlashAtChecksum:
        run.file = dir + "/fw.img";
        writeFile(run.file, readFile(fx.dir.path() + "/fw.img"));
        run.args = {"-f", run.file};
        break;
    }
}

// Checks an area of the final flash against what the row expects.
void expect_area(const char* what, const std::string& flash, const std::string& initial, uint32_t addr,
                 uint32_t size, AreaState state, const std::string& contents, int blocks)
{
    const std::string now = flash.substr(addr, size);
    const std::string erased(size, '\xFF');
    switch (state)
    {
    case kUnchanged:
        EXPECT_TRUE(now == initial.substr(addr, size)) << what << " changed";
        break;
    case kErased:
        EXPECT_TRUE(now == erased) << what << " not erased";
        break;
    case kPrefix:
    case kWritten:
    {
        size_t written = state == kWritten ? contents.size() : blocks * kBlock;
        EXPECT_TRUE(now.compare(0, written, contents, 0, written) == 0)
            << what << ": the first " << written << " bytes are not the new contents";
        EXPECT_TRUE(now.compare(written, std::string::npos, erased, written, std::string::npos) == 0)
            << what << ": not erased after the first " << written << " bytes";
        break;
    }
    }
}

class FaultMatrix : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_fixtures = new Fixtures();
        s_ready = build_fixtures(*s_fixtures);
    }
    static void TearDownTestSuite()
    {
        delete s_fixtures;
        s_fixtures = nullptr;
    }
    static Fixtures* s_fixtures;
    static bool s_ready;
};
Fixtures* FaultMatrix::s_fixtures = nullptr;
bool FaultMatrix::s_ready = false;

TEST_F(FaultMatrix, EveryStepFailsCleanlyWithinItsTimeoutsAndLeavesTheDocumentedState)
{
    ASSERT_TRUE(s_ready) << "could not build the settings, firmware and adapter files";
    const Fixtures& fx = *s_fixtures;

    // Simulators start one after another on this thread; the corvo runs,
    // which mostly wait, go in parallel.
    std::vector<RowRun> runs(kRowCount);
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int i = 0; i < kRowCount; i++)
    {
        prepare(fx, kRows[i], i, runs[i]);
        std::vector<std::string> simArgs = {"--state", runs[i].stateFile};
        for (const std::string& o : fault_options(kRows[i]))
            simArgs.push_back(o);
        sims.emplace_back(new SimProcess(simArgs));
        ASSERT_TRUE(sims.back()->started()) << "row " << i;
        runs[i].sim = sims.back().get();
        std::vector<std::string> args = {"-p", runs[i].sim->path()};
        args.insert(args.end(), runs[i].args.begin(), runs[i].args.end());
        runs[i].args = args;
    }

    std::atomic<int> next(0);
    const int kWorkers = 12;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; w++)
        workers.emplace_back([&]() {
            for (int i = next++; i < kRowCount; i = next++)
                runs[i].result = runProgram("corvo", runs[i].args, runs[i].input, 60);
        });
    for (std::thread& t : workers)
        t.join();

    for (int i = 0; i < kRowCount; i++)
    {
        const Row& row = kRows[i];
        RowRun& run = runs[i];
        SCOPED_TRACE(std::string("row ") + std::to_string(i) + ": " + step_name(row.step) + " / " +
                     fault_name(row.fault));
        // Stopping saves the state; a simulator that hung up saved it as it went.
        run.sim->stop();
        const RunResult& r = run.result;
        ASSERT_FALSE(r.timedOut) << "corvo hung";

        const std::string opened = "Try to open USB device ... ";
        switch (row.outcome)
        {
        case kNoDevice:
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, opened + "No device found on " + run.sim->path() + "\n");
            break;
        case kMonitorError:
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, opened + "\nSAM-BA operation failed\n");
            break;
        case kCompleted:
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, opened);
            break;
        }

        EXPECT_LE(r.seconds, row.maxSeconds + kSlack) << "waited past the protocol's time-outs";
        EXPECT_GE(r.seconds, row.minSeconds) << "gave up before the time-out ran out";
        EXPECT_LT(r.cpuSeconds, kCpuLimit) << "busy while waiting (" << r.seconds << " s wall)";

        // Host files: inputs are never written; a failed save keeps FILE.
        if (row.step == kLoad)
        {
            EXPECT_TRUE(readFile(run.file) == fx.newSettings);
        }
        if (row.step >= kFlashAtErase)
        {
            EXPECT_TRUE(readFile(run.file) == readFile(fx.dir.path() + "/fw.img"));
        }
        if (row.step == kSave)
        {
            const std::string saved = readFile(run.file);
            if (row.outcome != kCompleted)
            {
                EXPECT_TRUE(saved == fx.savedBefore) << "a failed save damaged FILE";
            }
            else if (row.fault == kNakStorm)
            {
                EXPECT_TRUE(saved == fx.oldSettings);
            }
            else
            {
                EXPECT_EQ(saved.size(), kSettingsSize);  // garbage, but whole
            }
        }

        const std::string flash = readFile(run.stateFile).substr(0, kFlashSize);
        ASSERT_EQ(flash.size(), kFlashSize);
        expect_area("boot loader area", flash, fx.initialFlash, 0, kBootLoaderEnd, kUnchanged, "", 0);
        expect_area("firmware area", flash, fx.initialFlash, kFirmwareAddr, kSettingsAddr - kFirmwareAddr,
                    row.firmware, fx.firmwarePlain, row.blocks);
        const std::string settings =
            row.step == kClear ? std::string(reinterpret_cast<const char*>(g_myData), kSettingsSize)
                               : fx.newSettings;
        expect_area("settings area", flash, fx.initialFlash, kSettingsAddr, kSettingsSize, row.settings,
                    settings, row.blocks);
    }
}

}  // namespace
