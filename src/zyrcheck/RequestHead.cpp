#include "zyrcheck/RequestHead.h"

#include <cstring>
#include <strings.h>

namespace {

bool IsTokenChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')
        || (c && strchr("!#$%&'*+-.^_`|~", c));
}

bool IsToken(const std::string &Text)
{
    if (Text.empty())
        return false;
    for (const char c : Text)
        if (!IsTokenChar((unsigned char)c))
            return false;
    return true;
}

bool IsFieldValue(const std::string &Text)
{
    for (const char c : Text)
        if (((unsigned char)c < 0x20 && c != '\t') || c == 0x7F)
            return false;
    return true;
}

bool Named(const std::string &Name, const char *Expected)
{
    return strcasecmp(Name.c_str(), Expected) == 0;
}

} // namespace

size_t HeadLength(const char *Data, size_t Size)
{
    // The blank line: a line feed, perhaps a carriage return, and a line feed.
    for (const char *at = static_cast<const char *>(memchr(Data, '\n', Size)); at;) {
        const char *next = at + 1;
        if (next < Data + Size && *next == '\r')
            ++next;
        if (next < Data + Size && *next == '\n')
            return size_t(next + 1 - Data);
        at = static_cast<const char *>(memchr(at + 1, '\n', size_t(Data + Size - at - 1)));
    }
    return 0;
}

TRequestHead ReadRequestHead(const char *Data, size_t Size)
{
    TRequestHead head;
    std::string kept;
    bool first = true;
    for (size_t start = 0; start < Size;) {
        const char *feed = static_cast<const char *>(memchr(Data + start, '\n', Size - start));
        if (!feed) {
            head.Malformed = true;
            break;
        }
        size_t end = size_t(feed - Data);
        const size_t next = end + 1;
        if (end > start && Data[end - 1] == '\r')
            --end;
        const std::string line(Data + start, end - start);
        start = next;
        if (line.empty())
            break; // the blank line ends the head
        if (line.find('\r') != std::string::npos) {
            head.Malformed = true;
            break;
        }
        if (first) {
            first = false;
            const size_t a = line.find(' '), b = a == std::string::npos ? a : line.find(' ', a + 1);
            if (b == std::string::npos || line.find(' ', b + 1) != std::string::npos) {
                head.Malformed = true;
                break;
            }
            head.Method = line.substr(0, a);
            head.Target = line.substr(a + 1, b - a - 1);
            head.Version = line.substr(b + 1);
            // A path, or "*" (OPTIONS), which is refused as a method later.
            bool visible = head.Target == "*" || (!head.Target.empty() && head.Target[0] == '/');
            for (const char c : head.Target)
                visible = visible && (unsigned char)c > 0x20 && (unsigned char)c < 0x7F;
            if (!IsToken(head.Method) || !visible
                || (head.Version != "HTTP/1.1" && head.Version != "HTTP/1.0")) {
                head.Malformed = true;
                break;
            }
            continue;
        }
        // No white space before the colon, none starting the line (folding): both are refused, not guessed.
        const size_t colon = line.find(':');
        const std::string name = colon == std::string::npos ? std::string() : line.substr(0, colon);
        if (!IsToken(name)) {
            head.Malformed = true;
            break;
        }
        size_t from = colon + 1, to = line.size();
        while (from < to && (line[from] == ' ' || line[from] == '\t'))
            ++from;
        while (to > from && (line[to - 1] == ' ' || line[to - 1] == '\t'))
            --to;
        const std::string value = line.substr(from, to - from);
        if (!IsFieldValue(value)) {
            head.Malformed = true;
            break;
        }
        if (Named(name, "Transfer-Encoding")) {
            head.TransferEncoding = true;
        } else if (Named(name, "Content-Length")) {
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
                head.Malformed = true;
                break;
            }
            head.Body = head.Body || value.find_first_not_of('0') != std::string::npos;
        } else if (Named(name, "Connection") || Named(name, "Accept-Encoding")
            || Named(name, "X-Prometheus-Scrape-Timeout-Seconds")) {
            kept += name + ": " + value + "\r\n";
        }
    }
    if (first)
        head.Malformed = true;
    if (!head.Malformed)
        head.Forwarded = head.Method + " " + head.Target + " " + head.Version + "\r\n" + kept + "\r\n";
    return head;
}
