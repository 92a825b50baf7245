#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The lexing of JSON text held in memory and followed by at least Padding zero bytes: one set
// of helpers for the reader that checks a document and for the walks that find its values
// again once it has been accepted.
namespace Zazizi {

class DocumentStore;

namespace Json {

// Zero bytes after the text's last byte: they end every scan without bounds checks and make
// 16-byte loads near the end safe.
constexpr std::ptrdiff_t Padding = 64;

inline bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline const char *skipSpace(const char *p)
{
    while (isSpace(*p))
        ++p;
    return p;
}

// The first byte at or after s that ends a plain run inside a string: a quote, a backslash,
// a control byte or a non-ASCII byte. The zero padding stops the scan.
inline const char *findSpecial(const char *s)
{
#ifdef __SSE2__
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    for (;; s += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
        // A signed compare catches control bytes and, as negative values, non-ASCII bytes.
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)),
                         _mm_cmplt_epi8(v, space));
        const int mask = _mm_movemask_epi8(hit);
        if (mask)
            return s + __builtin_ctz(unsigned(mask));
    }
#else
    for (;; ++s) {
        const auto c = static_cast<unsigned char>(*s);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80)
            return s;
    }
#endif
}

// The value of a hexadecimal digit, or -1.
inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The UTF-16 unit of the four hexadecimal digits at s, or -1.
int hex4(const char *s);

// Length of the well-formed UTF-8 sequence at p (overlong forms, surrogates and code points
// above U+10FFFF refused), or 0. Reads at most 4 bytes, which the padding allows.
int utf8SequenceLength(const char *p);

// Scans the number at p by JSON's grammar: true with p just after it, or false with p at the
// first byte that breaks the grammar. `integral`: no fraction and no exponent.
bool scanNumber(const char *&p, bool &integral);

// The integer written (by the grammar above, without fraction or exponent) from `begin` to
// `end`; false when it does not fit in 32 bits.
bool toInt32(const char *begin, const char *end, int &out);

// Decodes the escape sequence at s (a backslash) into UTF-16 at w and returns the byte after
// it. Only for escapes the reader has accepted.
const char *decodeEscape(const char *s, char16_t *&w);

// The text of the string that opens at `quote`, exactly as the document has it. Only for
// strings the reader has accepted: the reader itself on a string it has just checked, and
// Value below.
QString decodeString(const char *quote);

// Just after the closing quote of an accepted string that opens at `quote`.
inline const char *stringEnd(const char *quote)
{
    const char *s = quote + 1;
    for (;;) {
#ifdef __SSE2__
        const __m128i quoteByte = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        int mask;
        for (;; s += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
            mask = _mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(v, quoteByte), _mm_cmpeq_epi8(v, backslash)));
            if (mask)
                break;
        }
        s += __builtin_ctz(unsigned(mask));
#else
        while (*s != '"' && *s != '\\')
            ++s;
#endif
        if (*s == '"')
            return s + 1;
        s += 2; // the escaped character is never the closing quote
    }
}

// A value of a document that the reader has accepted. The walks below trust its bytes to be
// whole JSON with well-formed strings, which the reader has checked; only the document's store
// hands values out, at the places the reader recorded, and a value hands out its own members
// and elements.
class Value
{
public:
    // The value's first byte: '"', '{', '[', 't', 'f', 'n', '-' or a digit.
    char kind() const { return *m_at; }
    const char *begin() const { return m_at; }
    // Just after the value.
    const char *end() const;

    QString toString() const { return decodeString(m_at); }
    bool isTrue() const { return *m_at == 't'; }
    int toInt() const;

    // Calls member(name, value) for each member of this object in order, with the name as
    // the document has it between the quotes.
    template <typename F>
    void forEachMember(F &&member) const
    {
        const char *p = skipSpace(m_at + 1);
        while (*p == '"') {
            const char *nameEnd = stringEnd(p);
            const Value value(skipSpace(skipSpace(nameEnd) + 1));
            member(std::string_view(p + 1, std::size_t(nameEnd - p - 2)), value);
            p = skipSpace(value.end());
            if (*p == ',')
                p = skipSpace(p + 1);
        }
    }

    // Calls element(value) for each element of this array in order.
    template <typename F>
    void forEachElement(F &&element) const
    {
        const char *p = skipSpace(m_at + 1);
        while (*p != ']') {
            const Value value(p);
            element(value);
            p = skipSpace(value.end());
            if (*p == ',')
                p = skipSpace(p + 1);
        }
    }

private:
    friend class Zazizi::DocumentStore;
    explicit Value(const char *at) : m_at(at) {}

    const char *m_at;
};

} // namespace Json
} // namespace Zazizi
