#include "platform/ItemParser.h"

TItemParser::TItemParser(const QString &Text, QChar Separator)
    : text(Text)
    , length(Text.size())
    , separator(Separator)
{
}

QString TItemParser::NextItem()
{
    depth = 0;
    QChar quote; // null: no quoted stretch open
    const QChar groupOpen(5), groupClose(6);
    qsizetype i = position;
    while (i < length) {
        const QChar c = text[i];
        if (c == separator && quote.isNull() && depth == 0)
            break;
        if (quote.isNull()) {
            if (c == u'\'' || c == u'"')
                quote = c;
        } else if (c == quote) {
            quote = QChar();
        }
        if (quote.isNull()) {
            QChar closer;
            if (c == u'[')
                closer = u']';
            else if (c == u'{')
                closer = u'}';
            else if (c == groupOpen)
                closer = groupClose;
            if (!closer.isNull()) {
                if (depth < MaxDepth)
                    closers[depth++] = closer;
            } else if (depth > 0 && c == closers[depth - 1]) {
                --depth;
            }
        }
        ++i;
    }
    const QString item = text.mid(position, i - position);
    position = i + 1;
    return item;
}

QString TItemParser::NextGroup()
{
    const QString item = NextItem();
    if (item.size() < 2)
        return item;
    return item.mid(1, item.size() - 2);
}

int32_t TItemParser::NextInt(int32_t Default)
{
    return ReadIntegerDef(NextItem(), Default);
}
