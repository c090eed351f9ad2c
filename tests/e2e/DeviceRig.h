// One simulated adapter on a pseudo-terminal for end-to-end runs of corvo:
// its state file (prepared from the simulator's defaults, identity options and
// an optional edit of the flash bytes), its command log, and runs of the
// built corvo against its terminal.
#ifndef CORVO_E2E_DEVICERIG_H
#define CORVO_E2E_DEVICERIG_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "SimProcess.h"

typedef std::vector<uint8_t> Flash;

struct RigSetup
{
    std::vector<std::string> identity;     // simulator options baked into the state file
    std::function<void(Flash&)> editFlash;  // then applied to the flash bytes
    std::vector<std::string> runtime;      // link and fault options of the running simulator
};

class DeviceRig
{
public:
    static const uint32_t kFlashSize = 0x20000;

    explicit DeviceRig(const RigSetup& setup = RigSetup());
    bool started() const { return _sim && _sim->started(); }
    const std::string& terminal() const { return _sim->path(); }
    std::string file(const std::string& name) const { return _dir.file(name); }

    // corvo -p <terminal> args...
    RunResult corvo(const std::vector<std::string>& args, const std::string& input = "");

    // The simulator's log: commands as sent (without "#") and "- " event lines.
    std::vector<std::string> log() const;
    // The log's commands only.
    std::vector<std::string> commands() const;
    // The flash as the simulator last saved it.
    Flash flash() const;
    // Bytes [from, from + size) of the saved flash.
    Flash flash(uint32_t from, uint32_t size) const;

private:
    TempDir _dir;
    std::unique_ptr<SimProcess> _sim;
};

// corvo-mkfw with these options writing `path`; true when it succeeded.
bool makeImage(const std::string& path, const std::vector<std::string>& options);

// "done in 1.234 seconds" becomes "done in T seconds", so texts compare exactly.
std::string maskTimes(const std::string& text);

// How many times `what` occurs in `text`.
size_t countOf(const std::string& text, const std::string& what);

// Repeatable pseudo-random bytes, so a copy that went wrong cannot look right.
Flash randomBytes(size_t n, unsigned seed);

// The run of progress dots right after `label` in `text`.
size_t dotsAfter(const std::string& text, const std::string& label);

// Index of the first entry of `lines` starting with `prefix`, or -1.
long firstIndex(const std::vector<std::string>& lines, const std::string& prefix);
size_t countPrefix(const std::vector<std::string>& lines, const std::string& prefix);

#endif
