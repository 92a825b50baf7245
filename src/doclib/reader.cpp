#include "reader_p.h"

#include "jsontext_p.h"
#include "store_p.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

namespace Zazizi {

namespace {

using Json::isDigit;

// Deeper documents are refused: skipping an unknown value recurses once per level, and a
// fixed limit keeps that recursion far from the end of the stack whatever the file holds.
constexpr int MaxDepth = 256;

// What the reader's own structures may cost, per byte of the file and beyond. Most objects
// cost less than their smallest JSON, but a test object (a QObject) costs far more: a
// document of nothing else is refused rather than grow to many times its size. With the file
// itself and an export's tables, the process stays within a small multiple of the file.
constexpr std::size_t BudgetPerFileByte = 2;
constexpr std::size_t BudgetBeyond = std::size_t(4) << 20;
// A test object on the heap with Qt's private part of it and the allocator's overhead
// (measured: 192 bytes), and its place in the table of tests as that table grows.
constexpr std::size_t TestCost = 192 + 2 * sizeof(std::unique_ptr<Test>);
// The entry that finds an equal test without questions again.
constexpr std::size_t SharedTestCost = 96;
// Lists are built when asked for; the largest of them, built once, is held to the budget
// too: per element a QString (or an option) in the list, per text its heap block.
constexpr std::size_t TextElementCost = sizeof(QString);
constexpr std::size_t OptionElementCost = sizeof(Question::Option);
constexpr std::size_t textCost(std::size_t bytes)
{
    return bytes ? 32 + 2 * bytes : 0;
}

// A string as the document has it, between its quotes.
struct Text
{
    const char *data = nullptr;
    std::size_t size = 0;

    std::string_view view() const { return {data, size}; }
};

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

constexpr std::string_view RootMembers[] = {"plexa", "title", "pages", "testInstances"};
constexpr std::string_view PageMembers[] = {"keywords", "test"};
constexpr std::string_view TestMembers[] = {"kind", "class", "title", "startedOn", "questions"};
constexpr std::string_view QuestionMembers[] = {
    "id",      "text",      "type",           "hasCorrectAnswer", "answers",
    "options", "labelType", "textComparison", "tolerance",        "responses"};
constexpr std::string_view OptionMembers[] = {"label", "correct"};
constexpr std::string_view ClassNames[] = {"Test", "SelfPacedTest", "InstructorPacedTest"};

enum class TestClass { Plain, SelfPaced, InstructorPaced, FromKind };

// What a test without questions delivers; equal ones are one object. Texts as the document
// has them: two spellings of one text only cost a second object.
struct TestKey
{
    TestClass testClass;
    int kind;
    std::string_view title;
    std::string_view startedOn;

    bool operator==(const TestKey &other) const
    {
        return testClass == other.testClass && kind == other.kind && title == other.title &&
               startedOn == other.startedOn;
    }
};

struct TestKeyHash
{
    std::size_t operator()(const TestKey &key) const
    {
        const std::hash<std::string_view> text;
        return (std::size_t(key.kind) * 4 + std::size_t(key.testClass)) ^ (text(key.title) * 31) ^
               text(key.startedOn);
    }
};

// Where a test's questions are.
struct QuestionRun
{
    std::size_t first = 0;
    int count = 0;
    bool slotted = false;
};

} // namespace

// A single-pass reader that checks the JSON grammar and the document's schema together and
// fills the store as it goes. The buffer is left as it is: the store keeps offsets of texts
// and objects, found again and decoded when a caller asks for them.
class DocumentReader
{
public:
    explicit DocumentReader(DocumentStore &store)
        : m_store(store), m_begin(store.data()), m_end(store.data() + store.size()), m_p(m_begin),
          m_budget(BudgetPerFileByte * std::size_t(store.size()) + BudgetBeyond)
    {
        m_place.reserve(16);
    }

    bool read();
    QString error() const { return m_error; }

private:
    // One step of the place named in a reason: a member name (`raw` with its size when as the
    // document writes it, else null-terminated), or an array index when name is null.
    struct PlaceItem
    {
        const char *name;
        std::size_t size;
        qsizetype index;
        bool raw;
    };

    qsizetype offset(const char *at) const { return at - m_begin; }
    std::uint32_t here() const { return std::uint32_t(m_p - m_begin); }

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
        m_place.push_back({name, 0, -1, false});
        return placeError(what);
    }
    // The value at hand has the wrong type. It is still read through, so that broken JSON
    // inside it is reported as such.
    bool wrongType(const char *what) { return skipValue() && placeError(what); }

    // The reader's structures grew by `bytes`; false (with the reason) beyond the budget.
    bool charge(std::size_t bytes)
    {
        m_cost += bytes;
        return m_cost + m_largestList <= m_budget || overBudget();
    }
    bool overBudget() { return placeError("too many objects for the document's size"); }
    bool listCost(std::size_t bytes)
    {
        if (bytes > m_largestList)
            m_largestList = bytes;
        return charge(0);
    }

    void skipSpace() { m_p = Json::skipSpace(m_p); }
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
    bool checkEscape(const char *&s, bool &lone);
    bool scanNumber(const char *&begin, bool &integral);
    bool skipValue();
    bool skipMember(const Text &name);
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
    bool readString(std::uint32_t &out, Text *text = nullptr);
    bool readStringList(std::uint32_t &out, std::size_t &count);
    bool readVersion();
    bool readClass(TestClass &out);

    bool readRoot();
    bool readPage(std::uint32_t &entry);
    bool readTest(std::uint32_t &out);
    bool readQuestions(QuestionRun &run);
    bool readQuestion();
    bool readOptions(std::uint32_t &out, bool &anyCorrect);
    bool readOption(bool &correct, std::size_t &labelBytes);
    bool readResponses(Question &question);
    bool readResponse();

    DocumentStore &m_store;
    const char *const m_begin;
    const char *const m_end;
    const char *m_p;
    int m_depth = 0;
    std::vector<PlaceItem> m_place;
    QString m_error;

    std::size_t m_cost = 0;
    std::size_t m_largestList = 0;
    const std::size_t m_budget;
    std::unordered_map<TestKey, std::uint32_t, TestKeyHash> m_sharedTests;
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
            // A name read from the document is whole: its string was checked before.
            text +=
                item.raw ? Json::decodeString(item.name - 1) : QString(QLatin1String(item.name));
        } else {
            text += QLatin1Char('[') + QString::number(item.index) + QLatin1Char(']');
        }
    }
    return text;
}

bool DocumentReader::parseString(Text &out)
{
    const char *const start = m_p + 1;
    const char *s = start;
    // Kept exactly as written, a text cannot hold half of a surrogate pair; the rest of the
    // string is still checked first.
    bool lone = false;
    for (;;) {
        s = Json::findSpecial(s);
        const auto c = static_cast<unsigned char>(*s);
        if (c == '"') {
            out = {start, std::size_t(s - start)};
            m_p = s + 1;
            return !lone || placeError("lone surrogate in string");
        }
        if (c == '\\') {
            if (!checkEscape(s, lone))
                return false;
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

bool DocumentReader::checkEscape(const char *&s, bool &lone)
{
    switch (s[1]) {
    case '"':
    case '\\':
    case '/':
    case 'b':
    case 'f':
    case 'n':
    case 'r':
    case 't':
        s += 2;
        return true;
    case 'u':
        break;
    default:
        return s + 1 >= m_end ? syntaxError(m_end, "unexpected end of data")
                              : syntaxError(s, "invalid escape");
    }
    const int cp = hex4(s + 2);
    if (cp < 0)
        return syntaxError(s, "invalid escape");
    s += 6;
    if (cp >= 0xd800 && cp <= 0xdbff) {
        const int low = s[0] == '\\' && s[1] == 'u' ? hex4(s + 2) : -1;
        if (low >= 0xdc00 && low <= 0xdfff)
            s += 6;
        else
            lone = true;
    } else if (cp >= 0xdc00 && cp <= 0xdfff) {
        lone = true;
    }
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
    m_p = s;
    return true;
}

bool DocumentReader::skipValue()
{
    switch (*m_p) {
    case '{':
        return parseObject([this](const Text &name) { return skipMember(name); });
    case '[': {
        m_place.push_back({nullptr, 0, 0, false});
        const bool ok = parseArray([this](qsizetype i) {
            m_place.back().index = i;
            return skipValue();
        });
        if (ok)
            m_place.pop_back();
        return ok;
    }
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

// A member this reader does not know: read through, under its own name for a reason.
bool DocumentReader::skipMember(const Text &name)
{
    m_place.push_back({name.data, name.size, -1, true});
    if (!skipValue())
        return false;
    m_place.pop_back();
    return true;
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
    m_place.push_back({name, 0, -1, false});
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
    m_place.push_back({nullptr, 0, 0, false});
    const bool ok = parseArray([&](qsizetype i) {
        m_place.back().index = i;
        return element();
    });
    if (ok)
        m_place.pop_back();
    return ok;
}

// A `null` in place of the value leaves the target as it was, its default.
template <typename F>
bool DocumentReader::readOrNull(F &&read)
{
    if (*m_p == 'n')
        return literal("null");
    return read();
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

bool DocumentReader::readString(std::uint32_t &out, Text *text)
{
    Text read;
    const std::uint32_t at = here();
    if (!readText(read))
        return false;
    out = at;
    if (text)
        *text = read;
    return true;
}

// A list of strings: `out` gets the array's offset when it holds any.
bool DocumentReader::readStringList(std::uint32_t &out, std::size_t &count)
{
    const std::uint32_t at = here();
    std::size_t cost = 0;
    const bool ok = readArrayOf([&] {
        Text text;
        if (!readText(text))
            return false;
        cost += TextElementCost + textCost(text.size);
        ++count;
        return true;
    });
    if (!ok)
        return false;
    out = count ? at : 0;
    return listCost(cost);
}

bool DocumentReader::readVersion()
{
    const char *begin = nullptr;
    bool integral = false;
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
    const int name = Json::memberIndex(text.view(), ClassNames);
    if (name < 0)
        return placeError(R"(expected "SelfPacedTest", "InstructorPacedTest" or "Test")");
    out = TestClass(name);
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
    return readRoot();
}

bool DocumentReader::readRoot()
{
    unsigned seen = 0;
    const bool ok = readObject([&](const Text &key) {
        switch (Json::memberIndex(key.view(), RootMembers)) {
        case 0:
            return known("plexa", 1, seen, [&] { return readVersion(); });
        case 1:
            return known("title", 2, seen, [&] { return readString(m_store.title); });
        case 2:
            return known("pages", 4, seen, [&] {
                return readOrNull([&] {
                    return readArrayOf([&] {
                        std::uint32_t entry = DocumentStore::NullPage;
                        if (!readOrNull([&] { return readPage(entry); }))
                            return false;
                        m_store.pages.push_back(entry);
                        return charge(sizeof(entry));
                    });
                });
            });
        case 3:
            return known("testInstances", 8, seen, [&] {
                return readOrNull([&] {
                    return readArrayOf([&] {
                        std::uint32_t test = 0;
                        if (!readOrNull([&] { return readTest(test); }))
                            return false;
                        m_store.testInstances.push_back(test);
                        return charge(sizeof(test));
                    });
                });
            });
        default:
            return skipMember(key);
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

bool DocumentReader::readPage(std::uint32_t &entry)
{
    unsigned seen = 0;
    std::uint32_t keywords = 0;
    std::size_t keywordCount = 0;
    std::uint32_t test = 0;
    const bool ok = readObject([&](const Text &key) {
        switch (Json::memberIndex(key.view(), PageMembers)) {
        case 0:
            return known("keywords", 1, seen,
                         [&] { return readStringList(keywords, keywordCount); });
        case 1:
            return known("test", 2, seen,
                         [&] { return readOrNull([&] { return readTest(test); }); });
        default:
            return skipMember(key);
        }
    });
    if (!ok)
        return false;
    if (!keywords && !test) {
        entry = DocumentStore::BarePage;
        return true;
    }
    entry = std::uint32_t(m_store.pageDetails.size()) + DocumentStore::FirstPageDetails;
    m_store.pageDetails.push_back({keywords, test});
    return charge(sizeof(DocumentStore::PageDetails));
}

bool DocumentReader::readTest(std::uint32_t &out)
{
    constexpr unsigned KindBit = 1;
    unsigned seen = 0;
    int kind = 0;
    TestClass testClass = TestClass::FromKind;
    std::uint32_t title = 0;
    std::uint32_t startedOn = 0;
    Text titleText;
    Text startedOnText;
    QuestionRun questions;
    const bool ok = readObject([&](const Text &key) {
        switch (Json::memberIndex(key.view(), TestMembers)) {
        case 0:
            return known("kind", KindBit, seen, [&] { return readInt(kind); });
        case 1:
            return known("class", 2, seen, [&] { return readClass(testClass); });
        case 2:
            return known("title", 4, seen, [&] { return readString(title, &titleText); });
        case 3:
            return known("startedOn", 8, seen,
                         [&] { return readString(startedOn, &startedOnText); });
        case 4:
            return known("questions", 16, seen,
                         [&] { return readOrNull([&] { return readQuestions(questions); }); });
        default:
            return skipMember(key);
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
    // Only a self-paced test delivers its title.
    if (testClass != TestClass::SelfPaced)
        titleText = Text();
    const TestKey key{testClass, kind, titleText.view(), startedOnText.view()};
    if (questions.count == 0) {
        const auto shared = m_sharedTests.find(key);
        if (shared != m_sharedTests.end()) {
            out = shared->second;
            return true;
        }
    }

    std::unique_ptr<Test> test;
    switch (testClass) {
    case TestClass::SelfPaced: {
        auto selfPaced = std::make_unique<SelfPacedTest>();
        selfPaced->m_title = title;
        test = std::move(selfPaced);
        break;
    }
    case TestClass::InstructorPaced:
        test = std::make_unique<InstructorPacedTest>();
        break;
    default:
        test = std::make_unique<Test>();
        break;
    }
    test->m_store = &m_store;
    test->m_kind = kind;
    test->m_startedOn = startedOn;
    test->m_firstQuestion = std::uint32_t(questions.first);
    test->m_questionCount = questions.count;
    test->m_slotted = questions.slotted;
    m_store.tests.push_back(std::move(test));
    out = std::uint32_t(m_store.tests.size());
    if (questions.count == 0) {
        m_sharedTests.emplace(key, out);
        return charge(TestCost + SharedTestCost);
    }
    return charge(TestCost);
}

// The questions of one test sit in the question table in file order; only a `null` element
// calls for the slot table, which then gets the run read so far.
bool DocumentReader::readQuestions(QuestionRun &run)
{
    auto &questions = m_store.questions;
    auto &slotTable = m_store.questionSlots;
    run = QuestionRun{questions.size(), 0, false};
    return readArrayOf([&] {
        if (*m_p == 'n') {
            if (!literal("null"))
                return false;
            if (!run.slotted) {
                const std::size_t first = run.first;
                run.first = slotTable.size();
                run.slotted = true;
                for (std::size_t i = first; i < questions.size(); ++i)
                    slotTable.push_back(std::uint32_t(i + 1));
                if (!charge((questions.size() - first) * sizeof(std::uint32_t)))
                    return false;
            }
            slotTable.push_back(0);
            ++run.count;
            return charge(sizeof(std::uint32_t));
        }
        if (!readQuestion())
            return false;
        ++run.count;
        if (!run.slotted)
            return true;
        slotTable.push_back(std::uint32_t(questions.size()));
        return charge(sizeof(std::uint32_t));
    });
}

bool DocumentReader::readQuestion()
{
    constexpr unsigned IdBit = 1, TypeBit = 4, HasCorrectBit = 8;
    Question question;
    QuestionDetails details;
    std::size_t answerCount = 0;
    bool correctOption = false;
    unsigned seen = 0;
    const bool ok = readObject([&](const Text &key) {
        switch (Json::memberIndex(key.view(), QuestionMembers)) {
        case 0:
            return known("id", IdBit, seen, [&] { return readString(question.m_id); });
        case 1:
            return known("text", 2, seen, [&] { return readString(question.m_text); });
        case 2:
            return known("type", TypeBit, seen, [&] { return readInt(question.m_type); });
        case 3:
            return known("hasCorrectAnswer", HasCorrectBit, seen,
                         [&] { return readBool(question.m_hasCorrectAnswer); });
        case 4:
            return known("answers", 16, seen,
                         [&] { return readStringList(details.answers, answerCount); });
        case 5:
            return known("options", 32, seen,
                         [&] { return readOptions(details.options, correctOption); });
        case 6:
            return known("labelType", 64, seen, [&] { return readInt(details.labelType); });
        case 7:
            return known("textComparison", 128, seen,
                         [&] { return readInt(details.textComparison); });
        case 8:
            return known("tolerance", 256, seen, [&] { return readDouble(details.tolerance); });
        case 9:
            return known("responses", 512, seen,
                         [&] { return readOrNull([&] { return readResponses(question); }); });
        default:
            return skipMember(key);
        }
    });
    if (!ok)
        return false;
    if (!(seen & IdBit))
        return memberError("id", "missing");
    if (!(seen & TypeBit))
        return memberError("type", "missing");
    if (!(seen & HasCorrectBit))
        question.m_hasCorrectAnswer = answerCount > 0 || correctOption;

    std::size_t cost = sizeof(Question);
    // Details that all keep their defaults are left out (a tolerance of -0 is kept).
    if (details.answers || details.options || details.labelType || details.textComparison ||
        details.tolerance != 0.0 || std::signbit(details.tolerance)) {
        m_store.questionDetails.push_back(details);
        question.m_details = std::uint32_t(m_store.questionDetails.size());
        cost += sizeof(QuestionDetails);
    }
    m_store.questions.push_back(question);
    return charge(cost);
}

// Options are built when asked for; the reader checks them and keeps the array's offset
// when it holds any, and whether one of them is correct.
bool DocumentReader::readOptions(std::uint32_t &out, bool &anyCorrect)
{
    const std::uint32_t at = here();
    std::size_t cost = 0;
    std::size_t count = 0;
    const bool ok = readArrayOf([&] {
        bool correct = false;
        std::size_t labelBytes = 0;
        if (!readOption(correct, labelBytes))
            return false;
        anyCorrect = anyCorrect || correct;
        cost += OptionElementCost + textCost(labelBytes);
        ++count;
        return true;
    });
    if (!ok)
        return false;
    out = count ? at : 0;
    return listCost(cost);
}

bool DocumentReader::readOption(bool &correct, std::size_t &labelBytes)
{
    unsigned seen = 0;
    return readObject([&](const Text &key) {
        switch (Json::memberIndex(key.view(), OptionMembers)) {
        case 0:
            return known("label", 1, seen, [&] {
                Text label;
                if (!readText(label))
                    return false;
                labelBytes = label.size;
                return true;
            });
        case 1:
            return known("correct", 2, seen, [&] { return readBool(correct); });
        default:
            return skipMember(key);
        }
    });
}

// Responses sit in the table in file order, a `null` element as an empty entry.
bool DocumentReader::readResponses(Question &question)
{
    auto &responses = m_store.responses;
    question.m_firstResponse = std::uint32_t(responses.size());
    return readArrayOf([&] {
        Response response;
        if (*m_p == 'n') {
            if (!literal("null"))
                return false;
        } else {
            response.m_offset = here();
            if (!readResponse())
                return false;
        }
        responses.push_back(response);
        ++question.m_responseCount;
        return charge(sizeof(Response));
    });
}

bool DocumentReader::readResponse()
{
    unsigned seen = 0;
    return readObject([&](const Text &key) {
        Text text;
        int startTime = 0;
        switch (Json::responseMemberIndex(key.view())) {
        case 0:
            return known("text", 1, seen, [&] { return readText(text); });
        case 1:
            return known("studentId", 2, seen, [&] { return readText(text); });
        case 2:
            return known("studentName", 4, seen, [&] { return readText(text); });
        case 3:
            return known("label", 8, seen, [&] { return readText(text); });
        case 4:
            return known("startTime", 16, seen, [&] { return readInt(startTime); });
        default:
            return skipMember(key);
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
