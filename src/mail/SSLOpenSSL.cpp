#include "mail/SSLOpenSSL.h"
#include <climits>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>

namespace {

// OpenSSL writes to the socket without MSG_NOSIGNAL: a peer that has gone away would raise SIGPIPE and
// end the program. Blocked for the call, and a SIGPIPE it caused is taken off again.
class TNoSigPipe
{
public:
    TNoSigPipe()
    {
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old);
    }
    ~TNoSigPipe()
    {
        if (!wasPending) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec zero{};
                sigtimedwait(&pipe, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    TNoSigPipe(const TNoSigPipe &) = delete;
    TNoSigPipe &operator=(const TNoSigPipe &) = delete;

private:
    sigset_t pipe;
    sigset_t old;
    bool wasPending = false;
};

} // namespace

TSSLOpenSSL::TSSLOpenSSL()
{
    // The library's own clean-up at exit must come after a long-lived connection has closed.
    OPENSSL_init_ssl(0, nullptr);
}

TSSLOpenSSL::~TSSLOpenSSL()
{
    Shutdown();
}

void TSSLOpenSSL::Shutdown()
{
    if (ssl) {
        if (active) {
            TNoSigPipe guard;
            SSL_shutdown(ssl); // one close_notify; the peer's answer is not awaited
        }
        SSL_free(ssl);
    }
    if (ctx)
        SSL_CTX_free(ctx);
    ssl = nullptr;
    ctx = nullptr;
    active = false;
    ERR_clear_error();
}

bool TSSLOpenSSL::Begin(int fd)
{
    Shutdown();
    ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        return false;
    SSL_CTX_set_cipher_list(ctx, "DEFAULT");
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    ssl = SSL_new(ctx);
    if (!ssl || SSL_set_fd(ssl, fd) != 1) {
        Shutdown();
        return false;
    }
    return true;
}

TSSLBase::TState TSSLOpenSSL::Handshake()
{
    if (!ssl)
        return TState::Failed;
    TNoSigPipe guard;
    const int r = SSL_connect(ssl);
    active = r > 0;
    return Result(r).State;
}

TSSLBase::TIo TSSLOpenSSL::Result(int r)
{
    if (r > 0)
        return {r, TState::Done};
    switch (SSL_get_error(ssl, r)) {
    case SSL_ERROR_WANT_READ:
        return {0, TState::WantRead};
    case SSL_ERROR_WANT_WRITE:
        return {0, TState::WantWrite};
    case SSL_ERROR_ZERO_RETURN:
        return {0, TState::Closed};
    default:
        ERR_clear_error();
        return {0, TState::Failed};
    }
}

TSSLBase::TIo TSSLOpenSSL::Send(const char *data, qsizetype size)
{
    if (!active)
        return {};
    TNoSigPipe guard;
    return Result(SSL_write(ssl, data, int(std::min<qsizetype>(size, INT_MAX))));
}

TSSLBase::TIo TSSLOpenSSL::Recv(char *data, qsizetype size)
{
    if (!active)
        return {};
    TNoSigPipe guard; // a read may answer a renegotiation
    return Result(SSL_read(ssl, data, int(std::min<qsizetype>(size, INT_MAX))));
}

bool TSSLOpenSSL::Pending() const
{
    return active && SSL_pending(ssl) > 0;
}
