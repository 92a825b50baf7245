#include "jsonlexer_p.h"

#include "members_p.h"

#include <QLatin1String>

#include <climits>

namespace Zazizi::Json {

int hex4(const char *s)
{
    int value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexValue(s[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

int utf8SequenceLength(const char *p)
{
    const auto *s = reinterpret_cast<const unsigned char *>(p);
    const auto continuation = [](unsigned char c) { return (c & 0xc0) == 0x80; };
    const unsigned char c0 = s[0];
    if (c0 < 0x80)
        return 1;
    if (c0 < 0xc2)
        return 0;
    if (c0 < 0xe0)
        return continuation(s[1]) ? 2 : 0;
    if (c0 < 0xf0) {
        if (!continuation(s[1]) || !continuation(s[2]))
            return 0;
        if ((c0 == 0xe0 && s[1] < 0xa0) || (c0 == 0xed && s[1] > 0x9f))
            return 0;
        return 3;
    }
    if (c0 < 0xf5) {
        if (!continuation(s[1]) || !continuation(s[2]) || !continuation(s[3]))
            return 0;
        if ((c0 == 0xf0 && s[1] < 0x90) || (c0 == 0xf4 && s[1] > 0x8f))
            return 0;
        return 4;
    }
    return 0;
}

bool scanNumber(const char *&p, bool &integral)
{
    const char *s = p;
    integral = true;
    if (*s == '-')
        ++s;
    if (*s == '0') {
        ++s;
    } else if (*s >= '1' && *s <= '9') {
        while (isDigit(*s))
            ++s;
    } else {
        p = s;
        return false;
    }
    if (*s == '.') {
        ++s;
        if (!isDigit(*s)) {
            p = s;
            return false;
        }
        while (isDigit(*s))
            ++s;
        integral = false;
    }
    if (*s == 'e' || *s == 'E') {
        ++s;
        if (*s == '+' || *s == '-')
            ++s;
        if (!isDigit(*s)) {
            p = s;
            return false;
        }
        while (isDigit(*s))
            ++s;
        integral = false;
    }
    p = s;
    return true;
}

bool toInt32(const char *begin, const char *end, int &out)
{
    const bool negative = *begin == '-';
    long long value = 0;
    for (const char *s = negative ? begin + 1 : begin; s < end; ++s) {
        value = value * 10 + (*s - '0');
        if (value > 2147483648LL)
            return false;
    }
    if (!negative && value > INT_MAX)
        return false;
    out = int(negative ? -value : value);
    return true;
}

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
    case 'u':
        // A surrogate pair is two escapes, each one UTF-16 unit of it.
        *w++ = char16_t(hex4(s + 2));
        return s + 6;
    default: // '"', '\\' and '/' stand for themselves
        *w++ = char16_t(static_cast<unsigned char>(s[1]));
        return s + 2;
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
    const char *const end = stringEnd(quote) - 1;
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

std::size_t escapedNameIndex(std::string_view name, const std::string_view *names,
                             std::size_t count)
{
    // A name written with escapes is still that name.
    const QString decoded = decodeString(name.data() - 1);
    for (std::size_t i = 0; i < count; ++i) {
        if (decoded == QLatin1String(names[i].data(), qsizetype(names[i].size())))
            return i;
    }
    return count;
}

const char *Value::end() const
{
    const char *p = m_at;
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
    default: {
        bool integral;
        scanNumber(p, integral);
        return p;
    }
    }
}

int Value::toInt() const
{
    const char *end = m_at;
    bool integral;
    scanNumber(end, integral);
    int value = 0;
    toInt32(m_at, end, value);
    return value;
}

} // namespace Zazizi::Json
