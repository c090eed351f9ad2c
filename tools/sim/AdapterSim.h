// The simulated adapter's boot loader: a SAM-BA monitor with the adapter
// maker's extension commands, over the adapter's memory. It is fed the bytes
// the host sends and queues the bytes it answers, each stamped with the time
// it is complete on the wire, so one model serves both an in-process port on
// a virtual clock and a pseudo-terminal on the real one. It never sleeps.
//
// Link modes: on the USB link every byte is a command byte and memory data
// moves raw; on a serial link nothing is heard until the auto-baud bytes
// 0x80 0x80 "#", and memory data moves by XMODEM-CRC.
#ifndef CORVO_SIM_ADAPTERSIM_H
#define CORVO_SIM_ADAPTERSIM_H

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AdapterCrypto.h"
#include "SimMemory.h"
#include "SimXmodem.h"

enum class SimLink
{
    Auto,  // from the speed of each connection: 921600 is the USB link
    Usb,
    Serial,
};

// Fault injection. Commands are counted from 1 as their "#" arrives.
struct SimFaults
{
    static constexpr long kNever = -1;
    long silenceAfter = kNever;  // commands answered; afterwards everything is ignored
    long hangUpAfter = kNever;   // commands answered; then the link is hung up
    long garbageAfter = kNever;  // commands answered cleanly; later reply bytes are garbled
    uint32_t nakBlock = 0;       // XMODEM block (counted from 1) refused on receipt; 0: none
    bool nakAlways = false;      // refuse it every time, not just the first time it arrives
    unsigned eraseDelayMs = 0;   // extra time before the erase reply
};

// Benchmark timing. Both zero: replies are complete the moment the command is.
struct SimTiming
{
    unsigned replyDelayMs = 0;  // before every reply
    unsigned bitRate = 0;       // byte pacing in both directions: 10 bits per byte; 0: none
};

struct SimConfig
{
    static const char* const kDefaultVersionText;   // carries the "QZV" marker
    static const char* const kUnmarkedVersionText;  // the same without it
    static constexpr uint32_t kDefaultDeviceId = 0x1001F30B;  // 0x1001030B with revision bits
    static constexpr uint32_t kDefaultCpuid = 0x410CC601;     // Cortex-M0+

    SimLink link = SimLink::Auto;
    std::string versionText = kDefaultVersionText;  // sent with "\n\r" after it
    uint32_t deviceId = kDefaultDeviceId;           // register 0x41002018
    uint32_t cpuid = kDefaultCpuid;                 // register 0xE000ED00
    SimFaults faults;
    SimTiming timing;
};

class AdapterSim
{
public:
    static constexpr uint64_t kNoOutput = UINT64_MAX;
    static constexpr int kUsbSpeed = 921600;
    static constexpr size_t kMaxCommandLength = 64;
    static constexpr uint32_t kMaxTransfer = 0x40000;        // larger S, R, Y or Z are refused
    static constexpr uint64_t kDataIdleTimeoutUs = 2000000;  // a silent data phase is abandoned
    static constexpr uint8_t kGarbageMask = 0xA5;            // XORed into garbled reply bytes

    explicit AdapterSim(const SimConfig& config = SimConfig());

    // Faults and timing may be changed between exchanges.
    SimConfig& config() { return _config; }
    const SimConfig& config() const { return _config; }
    SimMemory& memory() { return _memory; }
    const SimMemory& memory() const { return _memory; }

    // A host opened the link at `bitsPerSecond`: the link mode is chosen, a
    // serial link waits for auto-baud, and half-received commands, data
    // phases and undelivered replies are dropped.
    void connect(int bitsPerSecond);
    void disconnect();
    bool connected() const { return _connected; }
    bool usbLink() const { return _usb; }

    // Bytes from the host, arriving at `nowUs` (never earlier than before).
    // Bytes before any connect() open a connection at the USB speed.
    void receive(const uint8_t* data, size_t size, uint64_t nowUs);
    // When the next reply byte is complete, or kNoOutput.
    uint64_t nextOutputUs() const;
    // Moves out the reply bytes complete by `nowUs`, at most `max`.
    size_t takeOutput(uint8_t* out, size_t max, uint64_t nowUs);
    size_t pendingOutput() const { return _output.size(); }
    // The latest time any call has brought; a port tells the simulator of
    // time passing without bytes with advanceClock, so a later port on the
    // same simulator starts from there.
    uint64_t clockUs() const { return _clockUs; }
    void advanceClock(uint64_t nowUs) { _clockUs = std::max(_clockUs, nowUs); }

    // False after the processor was reset: nothing is answered any more.
    bool running() const { return _running; }
    // Power cycle: answers again, cipher and fault counters start over; memory stays.
    void restart();
    // The hang-up fault fired: the link is gone.
    bool hungUp() const { return _hungUp; }

    // One line per command received (its text without "#") and per event
    // (lines starting "- "); faults also count in faultCount().
    const std::vector<std::string>& log() const { return _log; }
    void setLogSink(std::function<void(const std::string&)> sink) { _logSink = std::move(sink); }
    unsigned faultCount() const { return _faultCount; }
    unsigned commandCount() const { return _commands; }
    // Rises with every erase and buffered write.
    uint64_t flashChanges() const { return _flashChanges; }

    // State file: the 131072 flash bytes in address order, then a 16-byte
    // identity block: "CVSIMID1", device id, CPUID (little-endian). A file of
    // the flash bytes alone is loaded too. Saving writes a temporary file
    // beside the target and renames it over the target.
    bool loadState(const std::string& path, std::string* error = nullptr);
    bool saveState(const std::string& path, std::string* error = nullptr) const;

private:
    enum Phase
    {
        CommandPhase,
        RawWritePhase,     // USB link: "S" data
        XmodemWritePhase,  // serial link: "S" data, we receive
        XmodemReadPhase,   // serial link: "R" data, we send
    };

    void handleByte(uint8_t byte);
    void autoBaudByte(uint8_t byte);
    void commandByte(uint8_t byte);
    void runCommand(const std::string& text);
    void dispatch(char letter, const std::vector<uint32_t>& args);

    void readMemory(uint32_t addr, uint32_t size, std::vector<uint8_t>& out) const;
    uint8_t peek(uint32_t addr) const;
    uint32_t registerWord(uint32_t addr) const;
    void writeWord(uint32_t addr, uint32_t value);
    void writeByte(uint32_t addr, uint8_t value);
    void beginWrite(uint32_t addr, uint32_t size);
    void storeWriteData(const uint8_t* data, uint32_t count);
    void endWrite();
    void beginRead(uint32_t addr, uint32_t size);
    void xmodemWriteByte(uint8_t byte);
    void xmodemReadByte(uint8_t byte);
    void abandonDataPhase(const std::string& why);
    void erase(uint32_t addr, uint32_t digit);
    void copyBuffer(uint32_t dst, uint32_t size);
    void checksum(uint32_t addr, uint32_t size);
    void refuse(const std::string& why);

    void reply(const uint8_t* data, size_t size, uint64_t extraDelayUs = 0);
    void reply(const std::string& text, uint64_t extraDelayUs = 0);
    uint64_t byteTimeUs() const;
    void resetLink();
    void note(const std::string& line);
    void fault(const std::string& line);

    SimConfig _config;
    SimMemory _memory;
    adapter::PayloadCipher _cipher;

    bool _connected = false;
    bool _usb = true;
    bool _synced = false;
    unsigned _autoBaudRun = 0;
    std::string _command;
    bool _overlong = false;

    Phase _phase = CommandPhase;
    uint32_t _dataAddr = 0;
    uint32_t _dataSize = 0;
    uint32_t _dataDone = 0;
    bool _dataDropped = false;
    std::unique_ptr<XmodemReceiver> _receiver;
    std::unique_ptr<XmodemSender> _sender;
    bool _haveSource = false;
    uint32_t _source = 0;

    struct OutByte
    {
        uint8_t value;
        uint64_t readyUs;
    };
    std::deque<OutByte> _output;
    uint64_t _clockUs = 0;
    uint64_t _rxDoneUs = 0;  // when the last byte received was complete
    uint64_t _txDoneUs = 0;  // when the last byte queued will be complete

    bool _running = true;
    bool _hungUp = false;
    bool _silent = false;
    bool _garbling = false;
    bool _nakFired = false;
    unsigned _commands = 0;

    std::vector<std::string> _log;
    std::function<void(const std::string&)> _logSink;
    unsigned _faultCount = 0;
    uint64_t _flashChanges = 0;
};

#endif
