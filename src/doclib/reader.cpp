#include "reader_p.h"
#include "store_p.h"

#include <charconv>
#include <climits>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace Zazizi {

namespace {

// Deeper documents are refused: skipping an unknown value recurses once per level, and a
// fixed limit keeps that recursion far from the end of the stack whatever the file holds.
constexpr int MaxDepth = 256;

struct Text
{
    char *data = nullptr;
    std::size_t size = 0;

    std::string_view view() const { return {data, size}; }
};

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Length of the well-formed UTF-8 sequence at s (overlong forms, surrogates and code points
// above U+10FFFF refused), or 0. Reads at most 4 bytes, which the buffer's padding allows.
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

// The first byte at or after s that ends a plain run inside a string: a quote, a backslash,
// a control byte or a non-ASCII byte. The zero padding after the document stops the scan.
char *findSpecial(char *s)
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

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

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

char *writeUtf8(char *w, unsigned cp)
{
    if (cp < 0x80) {
        *w++ = char(cp);
    } else if (cp < 0x800) {
        *w++ = char(0xc0 | (cp >> 6));
        *w++ = char(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        *w++ = char(0xe0 | (cp >> 12));
        *w++ = char(0x80 | ((cp >> 6) & 0x3f));
        *w++ = char(0x80 | (cp & 0x3f));
    } else {
        *w++ = char(0xf0 | (cp >> 18));
        *w++ = char(0x80 | ((cp >> 12) & 0x3f));
        *w++ = char(0x80 | ((cp >> 6) & 0x3f));
        *w++ = char(0x80 | (cp & 0x3f));
    }
    return w;
}

// Whether a number that std::from_chars found out of range is too large (rather than too
// small, which reads as zero). The decimal magnitude is the count of integer digits after
// leading zeros, or minus the zeros that open the fraction, plus the exponent.
bool magnitudeOverflows(const char *s, const char *end)
{
    if (*s == '-')
        ++s;
    long long magnitude = 0;
    bool significant = false;
    while (s < end && isDigit(*s)) {
        if (*s != '0')
            significant = true;
        if (significant)
            ++magnitude;
        ++s;
    }
    if (s < end && *s == '.') {
        ++s;
        while (!significant && s < end && *s == '0') {
            --magnitude;
            ++s;
        }
        while (s < end && isDigit(*s))
            ++s;
    }
    long long exponent = 0;
    if (s < end && (*s == 'e' || *s == 'E')) {
        ++s;
        const bool negative = *s == '-';
        if (*s == '-' || *s == '+')
            ++s;
        while (s < end && isDigit(*s)) {
            if (exponent < 1000000000)
                exponent = exponent * 10 + (*s - '0');
            ++s;
        }
        if (negative)
            exponent = -exponent;
    }
    return magnitude + exponent > 0;
}

template <std::size_t N>
int lookup(const Text &key, const std::string_view (&names)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (key.view() == names[i])
            return int(i);
    }
    return -1;
}

constexpr std::string_view RootMembers[] = {"plexa", "title", "pages", "testInstances"};
constexpr std::string_view PageMembers[] = {"keywords", "test"};
constexpr std::string_view TestMembers[] = {"kind", "class", "title", "startedOn", "questions"};
constexpr std::string_view QuestionMembers[] = {
    "id",      "text",      "type",           "hasCorrectAnswer", "answers",
    "options", "labelType", "textComparison", "tolerance",        "responses"};
constexpr std::string_view OptionMembers[] = {"label", "correct"};
constexpr std::string_view ResponseMembers[] = {"text", "studentId", "studentName", "label",
                                                "startTime"};

enum class TestClass { FromKind, Plain, SelfPaced, InstructorPaced };

} // namespace

// A single-pass reader that checks the JSON grammar and the document's schema together and
// fills the store as it goes. Strings are unescaped in place: the decoded form is never
// longer than the escaped one, so every text stays a span of the buffer.
class DocumentReader
{
public:
    explicit DocumentReader(DocumentStore &store)
        : m_store(store), m_begin(store.data()), m_end(store.data() + store.size()), m_p(m_begin)
    {
        m_place.reserve(16);
    }

    bool read();
    QString error() const { return m_error; }

private:
    // One step of the place named in a reason: a member name, or an array index when
    // name is null.
    struct PlaceItem
    {
        const char *name;
        qsizetype index;
    };

    qsizetype offset(const char *at) const { return at - m_begin; }

    bool fail(const QString &reason)
    {
        m_error = reason;
        return false;
    }
    bool syntaxError(const char *at, const char *what)
    {
        return fail(
            QStringLiteral("invalid JSON at byte %1: %2").arg(offset(at)).arg(QLatin1String(what)));
    }
    bool utf8Error(const char *at)
    {
        return fail(QStringLiteral("invalid UTF-8 at byte %1").arg(offset(at)));
    }
    // A byte that cannot continue the text here: the end of the data, a broken UTF-8
    // sequence, or a byte out of place.
    bool unexpected(const char *at, const char *what)
    {
        if (at >= m_end)
            return syntaxError(m_end, "unexpected end of data");
        if (static_cast<unsigned char>(*at) >= 0x80 && !utf8SequenceLength(at))
            return utf8Error(at);
        return syntaxError(at, what);
    }
    QString place() const;
    bool placeError(const char *what)
    {
        return fail(place() + QStringLiteral(": ") + QLatin1String(what));
    }
    bool memberError(const char *name, const char *what)
    {
        m_place.push_back({name, -1});
        return placeError(what);
    }
    // The value at hand has the wrong type. It is still read through, so that broken JSON
    // inside it is reported as such.
    bool wrongType(const char *what) { return skipValue() && placeError(what); }

    void skipSpace()
    {
        while (isSpace(*m_p))
            ++m_p;
    }
    bool enter()
    {
        if (++m_depth > MaxDepth)
            return fail(QStringLiteral("nesting too deep at byte %1").arg(offset(m_p)));
        return true;
    }
    bool literal(std::string_view word)
    {
        if (std::memcmp(m_p, word.data(), word.size()) != 0)
            return unexpected(m_p, "expected a value");
        m_p += word.size();
        return true;
    }
    bool parseString(Text &out);
    bool decodeEscape(char *&s, char *&w);
    bool scanNumber(const char *&begin, bool &integral);
    bool skipValue();
    template <typename F>
    bool parseObject(F &&member);
    template <typename F>
    bool parseArray(F &&element);

    template <typename F>
    bool known(const char *name, unsigned bit, unsigned &seen, F &&read);
    template <typename F>
    bool readObject(F &&member);
    template <typename F>
    bool readArrayOf(F &&element);
    template <typename F>
    bool readOrNull(F &&read);
    template <typename T, typename F>
    bool readNullableArray(std::vector<T> &out, F &&read);
    // The text of the number at hand, which must be one (else "what" is expected).
    bool readNumber(const char *what, const char *&begin, bool &integral)
    {
        if (*m_p != '-' && !isDigit(*m_p))
            return wrongType(what);
        return scanNumber(begin, integral);
    }
    bool readInt(int &out);
    bool readBool(bool &out);
    bool readDouble(double &out);
    bool readText(Text &out);
    bool readString(QString &out);
    bool readSpan(Response::Span &out);
    bool readStringList(QStringList &out);
    bool readVersion();
    bool readClass(TestClass &out);

    bool readRoot();
    bool readPage(DocumentStore::PageData &page);
    bool readTest(Test *&out);
    bool readQuestion(Question *&out);
    bool readOption(Question::Option &option);
    bool readResponse(Response &response);

    DocumentStore &m_store;
    char *const m_begin;
    char *const m_end;
    char *m_p;
    int m_depth = 0;
    std::vector<PlaceItem> m_place;
    QString m_error;
    // Where each test's run of question slots starts; the slot table may still move while
    // the document is read.
    std::vector<std::pair<Test *, std::size_t>> m_questionRuns;
};

QString DocumentReader::place() const
{
    if (m_place.empty())
        return QStringLiteral("root");
    QString text;
    for (const PlaceItem &item : m_place) {
        if (item.name) {
            if (!text.isEmpty())
                text += QLatin1Char('.');
            text += QLatin1String(item.name);
        } else {
            text += QLatin1Char('[') + QString::number(item.index) + QLatin1Char(']');
        }
    }
    return text;
}

bool DocumentReader::parseString(Text &out)
{
    char *const start = m_p + 1;
    char *s = start;
    char *w = nullptr; // where decoded bytes go once an escape has been met
    char *run = start; // first byte not yet moved down to w
    for (;;) {
        s = findSpecial(s);
        const auto c = static_cast<unsigned char>(*s);
        if (c == '"') {
            if (w) {
                std::memmove(w, run, std::size_t(s - run));
                w += s - run;
                out = {start, std::size_t(w - start)};
            } else {
                out = {start, std::size_t(s - start)};
            }
            m_p = s + 1;
            return true;
        }
        if (c == '\\') {
            if (w) {
                std::memmove(w, run, std::size_t(s - run));
                w += s - run;
            } else {
                w = s;
            }
            if (!decodeEscape(s, w))
                return false;
            run = s;
            continue;
        }
        if (c < 0x20) {
            if (s >= m_end)
                return syntaxError(m_p, "unterminated string");
            return syntaxError(s, "control character in string");
        }
        const int length = utf8SequenceLength(s);
        if (!length)
            return utf8Error(s);
        s += length;
    }
}

bool DocumentReader::decodeEscape(char *&s, char *&w)
{
    char simple = 0;
    switch (s[1]) {
    case '"':
        simple = '"';
        break;
    case '\\':
        simple = '\\';
        break;
    case '/':
        simple = '/';
        break;
    case 'b':
        simple = '\b';
        break;
    case 'f':
        simple = '\f';
        break;
    case 'n':
        simple = '\n';
        break;
    case 'r':
        simple = '\r';
        break;
    case 't':
        simple = '\t';
        break;
    case 'u':
        break;
    default:
        return s + 1 >= m_end ? syntaxError(m_end, "unexpected end of data")
                              : syntaxError(s, "invalid escape");
    }
    if (simple) {
        *w++ = simple;
        s += 2;
        return true;
    }
    int cp = hex4(s + 2);
    if (cp < 0)
        return syntaxError(s, "invalid escape");
    s += 6;
    if (cp >= 0xd800 && cp <= 0xdbff) {
        const int low = s[0] == '\\' && s[1] == 'u' ? hex4(s + 2) : -1;
        if (low >= 0xdc00 && low <= 0xdfff) {
            cp = 0x10000 + ((cp - 0xd800) << 10) + (low - 0xdc00);
            s += 6;
        } else {
            // A lone surrogate has no UTF-8 form; it stands for a character that was lost.
            cp = 0xfffd;
        }
    } else if (cp >= 0xdc00 && cp <= 0xdfff) {
        cp = 0xfffd;
    }
    w = writeUtf8(w, unsigned(cp));
    return true;
}

bool DocumentReader::scanNumber(const char *&begin, bool &integral)
{
    const char *s = m_p;
    begin = s;
    integral = true;
    if (*s == '-')
        ++s;
    if (*s == '0') {
        ++s;
    } else if (*s >= '1' && *s <= '9') {
        while (isDigit(*s))
            ++s;
    } else {
        return unexpected(s, "invalid number");
    }
    if (*s == '.') {
        ++s;
        if (!isDigit(*s))
            return unexpected(s, "invalid number");
        while (isDigit(*s))
            ++s;
        integral = false;
    }
    if (*s == 'e' || *s == 'E') {
        ++s;
        if (*s == '+' || *s == '-')
            ++s;
        if (!isDigit(*s))
            return unexpected(s, "invalid number");
        while (isDigit(*s))
            ++s;
        integral = false;
    }
    m_p = const_cast<char *>(s);
    return true;
}

bool DocumentReader::skipValue()
{
    switch (*m_p) {
    case '{':
        return parseObject([this](const Text &) { return skipValue(); });
    case '[':
        return parseArray([this](qsizetype) { return skipValue(); });
    case '"': {
        Text text;
        return parseString(text);
    }
    case 't':
        return literal("true");
    case 'f':
        return literal("false");
    case 'n':
        return literal("null");
    default:
        if (*m_p == '-' || isDigit(*m_p)) {
            const char *begin;
            bool integral;
            return scanNumber(begin, integral);
        }
        return unexpected(m_p, "expected a value");
    }
}

template <typename F>
bool DocumentReader::parseObject(F &&member)
{
    if (!enter())
        return false;
    ++m_p;
    skipSpace();
    if (*m_p == '}') {
        ++m_p;
        --m_depth;
        return true;
    }
    for (;;) {
        if (*m_p != '"')
            return unexpected(m_p, "expected a member name");
        Text key;
        if (!parseString(key))
            return false;
        skipSpace();
        if (*m_p != ':')
            return unexpected(m_p, "expected ':'");
        ++m_p;
        skipSpace();
        if (!member(key))
            return false;
        skipSpace();
        if (*m_p == ',') {
            ++m_p;
            skipSpace();
            continue;
        }
        if (*m_p == '}') {
            ++m_p;
            --m_depth;
            return true;
        }
        return unexpected(m_p, "expected ',' or '}'");
    }
}

template <typename F>
bool DocumentReader::parseArray(F &&element)
{
    if (!enter())
        return false;
    ++m_p;
    skipSpace();
    if (*m_p == ']') {
        ++m_p;
        --m_depth;
        return true;
    }
    for (qsizetype i = 0;; ++i) {
        if (i == INT_MAX)
            return fail(
                QStringLiteral("too many elements in the array at byte %1").arg(offset(m_p)));
        if (!element(i))
            return false;
        skipSpace();
        if (*m_p == ',') {
            ++m_p;
            skipSpace();
            continue;
        }
        if (*m_p == ']') {
            ++m_p;
            --m_depth;
            return true;
        }
        return unexpected(m_p, "expected ',' or ']'");
    }
}

template <typename F>
bool DocumentReader::known(const char *name, unsigned bit, unsigned &seen, F &&read)
{
    m_place.push_back({name, -1});
    if (seen & bit)
        return placeError("duplicate member");
    seen |= bit;
    if (!read())
        return false;
    m_place.pop_back();
    return true;
}

template <typename F>
bool DocumentReader::readObject(F &&member)
{
    if (*m_p != '{')
        return wrongType("expected an object");
    return parseObject(std::forward<F>(member));
}

template <typename F>
bool DocumentReader::readArrayOf(F &&element)
{
    if (*m_p != '[')
        return wrongType("expected an array");
    m_place.push_back({nullptr, 0});
    const bool ok = parseArray([&](qsizetype i) {
        m_place.back().index = i;
        return element();
    });
    if (ok)
        m_place.pop_back();
    return ok;
}

// A `null` in place of the value leaves the target as it was.
template <typename F>
bool DocumentReader::readOrNull(F &&read)
{
    if (*m_p == 'n')
        return literal("null");
    return read();
}

// An array whose elements may each be `null`: a `null` keeps its place as a
// value-initialised element.
template <typename T, typename F>
bool DocumentReader::readNullableArray(std::vector<T> &out, F &&read)
{
    return readArrayOf([&] {
        T element{};
        if (!readOrNull([&] { return read(element); }))
            return false;
        out.push_back(std::move(element));
        return true;
    });
}

bool DocumentReader::readInt(int &out)
{
    const char *begin;
    bool integral;
    if (!readNumber("expected an integer", begin, integral))
        return false;
    if (!integral)
        return placeError("expected an integer");
    const bool negative = *begin == '-';
    long long value = 0;
    for (const char *s = negative ? begin + 1 : begin; s < m_p; ++s) {
        value = value * 10 + (*s - '0');
        if (value > 2147483648LL)
            return placeError("integer does not fit in 32 bits");
    }
    if (!negative && value > INT_MAX)
        return placeError("integer does not fit in 32 bits");
    out = int(negative ? -value : value);
    return true;
}

bool DocumentReader::readBool(bool &out)
{
    if (*m_p == 't' && literal("true")) {
        out = true;
        return true;
    }
    if (*m_p == 'f' && literal("false")) {
        out = false;
        return true;
    }
    return m_error.isEmpty() && wrongType("expected a boolean");
}

bool DocumentReader::readDouble(double &out)
{
    const char *begin;
    bool integral;
    if (!readNumber("expected a number", begin, integral))
        return false;
    double value = 0;
    const auto result = std::from_chars(begin, m_p, value);
    if (result.ec == std::errc::result_out_of_range) {
        if (magnitudeOverflows(begin, m_p))
            return placeError("number out of range");
        value = *begin == '-' ? -0.0 : 0.0;
    } else if (result.ec != std::errc() || result.ptr != m_p) {
        return placeError("number out of range");
    }
    out = value;
    return true;
}

bool DocumentReader::readText(Text &out)
{
    if (*m_p != '"')
        return wrongType("expected a string");
    return parseString(out);
}

bool DocumentReader::readString(QString &out)
{
    Text text;
    if (!readText(text))
        return false;
    out = QString::fromUtf8(text.data, qsizetype(text.size));
    return true;
}

bool DocumentReader::readSpan(Response::Span &out)
{
    Text text;
    if (!readText(text))
        return false;
    out.offset = std::uint32_t(text.data - m_begin);
    out.size = std::uint32_t(text.size);
    return true;
}

bool DocumentReader::readStringList(QStringList &out)
{
    return readArrayOf([&] {
        QString text;
        if (!readString(text))
            return false;
        out.append(text);
        return true;
    });
}

bool DocumentReader::readVersion()
{
    const char *begin;
    bool integral;
    if (!readNumber("expected 1", begin, integral))
        return false;
    if (m_p - begin != 1 || *begin != '1')
        return placeError("expected 1");
    return true;
}

bool DocumentReader::readClass(TestClass &out)
{
    Text text;
    if (!readText(text))
        return false;
    if (text.view() == "SelfPacedTest")
        out = TestClass::SelfPaced;
    else if (text.view() == "InstructorPacedTest")
        out = TestClass::InstructorPaced;
    else if (text.view() == "Test")
        out = TestClass::Plain;
    else
        return placeError(R"(expected "SelfPacedTest", "InstructorPacedTest" or "Test")");
    return true;
}

bool DocumentReader::read()
{
    const qsizetype size = m_end - m_begin;
    if (size == 0)
        return fail(QStringLiteral("empty file"));
    if (size >= 3 && std::memcmp(m_begin, "\xEF\xBB\xBF", 3) == 0)
        return syntaxError(m_begin, "byte-order mark before the text");
    skipSpace();
    if (!readRoot())
        return false;

    for (const auto &[test, first] : m_questionRuns) {
        if (test->m_questionCount > 0)
            test->m_questions = m_store.questionSlots.data() + first;
    }
    m_store.responseSlots.shrink_to_fit();
    return true;
}

bool DocumentReader::readRoot()
{
    unsigned seen = 0;
    const bool ok = readObject([&](const Text &key) {
        switch (lookup(key, RootMembers)) {
        case 0:
            return known("plexa", 1, seen, [&] { return readVersion(); });
        case 1:
            return known("title", 2, seen, [&] { return readString(m_store.title); });
        case 2:
            return known("pages", 4, seen, [&] {
                return readNullableArray(m_store.pages, [&](auto &page) { return readPage(page); });
            });
        case 3:
            return known("testInstances", 8, seen, [&] {
                return readNullableArray(m_store.testInstances,
                                         [&](auto &test) { return readTest(test); });
            });
        default:
            return skipValue();
        }
    });
    if (!ok)
        return false;
    skipSpace();
    if (m_p != m_end)
        return unexpected(m_p, "unexpected data after the root value");
    if (!(seen & 1))
        return memberError("plexa", "missing");
    return true;
}

bool DocumentReader::readPage(DocumentStore::PageData &page)
{
    page.present = true;
    unsigned seen = 0;
    return readObject([&](const Text &key) {
        switch (lookup(key, PageMembers)) {
        case 0:
            return known("keywords", 1, seen, [&] { return readStringList(page.keywords); });
        case 1:
            return known("test", 2, seen,
                         [&] { return readOrNull([&] { return readTest(page.test); }); });
        default:
            return skipValue();
        }
    });
}

bool DocumentReader::readTest(Test *&out)
{
    constexpr unsigned KindBit = 1;
    unsigned seen = 0;
    int kind = 0;
    TestClass testClass = TestClass::FromKind;
    QString title;
    QString startedOn;
    const std::size_t firstQuestion = m_store.questionSlots.size();
    const bool ok = readObject([&](const Text &key) {
        switch (lookup(key, TestMembers)) {
        case 0:
            return known("kind", KindBit, seen, [&] { return readInt(kind); });
        case 1:
            return known("class", 2, seen, [&] { return readClass(testClass); });
        case 2:
            return known("title", 4, seen, [&] { return readString(title); });
        case 3:
            return known("startedOn", 8, seen, [&] { return readString(startedOn); });
        case 4:
            return known("questions", 16, seen, [&] {
                return readNullableArray(m_store.questionSlots,
                                         [&](auto &question) { return readQuestion(question); });
            });
        default:
            return skipValue();
        }
    });
    if (!ok)
        return false;
    if (!(seen & KindBit))
        return memberError("kind", "missing");

    if (testClass == TestClass::FromKind) {
        testClass = kind == 1   ? TestClass::SelfPaced
                    : kind == 0 ? TestClass::InstructorPaced
                                : TestClass::Plain;
    }
    Test *test = nullptr;
    switch (testClass) {
    case TestClass::SelfPaced: {
        auto *selfPaced = new SelfPacedTest;
        selfPaced->m_title = title;
        test = selfPaced;
        break;
    }
    case TestClass::InstructorPaced:
        test = new InstructorPacedTest;
        break;
    default:
        test = new Test;
        break;
    }
    m_store.tests.emplace_back(test);
    test->m_kind = kind;
    test->m_startedOn = startedOn;
    test->m_questionCount = int(m_store.questionSlots.size() - firstQuestion);
    m_questionRuns.emplace_back(test, firstQuestion);
    out = test;
    return true;
}

bool DocumentReader::readQuestion(Question *&out)
{
    constexpr unsigned IdBit = 1, TypeBit = 4, HasCorrectBit = 8;
    auto question = std::make_unique<Question>();
    question->m_store = &m_store;
    question->m_firstResponse = std::uint32_t(m_store.responses.size());
    unsigned seen = 0;
    const bool ok = readObject([&](const Text &key) {
        switch (lookup(key, QuestionMembers)) {
        case 0:
            return known("id", IdBit, seen, [&] { return readString(question->m_id); });
        case 1:
            return known("text", 2, seen, [&] { return readString(question->m_text); });
        case 2:
            return known("type", TypeBit, seen, [&] { return readInt(question->m_type); });
        case 3:
            return known("hasCorrectAnswer", HasCorrectBit, seen,
                         [&] { return readBool(question->m_hasCorrectAnswer); });
        case 4:
            return known("answers", 16, seen, [&] { return readStringList(question->m_answers); });
        case 5:
            return known("options", 32, seen, [&] {
                return readArrayOf([&] {
                    Question::Option option;
                    if (!readOption(option))
                        return false;
                    question->m_options.append(option);
                    return true;
                });
            });
        case 6:
            return known("labelType", 64, seen, [&] { return readInt(question->m_labelType); });
        case 7:
            return known("textComparison", 128, seen,
                         [&] { return readInt(question->m_textComparison); });
        case 8:
            return known("tolerance", 256, seen, [&] { return readDouble(question->m_tolerance); });
        case 9:
            return known("responses", 512, seen, [&] {
                // Responses sit in the table in file order; only a `null` element calls for
                // the slot table, which then gets the run read so far.
                auto &responses = m_store.responses;
                auto &slotTable = m_store.responseSlots;
                question->m_firstResponse = std::uint32_t(responses.size());
                return readArrayOf([&] {
                    if (*m_p == 'n') {
                        if (!literal("null"))
                            return false;
                        if (question->m_firstSlot < 0) {
                            question->m_firstSlot = std::int64_t(slotTable.size());
                            for (std::size_t i = question->m_firstResponse; i < responses.size();
                                 ++i)
                                slotTable.push_back(std::uint32_t(i));
                        }
                        slotTable.push_back(DocumentStore::NoResponse);
                        ++question->m_responseCount;
                        return true;
                    }
                    Response response;
                    response.m_store = &m_store;
                    if (!readResponse(response))
                        return false;
                    if (question->m_firstSlot >= 0)
                        slotTable.push_back(std::uint32_t(responses.size()));
                    responses.push_back(response);
                    ++question->m_responseCount;
                    return true;
                });
            });
        default:
            return skipValue();
        }
    });
    if (!ok)
        return false;
    if (!(seen & IdBit))
        return memberError("id", "missing");
    if (!(seen & TypeBit))
        return memberError("type", "missing");
    if (!(seen & HasCorrectBit)) {
        bool correctOption = false;
        for (const Question::Option &option : std::as_const(question->m_options))
            correctOption = correctOption || option.correct;
        question->m_hasCorrectAnswer = !question->m_answers.isEmpty() || correctOption;
    }
    out = question.get();
    m_store.questions.push_back(std::move(question));
    return true;
}

bool DocumentReader::readOption(Question::Option &option)
{
    unsigned seen = 0;
    return readObject([&](const Text &key) {
        switch (lookup(key, OptionMembers)) {
        case 0:
            return known("label", 1, seen, [&] { return readString(option.label); });
        case 1:
            return known("correct", 2, seen, [&] { return readBool(option.correct); });
        default:
            return skipValue();
        }
    });
}

bool DocumentReader::readResponse(Response &response)
{
    unsigned seen = 0;
    return readObject([&](const Text &key) {
        switch (lookup(key, ResponseMembers)) {
        case 0:
            return known("text", 1, seen, [&] { return readSpan(response.m_text); });
        case 1:
            return known("studentId", 2, seen, [&] { return readSpan(response.m_studentId); });
        case 2:
            return known("studentName", 4, seen, [&] { return readSpan(response.m_studentName); });
        case 3:
            return known("label", 8, seen, [&] { return readSpan(response.m_label); });
        case 4:
            return known("startTime", 16, seen, [&] { return readInt(response.m_startTime); });
        default:
            return skipValue();
        }
    });
}

bool readDocument(DocumentStore &store, QString &error)
{
    DocumentReader reader(store);
    if (reader.read())
        return true;
    error = reader.error();
    return false;
}

} // namespace Zazizi
