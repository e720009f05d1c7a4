#pragma once
// The exporter reads each request head itself before the HTTP library sees it: handed a request, the library
// waits for whatever body the head announces and answers ranges, whoever asks.
#include <cstddef>
#include <string>

// Bytes of the head at the start of Data, through the blank line that ends it; 0 while it is incomplete.
size_t HeadLength(const char *Data, size_t Size);

struct TRequestHead
{
    std::string Method, Target, Version;
    bool Malformed = false; // not a request line and header lines as HTTP/1.x has them
    bool TransferEncoding = false; // any Transfer-Encoding header
    bool Body = false; // a Content-Length above 0
    // What the library is given: the request line and only the headers the exporter answers by (Connection,
    // Accept-Encoding, X-Prometheus-Scrape-Timeout-Seconds). Range and the rest are dropped unread.
    std::string Forwarded;

    std::string Path() const { return Target.substr(0, Target.find('?')); }
    std::string Query() const
    {
        const size_t mark = Target.find('?');
        return mark == std::string::npos ? std::string() : Target.substr(mark + 1);
    }
};

// Reads a complete head of Size (HeadLength) bytes.
TRequestHead ReadRequestHead(const char *Data, size_t Size);
