// Host side of the adapter's boot monitor: the SAM-BA command protocol plus
// the boot loader's own extension commands. Once connected the client owns
// the port; every exchange with the adapter passes through it.
#ifndef CORVO_SAMBAVEXOR_H
#define CORVO_SAMBAVEXOR_H

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "SerialPort.h"

class SambaError : public std::exception
{
public:
    SambaError() {}
    ~SambaError() override {}
    const char* what() const noexcept override { return "SAM-BA operation failed"; }
};

class Samba
{
public:
    Samba();
    virtual ~Samba();

    // Takes the port over. A USB port is tried at 921600 as a USB link, then
    // at `bps` as a serial link with auto-baud. False when neither answers as
    // a supported adapter; SambaError when the version query falls silent.
    bool connect(SerialPort::Ptr port, int bps = 115200);
    void disconnect();

    void writeByte(uint32_t addr, uint8_t value);
    uint8_t readByte(uint32_t addr);
    void writeWord(uint32_t addr, uint32_t value);
    uint32_t readWord(uint32_t addr);

    // Raw bytes on the USB link, XMODEM-CRC on a serial link.
    void write(uint32_t addr, const uint8_t* buffer, int size);
    void read(uint32_t addr, uint8_t* buffer, int size);

    void go(uint32_t addr);
    std::string version();
    uint32_t chipId();
    void setDebug(bool debug);
    const SerialPort& getSerialPort() const;
    void reset();

    // Boot loader extensions.
    bool chipErase(uint32_t start_addr, uint8_t clearEEPROMtoo);
    bool writeBuffer(uint32_t src_addr, uint32_t dst_addr, uint32_t size);
    uint32_t checksumBuffer(uint32_t start_addr, uint32_t size);
    bool eepromDump(uint32_t ee_size, uint8_t* ee_buf);
    bool initD();
    bool isChipEraseAvailable() const { return _extChipEraseAvailable; }
    bool isWriteBufferAvailable() const { return _extWriteBufferAvailable; }
    bool isChecksumBufferAvailable() const { return _extChecksumBufferAvailable; }

    uint16_t crc16AddByte(uint8_t data, uint16_t crc16);

    // --- Test seam -------------------------------------------------------
    // The mandated pauses (500 ms while connecting, 100 ms after a reset)
    // make tests slow. A test may route every pause through its own function
    // (it gets the pause length in ms); an empty function restores the real
    // sleep. Shared by all clients; production code never calls this.
    typedef std::function<void(int millisecs)> PauseFunction;
    static void setPauseFunctionForTests(PauseFunction pause);
    // ----------------------------------------------------------------------

private:
    // Tests reach the private CRC helpers through this class only.
    friend class SambaTestAccess;

    bool init();
    SerialPort& port() const;
    void pause(int millisecs);
    void sendCommand(const char* text, int length);
    void afterUnansweredCommand();
    int readReply(uint8_t* reply, int size, int timeoutMs);

    void writeBinary(const uint8_t* buffer, int size);
    void readBinary(uint8_t* buffer, int size);
    void writeXmodem(const uint8_t* buffer, int size);
    void readXmodem(uint8_t* buffer, int size);

    uint16_t crc16Calc(const uint8_t* data, int len);
    bool crc16Check(const uint8_t* blk);
    void crc16Add(uint8_t* blk);

    bool _extChipEraseAvailable;
    bool _extWriteBufferAvailable;
    bool _extChecksumBufferAvailable;
    bool _debug;
    bool _isUsb;
    SerialPort::Ptr _port;
};

#endif
