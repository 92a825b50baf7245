#pragma once

#include <QString>

#include <cstddef>
#include <cstring>
#include <iterator>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// JSON text of a document held in memory, followed by zero padding. The checks are the
// reader's; the walks below trust a document that passed them and find its values again.
namespace Zazizi::Json {

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
// a control byte or a non-ASCII byte. The zero padding after the document stops the scan.
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

// The closing quote of a checked string, from s inside it.
inline const char *closingQuote(const char *s)
{
    for (;;) {
#ifdef __SSE2__
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        int mask;
        for (;; s += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
            mask = _mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
            if (mask)
                break;
        }
        s += __builtin_ctz(unsigned(mask));
#else
        while (*s != '"' && *s != '\\')
            ++s;
#endif
        if (*s == '"')
            return s;
        s += 2; // the escaped character is never the closing quote
    }
}

// Decodes the escape sequence at s (a backslash) into UTF-16 at w; returns the byte after it.
// Only for escapes the reader has accepted.
const char *decodeEscape(const char *s, char16_t *&w);

// The index of a name written with escapes in `names`, or -1.
int escapedMemberIndex(std::string_view name, const std::string_view *names, std::size_t count);

// The member index of a name in `names`, or -1; `name` is the text between the quotes as the
// document has it, escapes and all. On the path of every member read: the first byte rules
// out most names before a comparison is called.
template <std::size_t N>
int memberIndex(std::string_view name, const std::string_view (&names)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i].size() == name.size() && names[i][0] == name.data()[0] &&
            std::memcmp(names[i].data(), name.data(), name.size()) == 0)
            return int(i);
    }
    return name.find('\\') == std::string_view::npos ? -1 : escapedMemberIndex(name, names, N);
}

// The members of a response, in the order of their indexes.
constexpr std::string_view ResponseMembers[] = {"text", "studentId", "studentName", "label",
                                                "startTime"};

// memberIndex for a response's members, on the path of every response read and every one
// looked into: names of a fixed length compare as a few words.
inline int responseMemberIndex(std::string_view name)
{
    switch (name.size()) {
    case 4:
        if (std::memcmp(name.data(), "text", 4) == 0)
            return 0;
        break;
    case 5:
        if (std::memcmp(name.data(), "label", 5) == 0)
            return 3;
        break;
    case 9:
        if (std::memcmp(name.data(), "studentId", 9) == 0)
            return 1;
        if (std::memcmp(name.data(), "startTime", 9) == 0)
            return 4;
        break;
    case 11:
        if (std::memcmp(name.data(), "studentName", 11) == 0)
            return 2;
        break;
    }
    // Names written with escapes, and unknown ones.
    return name.find('\\') == std::string_view::npos
               ? -1
               : escapedMemberIndex(name, ResponseMembers, std::size(ResponseMembers));
}

// Walks of a checked document.

// Just after the closing quote of the string that opens at `quote`.
inline const char *stringEnd(const char *quote)
{
    return closingQuote(quote + 1) + 1;
}
// Just after the value that starts at p.
const char *skipValue(const char *p);
// The text of the string that opens at `quote`, exactly as the document has it.
QString decodeString(const char *quote);
// The integer at p, and p moved past it.
int readInt(const char *&p);

// Calls member(name, value) for each member of the object at p, with the name as the
// document has it; member returns the end of the value it read, or null to have it skipped.
template <typename F>
void forEachMember(const char *p, F &&member)
{
    p = skipSpace(p + 1);
    while (*p == '"') {
        const char *nameEnd = stringEnd(p);
        const char *value = skipSpace(skipSpace(nameEnd) + 1);
        const char *end = member(std::string_view(p + 1, std::size_t(nameEnd - p - 2)), value);
        p = skipSpace(end ? end : skipValue(value));
        if (*p == ',')
            p = skipSpace(p + 1);
    }
}

// Calls element(value) for each element of the array at p; element returns as member does.
template <typename F>
void forEachElement(const char *p, F &&element)
{
    p = skipSpace(p + 1);
    while (*p != ']') {
        const char *end = element(p);
        p = skipSpace(end ? end : skipValue(p));
        if (*p == ',')
            p = skipSpace(p + 1);
    }
}

} // namespace Zazizi::Json
