// Scripted serial link for tests; see ScriptedPort.h.
#include "ScriptedPort.h"

#include <algorithm>
#include <climits>

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

void ScriptedLink::push(const Bytes& bytes, int delayMs)
{
    long at = _nowMs + delayMs;
    if (!_rx.empty())
        at = std::max(at, _rx.back().at);
    for (uint8_t b : bytes)
        _rx.push_back(Timed{at, b});
}

void ScriptedLink::push(const std::string& text, int delayMs)
{
    push(bytesOf(text), delayMs);
}

void ScriptedLink::queueReply(const Bytes& bytes, int delayMs)
{
    _replies.emplace_back(bytes, delayMs);
}

void ScriptedLink::queueReply(const std::string& text, int delayMs)
{
    queueReply(bytesOf(text), delayMs);
}

void ScriptedLink::record(Event::Kind kind, int value, Bytes bytes)
{
    _events.push_back(Event{kind, value, std::move(bytes), _timeoutMs, _nowMs});
}

void ScriptedLink::afterSend(const Bytes& sent)
{
    if (onWrite)
        onWrite(*this, sent);
    if (!_replies.empty())
    {
        std::pair<Bytes, int> reply = std::move(_replies.front());
        _replies.pop_front();
        push(reply.first, reply.second);
    }
}

int ScriptedLink::take()
{
    if (!_rx.empty() && _rx.front().at <= _nowMs + _timeoutMs)
    {
        _nowMs = std::max(_nowMs, _rx.front().at);
        uint8_t b = _rx.front().byte;
        _rx.pop_front();
        return b;
    }
    _nowMs += _timeoutMs;
    return -1;
}

std::vector<ScriptedLink::Event> ScriptedLink::eventsOf(Event::Kind kind) const
{
    std::vector<Event> out;
    for (const Event& e : _events)
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

Bytes ScriptedLink::sent() const
{
    Bytes out;
    for (const Bytes& b : sends())
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

std::string ScriptedLink::sentText() const
{
    Bytes b = sent();
    return std::string(b.begin(), b.end());
}

std::vector<Bytes> ScriptedLink::sends() const
{
    std::vector<Bytes> out;
    for (const Event& e : _events)
        if (e.kind == Event::Write || e.kind == Event::Put)
            out.push_back(e.bytes);
    return out;
}

std::vector<int> ScriptedLink::openBauds() const
{
    std::vector<int> out;
    for (const Event& e : eventsOf(Event::Open))
        out.push_back(e.value);
    return out;
}

std::vector<int> ScriptedLink::timeouts() const
{
    std::vector<int> out;
    for (const Event& e : eventsOf(Event::Timeout))
        out.push_back(e.value);
    return out;
}

int ScriptedLink::flushCount() const
{
    return static_cast<int>(eventsOf(Event::Flush).size());
}

ScriptedPort::ScriptedPort(std::shared_ptr<ScriptedLink> link, bool usb, const std::string& name)
    : SerialPort(name), _link(std::move(link)), _usb(usb)
{
}

ScriptedPort::~ScriptedPort()
{
    _link->_open = false;
    _link->_destroyed = true;
}

std::pair<SerialPort::Ptr, std::shared_ptr<ScriptedLink>> ScriptedPort::make(bool usb)
{
    auto link = std::make_shared<ScriptedLink>();
    SerialPort::Ptr port(new ScriptedPort(link, usb));
    return std::make_pair(std::move(port), link);
}

bool ScriptedPort::open(int baud, int data, Parity parity, StopBit stop)
{
    _link->record(ScriptedLink::Event::Open, baud,
                  Bytes{static_cast<uint8_t>(data), static_cast<uint8_t>(parity),
                        static_cast<uint8_t>(stop)});
    if (_link->_open)
        return false;
    if (_link->acceptOpen && !_link->acceptOpen(baud))
        return false;
    _link->_open = true;
    _link->_baud = baud;
    // Like a real port: no useful read limit until the caller sets one.
    _link->_timeoutMs = INT_MAX;
    return true;
}

void ScriptedPort::close()
{
    _link->record(ScriptedLink::Event::Close, 0);
    _link->_open = false;
}

int ScriptedPort::read(uint8_t* data, int size)
{
    if (!_link->_open || _link->readError)
    {
        _link->record(ScriptedLink::Event::Read, size);
        return -1;
    }
    ScriptedLink::Event e{ScriptedLink::Event::Read, size, Bytes(), _link->_timeoutMs,
                          _link->_nowMs};
    int got = 0;
    while (got < size)
    {
        int b = _link->take();
        if (b < 0)
            break;
        data[got++] = static_cast<uint8_t>(b);
    }
    e.bytes.assign(data, data + got);
    _link->_events.push_back(std::move(e));
    return got;
}

int ScriptedPort::write(const uint8_t* data, int size)
{
    Bytes bytes(data, data + (size > 0 ? size : 0));
    int count = -1;
    if (_link->_open)
    {
        if (_link->writeCount)
            count = _link->writeCount(bytes);
        else
            count = _link->writeLimit < 0 ? size : std::min(size, _link->writeLimit);
    }
    _link->record(ScriptedLink::Event::Write, count, bytes);
    if (_link->_open)
        _link->afterSend(bytes);
    return count;
}

int ScriptedPort::get()
{
    if (!_link->_open || _link->readError)
    {
        _link->record(ScriptedLink::Event::Get, -1);
        return -1;
    }
    long at = _link->_nowMs;
    int timeoutMs = _link->_timeoutMs;
    int b = _link->take();
    _link->_events.push_back(ScriptedLink::Event{ScriptedLink::Event::Get, b,
                                                 b < 0 ? Bytes() : Bytes{uint8_t(b)}, timeoutMs,
                                                 at});
    return b;
}

int ScriptedPort::put(int c)
{
    uint8_t b = static_cast<uint8_t>(c & 0xFF);
    _link->record(ScriptedLink::Event::Put, _link->_open ? b : -1, Bytes{b});
    if (!_link->_open)
        return -1;
    _link->afterSend(Bytes{b});
    return b;
}

bool ScriptedPort::timeout(int millisecs)
{
    _link->record(ScriptedLink::Event::Timeout, millisecs);
    if (!_link->_open)
        return false;
    _link->_timeoutMs = millisecs;
    return true;
}

void ScriptedPort::flush()
{
    _link->record(ScriptedLink::Event::Flush, 0);
}
