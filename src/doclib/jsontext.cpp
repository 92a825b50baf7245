#include "jsontext_p.h"

#include <QLatin1String>

#include <cstring>

namespace Zazizi::Json {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

} // namespace

const char *decodeEscape(const char *s, char16_t *&w)
{
    switch (s[1]) {
    case 'b':
        *w++ = u'\b';
        return s + 2;
    case 'f':
        *w++ = u'\f';
        return s + 2;
    case 'n':
        *w++ = u'\n';
        return s + 2;
    case 'r':
        *w++ = u'\r';
        return s + 2;
    case 't':
        *w++ = u'\t';
        return s + 2;
    case 'u': {
        // A surrogate pair is two escapes, each one UTF-16 unit of it.
        char16_t unit = 0;
        for (int i = 2; i < 6; ++i)
            unit = char16_t(unit * 16 + hexValue(s[i]));
        *w++ = unit;
        return s + 6;
    }
    default: // '"', '\\' and '/' stand for themselves
        *w++ = char16_t(static_cast<unsigned char>(s[1]));
        return s + 2;
    }
}

int escapedMemberIndex(std::string_view name, const std::string_view *names, std::size_t count)
{
    // A name written with escapes is still that name.
    const QString decoded = decodeString(name.data() - 1);
    for (std::size_t i = 0; i < count; ++i) {
        if (decoded == QLatin1String(names[i].data(), qsizetype(names[i].size())))
            return int(i);
    }
    return -1;
}

const char *skipValue(const char *p)
{
    switch (*p) {
    case '"':
        return stringEnd(p);
    case '{':
    case '[': {
        int depth = 0;
        for (;;) {
            const char c = *p;
            if (c == '"') {
                p = stringEnd(p);
                continue;
            }
            if (c == '{' || c == '[') {
                ++depth;
            } else if (c == '}' || c == ']') {
                if (--depth == 0)
                    return p + 1;
            }
            ++p;
        }
    }
    case 't':
    case 'n':
        return p + 4;
    case 'f':
        return p + 5;
    default:
        ++p;
        while (isDigit(*p) || *p == '.' || *p == 'e' || *p == 'E' || *p == '+' || *p == '-')
            ++p;
        return p;
    }
}

QString decodeString(const char *quote)
{
    const char *s = quote + 1;
    const char *special = findSpecial(s);
    if (*special == '"')
        return QString::fromLatin1(s, qsizetype(special - s));

    // Decoded here rather than by QString::fromUtf8, which drops a byte-order mark at the
    // start of a text; the document's texts are kept exactly as written.
    const char *const end = closingQuote(special);
    QString text(qsizetype(end - s), Qt::Uninitialized);
    char16_t *const begin = reinterpret_cast<char16_t *>(text.data());
    char16_t *w = begin;
    for (const char *p = s; p < special; ++p)
        *w++ = char16_t(*p);
    for (const char *p = special; p < end;) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '\\') {
            p = decodeEscape(p, w);
            continue;
        }
        const auto *u = reinterpret_cast<const unsigned char *>(p);
        if (c < 0x80) {
            *w++ = char16_t(c);
            p += 1;
        } else if (c < 0xe0) {
            *w++ = char16_t(((c & 0x1f) << 6) | (u[1] & 0x3f));
            p += 2;
        } else if (c < 0xf0) {
            *w++ = char16_t(((c & 0x0f) << 12) | ((u[1] & 0x3f) << 6) | (u[2] & 0x3f));
            p += 3;
        } else {
            const char32_t cp = ((c & 0x07u) << 18) | ((u[1] & 0x3fu) << 12) |
                                ((u[2] & 0x3fu) << 6) | (u[3] & 0x3fu);
            *w++ = char16_t(0xd800 + ((cp - 0x10000) >> 10));
            *w++ = char16_t(0xdc00 + ((cp - 0x10000) & 0x3ff));
            p += 4;
        }
    }
    const qsizetype length = qsizetype(w - begin);
    text.truncate(length);
    // Escapes make the text far shorter than its bytes; callers may keep it.
    if (length < text.capacity() / 2)
        text.squeeze();
    return text;
}

int readInt(const char *&p)
{
    const bool negative = *p == '-';
    if (negative)
        ++p;
    long long value = 0;
    while (isDigit(*p))
        value = value * 10 + (*p++ - '0');
    return int(negative ? -value : value);
}

} // namespace Zazizi::Json
