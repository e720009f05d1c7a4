#pragma once
// printf-like formatting with %s (text) and %d (integer), checked at compile time: a format that
// does not match its arguments does not compile.
#include <concepts>
#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>
#include <type_traits>

namespace zyr::detail {

template <typename T>
concept TextArg
    = std::is_convertible_v<const T &, QString> || std::is_convertible_v<const T &, std::string_view>;
template <typename T>
concept IntArg = std::integral<std::remove_cvref_t<T>> && !std::same_as<std::remove_cvref_t<T>,
                     bool> && !std::same_as<std::remove_cvref_t<T>, char>;

void FormatMismatch(); // never defined: reaching it in a constant evaluation is the compile error

template <typename... Args> consteval void CheckFormat(std::string_view fmt)
{
    constexpr bool isText[] = {TextArg<Args>..., false};
    constexpr bool isInt[] = {IntArg<Args>..., false};
    size_t arg = 0;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%')
            continue;
        if (i + 1 >= fmt.size())
            FormatMismatch();
        const char c = fmt[++i];
        if (c == '%')
            continue;
        if (arg >= sizeof...(Args))
            FormatMismatch();
        if ((c == 's' && !isText[arg]) || (c == 'd' && !isInt[arg]) || (c != 's' && c != 'd'))
            FormatMismatch();
        ++arg;
    }
    if (arg != sizeof...(Args))
        FormatMismatch();
}

inline QString ToText(const QString &s)
{
    return s;
}
inline QString ToText(const char *s)
{
    return QString::fromUtf8(s);
}
inline QString ToText(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
inline QString ToText(const QByteArray &s)
{
    return QString::fromUtf8(s);
}

QString FormatRuntime(std::string_view fmt, const QString *texts, const long long *ints, size_t count);

} // namespace zyr::detail

template <typename... Args> struct TFormatString
{
    std::string_view text;
    template <typename S>
    requires std::is_convertible_v<const S &, std::string_view>
    consteval TFormatString(const S &s)
        : text(s)
    {
        zyr::detail::CheckFormat<Args...>(text);
    }
};

template <typename... Args>
QString Format(TFormatString<std::type_identity_t<Args>...> fmt, const Args &...args)
{
    QString texts[sizeof...(Args) + 1];
    long long ints[sizeof...(Args) + 1] = {};
    size_t i = 0;
    [[maybe_unused]] auto store = [&](const auto &a) {
        using A = std::remove_cvref_t<decltype(a)>;
        if constexpr (zyr::detail::IntArg<A>)
            ints[i] = static_cast<long long>(a);
        else
            texts[i] = zyr::detail::ToText(a);
        ++i;
    };
    (store(args), ...);
    return zyr::detail::FormatRuntime(fmt.text, texts, ints, sizeof...(Args));
}
