#include "FakeSmtpServer.h"
#include <arpa/inet.h>
#include <netinet/in.h>
#ifdef ZYR_WITH_OPENSSL
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#else
struct SSL; // never made without a TLS library
#endif
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

#ifdef ZYR_WITH_OPENSSL
// A throw-away self-signed certificate for the server side of STARTTLS.
SSL_CTX *ServerContext()
{
    static SSL_CTX *ctx = [] {
        SSL_CTX *c = SSL_CTX_new(TLS_server_method());
        EVP_PKEY *key = EVP_EC_gen("P-256");
        X509 *cert = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(
            name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("localhost"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_sign(cert, key, EVP_sha256());
        SSL_CTX_use_certificate(c, cert);
        SSL_CTX_use_PrivateKey(c, key);
        X509_free(cert);
        EVP_PKEY_free(key);
        return c;
    }();
    return ctx;
}
#endif

struct TConn
{
    int fd;
    SSL *ssl = nullptr;
    std::string buffer;
    bool closed = false;

    bool Write(const std::string &s)
    {
#ifdef ZYR_WITH_OPENSSL
        if (ssl)
            return SSL_write(ssl, s.data(), int(s.size())) > 0;
#endif
        return ::send(fd, s.data(), s.size(), MSG_NOSIGNAL) == ssize_t(s.size());
    }
    // One line without CR LF; false when the client closed or 10 s passed.
    bool ReadLine(std::string &line)
    {
        while (true) {
            const size_t pos = buffer.find("\r\n");
            if (pos != std::string::npos) {
                line = buffer.substr(0, pos);
                buffer.erase(0, pos + 2);
                return true;
            }
            if (closed)
                return false;
            char chunk[4096];
            int n;
#ifdef ZYR_WITH_OPENSSL
            if (!ssl || SSL_pending(ssl) == 0) {
                pollfd p{fd, POLLIN, 0};
                if (::poll(&p, 1, 10000) <= 0)
                    return false;
            }
            n = ssl ? SSL_read(ssl, chunk, sizeof chunk) : int(::recv(fd, chunk, sizeof chunk, 0));
#else
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                return false;
            n = int(::recv(fd, chunk, sizeof chunk, 0));
#endif
            if (n <= 0) {
                closed = true;
                continue;
            }
            buffer.append(chunk, size_t(n));
        }
    }
};

} // namespace

TFakeSmtpServer::TFakeSmtpServer(std::vector<std::vector<std::string>> s)
    : scripts(std::move(s))
{
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(listener, 8);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
    port = ntohs(a.sin_port);
    received.resize(scripts.size());
    thread = std::thread([this] { Run(); });
}

TFakeSmtpServer::~TFakeSmtpServer()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
    ::close(listener);
}

void TFakeSmtpServer::Run()
{
    for (size_t i = 0; i < scripts.size(); ++i) {
        int fd = -1;
        while (!stopping) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
                break;
            }
        }
        if (fd < 0)
            return;
        Serve(fd, scripts[i], received[i]);
        ::close(fd);
    }
}

void TFakeSmtpServer::Serve(int fd, const std::vector<std::string> &script, std::vector<std::string> &lines)
{
    TConn c{fd};
    auto fail = [&](const std::string &why) {
        std::lock_guard<std::mutex> g(lock);
        errors += why + "\n";
    };
    for (const std::string &step : script) {
        std::string line;
        if (step.rfind("S:", 0) == 0) {
            if (!c.Write(step.substr(2)))
                fail("send failed: " + step);
        } else if (step == "R") {
            if (!c.ReadLine(line)) {
                fail("no command line");
                break;
            }
            std::lock_guard<std::mutex> g(lock);
            lines.push_back(line);
        } else if (step == "D") {
            do {
                if (!c.ReadLine(line)) {
                    fail("message cut short");
                    break;
                }
                std::lock_guard<std::mutex> g(lock);
                lines.push_back(line);
            } while (line != ".");
        } else if (step == "W") {
            while (c.ReadLine(line)) {
                std::lock_guard<std::mutex> g(lock);
                lines.push_back(line);
            }
        } else if (step == "TLS") {
#ifdef ZYR_WITH_OPENSSL
            c.ssl = SSL_new(ServerContext());
            SSL_set_fd(c.ssl, fd);
            if (SSL_accept(c.ssl) <= 0) {
                fail("handshake failed");
                break;
            }
#else
            fail("built without a TLS library");
            break;
#endif
        } else if (step == "RST") {
            // Closed with a reset: what the client sends next, or waits for, fails at once.
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            break;
        } else if (step.rfind("P:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.substr(2))));
        }
    }
#ifdef ZYR_WITH_OPENSSL
    if (c.ssl) {
        SSL_shutdown(c.ssl);
        SSL_free(c.ssl);
    }
#endif
}

std::vector<std::vector<std::string>> TFakeSmtpServer::Received()
{
    if (thread.joinable())
        thread.join();
    return received;
}

std::string TFakeSmtpServer::Errors()
{
    std::lock_guard<std::mutex> g(lock);
    return errors;
}
