#pragma once
// Plain POSIX peers on 127.0.0.1 for the socket tests and benchmarks: a
// listening socket on a port chosen by the kernel, and blocking connected
// sockets that send, read, close and reset.  This header names no POSIX
// type, so it can sit beside platform/sockets/Winsock.h in one test file.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testpeer {

class Conn {
  public:
    explicit Conn(int fd = -1) : fd_(fd) {}
    ~Conn();
    Conn(Conn&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Conn& operator=(Conn&& other) noexcept;
    Conn(const Conn&) = delete;
    Conn& operator=(const Conn&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    // Sends every byte (blocking); false when the connection broke.
    bool Send(std::string_view data);
    bool SendUrgent(char byte);
    void ShutdownWrite();
    void Close();
    // Closes with a reset (SO_LINGER {1, 0}).
    void Reset();
    // What arrives within the time: waits for the first byte, then takes
    // what follows without a pause of more than pauseMs.
    std::string Read(int timeoutMs, int pauseMs = 50);
    // Waits until at least `bytes` have arrived (or the end of the stream,
    // or the time), then also takes what is already there, without a pause.
    std::string ReadAtLeast(std::size_t bytes, int timeoutMs);
    // Reads until the end of the stream (or a reset, or the time-out).
    std::string ReadUntilClose(int timeoutMs, bool* reset = nullptr);
    // True when the peer's end arrives within the time (EOF or reset).
    bool WaitClosed(int timeoutMs);
    void SetReceiveBuffer(int bytes);

  private:
    int fd_;
};

class Listener {
  public:
    explicit Listener(int backlog = 16);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::uint16_t Port() const { return port_; }
    // The next incoming connection, or an invalid Conn after the time.
    Conn Accept(int timeoutMs = 5000);
    // Makes further connects hang: with a backlog of 0, connects until the
    // kernel's accept queue is full, adds one connect that gets no answer,
    // and keeps those connections.
    void FillAcceptQueue();
    void Close();

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::vector<Conn> fillers_;
};

// A blocking connection to 127.0.0.1:port (invalid when refused).
Conn ConnectTo(std::uint16_t port);
// A port on 127.0.0.1 that nobody listens on right now.
std::uint16_t UnusedPort();
// CPU seconds this process has used so far (user + system).
double ProcessCpuSeconds();

}  // namespace testpeer
