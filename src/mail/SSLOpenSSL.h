#pragma once
#include "platform/Socket.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// TLS client without certificate verification and without server name indication: mail servers of
// the sites this console serves often carry self-made certificates.
class TSSLOpenSSL : public TSSLBase
{
public:
    TSSLOpenSSL();
    ~TSSLOpenSSL() override;
    bool Begin(int fd) override;
    TState Handshake() override;
    void Shutdown() override;
    bool Active() const override { return active; }
    TIo Send(const char *data, qsizetype size) override;
    TIo Recv(char *data, qsizetype size) override;
    bool Pending() const override;

private:
    TIo Result(int r);

    SSL_CTX *ctx = nullptr;
    SSL *ssl = nullptr;
    bool active = false;
};
