#pragma once
// Loopback listeners for tests: on an address of 127.0.0.0/8 picked at random and a port the kernel
// picks, so tests running side by side on one machine do not meet.
#include <cstdint>
#include <string>
#include <vector>

// An address in 127.2.0.1 to 127.199.255.254: clear of 127.0.x.x (host name entries) and of the
// simulator's own picks for "auto" systems (127.200 and up).
std::string RandomLoopbackHost();

// A port that was free on Host a moment ago (nothing listens there now).
int FreePort(const std::string &Host = "127.0.0.1");

// A listening TCP socket. Connections wait in its accept queue unless the test accepts them, so a
// listener that is never accepted from is a server that takes connections and never answers.
class TLoopbackListener
{
public:
    // On a random loopback address (a few tries) with a port of the kernel's choice.
    explicit TLoopbackListener(int Backlog = 16);
    // On Host and Port (0: the kernel's choice).
    TLoopbackListener(const std::string &Host, uint16_t Port, int Backlog = 16);
    ~TLoopbackListener();
    TLoopbackListener(const TLoopbackListener &) = delete;
    TLoopbackListener &operator=(const TLoopbackListener &) = delete;

    bool Listening() const { return port != 0; }
    const std::string &Host() const { return host; }
    uint16_t Port() const { return port; }
    // "host:port", as a record's address or a command line names it.
    std::string Target() const { return host + ":" + std::to_string(port); }
    int Fd() const { return fd; }
    // Every connection that is waiting, accepted and closed at once; how many there were.
    int AcceptAndCloseWaiting();
    void Close();

private:
    bool Listen(const std::string &Host, uint16_t Port, int Backlog);

    int fd = -1;
    std::string host;
    uint16_t port = 0;
};

// A loopback listener whose accept queue is full, so a further connect is never answered: the only
// way to meet a connect time limit without leaving the machine.
class TFullListener
{
public:
    // Port 0: the kernel's choice.
    explicit TFullListener(const std::string &Host = "127.0.0.1", uint16_t Port = 0);
    ~TFullListener();
    TFullListener(const TFullListener &) = delete;
    TFullListener &operator=(const TFullListener &) = delete;

    // The queue is full: a connect was seen not to complete.
    bool Ready() const { return ready; }
    const std::string &Host() const { return listener.Host(); }
    uint16_t Port() const { return listener.Port(); }
    std::string Target() const { return listener.Target(); }
    // Ends the filling connections and takes every waiting one, so that a connect held back gets through
    // at its next try. Called again, takes the later ones too.
    void Drain();

private:
    TLoopbackListener listener;
    std::vector<int> clients;
    bool ready = false;
};
