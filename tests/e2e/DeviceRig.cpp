// The end-to-end rig: state file preparation through the simulator's own
// --save-only, then the simulator served with its log, and small text helpers
// for comparing corvo's output and the command log.
#include "DeviceRig.h"

#include <random>
#include <regex>
#include <sstream>

namespace
{
const char kStateName[] = "adapter.state";
const char kLogName[] = "adapter.log";
}  // namespace

DeviceRig::DeviceRig(const RigSetup& setup)
{
    const std::string state = _dir.file(kStateName);
    std::vector<std::string> prepare = {"--state", state, "--save-only"};
    prepare.insert(prepare.end(), setup.identity.begin(), setup.identity.end());
    if (runProgram("corvo-adapter-sim", prepare).status != 0)
        return;
    if (setup.editFlash)
    {
        // Only the flash bytes are edited; the identity block after them stays.
        std::string bytes = readFile(state);
        if (bytes.size() < kFlashSize)
            return;
        Flash flash(bytes.begin(), bytes.begin() + kFlashSize);
        setup.editFlash(flash);
        std::copy(flash.begin(), flash.end(), bytes.begin());
        writeFile(state, bytes);
    }
    std::vector<std::string> args = {"--state", state, "--log", _dir.file(kLogName)};
    args.insert(args.end(), setup.runtime.begin(), setup.runtime.end());
    _sim.reset(new SimProcess(args));
}

RunResult DeviceRig::corvo(const std::vector<std::string>& args, const std::string& input)
{
    std::vector<std::string> all = {"-p", terminal()};
    all.insert(all.end(), args.begin(), args.end());
    return runProgram("corvo", all, input);
}

std::vector<std::string> DeviceRig::log() const
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(_dir.file(kLogName)));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> DeviceRig::commands() const
{
    std::vector<std::string> lines;
    for (const std::string& l : log())
        if (l.rfind("- ", 0) != 0)
            lines.push_back(l);
    return lines;
}

Flash DeviceRig::flash() const
{
    std::string bytes = readFile(_dir.file(kStateName));
    if (bytes.size() < kFlashSize)
        return Flash();
    return Flash(bytes.begin(), bytes.begin() + kFlashSize);
}

Flash DeviceRig::flash(uint32_t from, uint32_t size) const
{
    Flash all = flash();
    if (all.size() < static_cast<size_t>(from) + size)
        return Flash();
    return Flash(all.begin() + from, all.begin() + from + size);
}

bool makeImage(const std::string& path, const std::vector<std::string>& options)
{
    std::vector<std::string> args = options;
    args.push_back(path);
    return runProgram("corvo-mkfw", args).status == 0;
}

std::string maskTimes(const std::string& text)
{
    static const std::regex kTime("done in +[0-9]+\\.[0-9]{3} seconds");
    return std::regex_replace(text, kTime, "done in T seconds");
}

Flash randomBytes(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    Flash b(n);
    for (uint8_t& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

size_t countOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        n++;
    return n;
}

long firstIndex(const std::vector<std::string>& lines, const std::string& prefix)
{
    for (size_t i = 0; i < lines.size(); i++)
        if (lines[i].rfind(prefix, 0) == 0)
            return static_cast<long>(i);
    return -1;
}

size_t countPrefix(const std::vector<std::string>& lines, const std::string& prefix)
{
    size_t n = 0;
    for (const std::string& l : lines)
        if (l.rfind(prefix, 0) == 0)
            n++;
    return n;
}

size_t dotsAfter(const std::string& text, const std::string& label)
{
    size_t at = text.find(label);
    if (at == std::string::npos)
        return 0;
    size_t n = 0;
    for (at += label.size(); at < text.size() && text[at] == '.'; at++)
        n++;
    return n;
}
