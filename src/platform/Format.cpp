#include "Format.h"

namespace zyr::detail {

QString FormatRuntime(std::string_view fmt, const QString *texts, const long long *ints, size_t count)
{
    QByteArray out;
    out.reserve(qsizetype(fmt.size()) + 32);
    size_t arg = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        const char c = fmt[i];
        if (c != '%' || i + 1 >= fmt.size()) {
            out.append(c);
            continue;
        }
        const char spec = fmt[++i];
        if (spec == '%') {
            out.append('%');
        } else if (arg < count) {
            out.append(spec == 'd' ? QByteArray::number(ints[arg]) : texts[arg].toUtf8());
            ++arg;
        }
    }
    return QString::fromUtf8(out);
}

} // namespace zyr::detail
