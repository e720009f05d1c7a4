#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A scripted SMTP server on a loopback port. Each accepted connection runs the next script; a script
// is a list of steps:
//   "S:text"  send text as it stands (the script writes its own CR LF)
//   "R"       read one command line and record it
//   "D"       read message lines up to the lone "." and record them (the "." too)
//   "TLS"     run the server side of a TLS handshake
//   "W"       record lines until the client closes the connection
//   "P:ms"    pause
//   "RST"     end the script and close the connection with a reset
class TFakeSmtpServer
{
public:
    explicit TFakeSmtpServer(std::vector<std::vector<std::string>> scripts);
    ~TFakeSmtpServer();
    int Port() const { return port; }
    // Waits for every script to finish, then gives the recorded client lines (per connection).
    std::vector<std::vector<std::string>> Received();
    // Problems seen by the server (a step that could not run).
    std::string Errors();

private:
    void Run();
    void Serve(int fd, const std::vector<std::string> &script, std::vector<std::string> &lines);

    std::vector<std::vector<std::string>> scripts;
    std::vector<std::vector<std::string>> received;
    std::string errors;
    std::mutex lock;
    int listener = -1;
    int port = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;
};
