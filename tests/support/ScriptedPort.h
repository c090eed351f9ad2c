// A scripted stand-in for the adapter's serial link. The test keeps the
// ScriptedLink (shared state: script, clock and log) and hands a ScriptedPort
// over it to the code under test, so the log survives the port being moved
// into, or destroyed by, its new owner.
//
// Time is virtual: nothing sleeps. Bytes are scheduled at a moment on the
// link's clock; a read or get that finds nothing due within the current
// time-out moves the clock on by that time-out and comes back short, as a
// real port does when the wait period passes without a new byte.
#ifndef CORVO_TEST_SCRIPTEDPORT_H
#define CORVO_TEST_SCRIPTEDPORT_H

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SerialPort.h"

typedef std::vector<uint8_t> Bytes;

// Bytes of a text, without a terminating zero.
Bytes bytesOf(const std::string& text);

class ScriptedLink
{
public:
    struct Event
    {
        enum Kind { Open, Close, Write, Put, Read, Get, Timeout, Flush };
        Kind kind;
        // Open: baud; Write: count reported; Put: byte; Read: size asked;
        // Get: result; Timeout: ms.
        int value;
        // Write/Put: bytes sent; Read: bytes delivered; Open: {data, parity, stop}.
        Bytes bytes;
        int timeoutMs; // the time-out in force when the call was made
        long nowMs;    // the link's clock when the call was made
    };

    // Called after every write and put with the bytes just sent; it may
    // schedule an answer with push(). Runs before any queued reply is released.
    typedef std::function<void(ScriptedLink& link, const Bytes& sent)> Responder;

    // --- script ---------------------------------------------------------
    // Schedules bytes to arrive `delayMs` from now (after anything already due).
    void push(const Bytes& bytes, int delayMs = 0);
    void push(const std::string& text, int delayMs = 0);
    // Queues a reply released by the next write or put (one reply per call,
    // in order). An empty reply is silence for that call.
    void queueReply(const Bytes& bytes, int delayMs = 0);
    void queueReply(const std::string& text, int delayMs = 0);
    void queueSilence() { queueReply(Bytes()); }
    Responder onWrite;
    // Decides whether open(baud, ...) succeeds; unset means it always does.
    std::function<bool(int baud)> acceptOpen;
    // Most bytes one write reports as written; -1 for all. 0 makes every write
    // report nothing; a small number forces short writes.
    int writeLimit = -1;
    // When set, decides the count each write reports (overrides writeLimit).
    std::function<int(const Bytes& bytes)> writeCount;
    // Every read and get reports a port error (-1).
    bool readError = false;
    // Forgets every scheduled byte not yet read and every queued reply.
    void dropPending()
    {
        _rx.clear();
        _replies.clear();
    }
    // Moves the clock on, e.g. from a pause hook of the code under test.
    void advance(int ms) { _nowMs += ms; }

    // --- state ----------------------------------------------------------
    bool isOpen() const { return _open; }
    // Speed of the last successful open; 0 before any.
    int baud() const { return _baud; }
    bool destroyed() const { return _destroyed; }
    int timeoutMs() const { return _timeoutMs; }
    long nowMs() const { return _nowMs; }
    // Scheduled bytes not yet read.
    size_t pending() const { return _rx.size(); }

    // --- log ------------------------------------------------------------
    const std::vector<Event>& events() const { return _events; }
    std::vector<Event> eventsOf(Event::Kind kind) const;
    // Every byte sent by write and put, in order.
    Bytes sent() const;
    std::string sentText() const;
    // Each write call's bytes, and each put as a one-byte entry.
    std::vector<Bytes> sends() const;
    std::vector<int> openBauds() const;
    std::vector<int> timeouts() const;
    int flushCount() const;
    void clearLog() { _events.clear(); }

private:
    friend class ScriptedPort;
    struct Timed
    {
        long at;
        uint8_t byte;
    };
    void record(Event::Kind kind, int value, Bytes bytes = Bytes());
    void afterSend(const Bytes& sent);
    // Takes the next byte if it is due within the current time-out; otherwise
    // spends the time-out and returns -1.
    int take();

    std::deque<Timed> _rx;
    std::deque<std::pair<Bytes, int>> _replies;
    std::vector<Event> _events;
    bool _open = false;
    int _baud = 0;
    bool _destroyed = false;
    int _timeoutMs = 0;
    long _nowMs = 0;
};

class ScriptedPort : public SerialPort
{
public:
    ScriptedPort(std::shared_ptr<ScriptedLink> link, bool usb,
                 const std::string& name = "SCRIPTED");
    ~ScriptedPort() override;

    // A new link and a port over it, ready to hand to a client.
    static std::pair<SerialPort::Ptr, std::shared_ptr<ScriptedLink>> make(bool usb);

    bool open(int baud, int data, Parity parity, StopBit stop) override;
    void close() override;
    bool isUsb() override { return _usb; }
    int read(uint8_t* data, int size) override;
    int write(const uint8_t* data, int size) override;
    int get() override;
    int put(int c) override;
    bool timeout(int millisecs) override;
    void flush() override;

private:
    std::shared_ptr<ScriptedLink> _link;
    bool _usb;
};

#endif
