#include "documentreader_p.h"

#include "documentstore_p.h"
#include "jsonlexer_p.h"
#include "members_p.h"
#include "memorypolicy_p.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

namespace Zazizi {

namespace {

using Json::isDigit;
using namespace MemoryPolicy;

// Deeper documents are refused: skipping an unknown value recurses once per level, and a
// fixed limit keeps that recursion far from the end of the stack whatever the file holds.
constexpr int MaxDepth = 256;

// A string as the document has it, between its quotes.
struct Text
{
    const char *data = nullptr;
    std::size_t size = 0;

    std::string_view view() const { return {data, size}; }
};

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

    [[nodiscard]] bool read();
    QString error() const { return m_error; }

private:
    // One step of the place named in a reason: a member name (`raw` when as the document
    // writes it, escapes and all), or an array index when the name is null.
    struct PlaceItem
    {
        std::string_view name;
        qsizetype index;
        bool raw;
    };

    qsizetype offset(const char *at) const { return at - m_begin; }
    std::uint32_t here() const { return std::uint32_t(m_p - m_begin); }

    [[nodiscard]] bool fail(const QString &reason)
    {
        m_error = reason;
        return false;
    }
    [[nodiscard]] bool syntaxError(const char *at, const char *what)
    {
        return fail(
            QStringLiteral("invalid JSON at byte %1: %2").arg(offset(at)).arg(QLatin1String(what)));
    }
    [[nodiscard]] bool utf8Error(const char *at)
    {
        return fail(QStringLiteral("invalid UTF-8 at byte %1").arg(offset(at)));
    }
    // A byte that cannot continue the text here: the end of the data, a broken UTF-8
    // sequence, or a byte out of place.
    [[nodiscard]] bool unexpected(const char *at, const char *what)
    {
        if (at >= m_end)
            return syntaxError(m_end, "unexpected end of data");
        if (static_cast<unsigned char>(*at) >= 0x80 && !Json::utf8SequenceLength(at))
            return utf8Error(at);
        return syntaxError(at, what);
    }
    QString place() const;
    [[nodiscard]] bool placeError(const char *what)
    {
        return fail(place() + QStringLiteral(": ") + QLatin1String(what));
    }
    template <typename Member>
    [[nodiscard]] bool memberError(const MemberTable<Member> &table, Member member,
                                   const char *what)
    {
        m_place.push_back({table.name(member), -1, false});
        return placeError(what);
    }
    // The value at hand has the wrong type. It is still read through, so that broken JSON
    // inside it is reported as such.
    [[nodiscard]] bool wrongType(const char *what) { return skipValue() && placeError(what); }

    // The reader's structures grew by `bytes`; false (with the reason) beyond the budget.
    [[nodiscard]] bool charge(std::size_t bytes)
    {
        m_cost += bytes;
        return m_cost + m_largestList <= m_budget || overBudget();
    }
    [[nodiscard]] bool overBudget()
    {
        return placeError("too many objects for the document's size");
    }
    [[nodiscard]] bool listCost(std::size_t bytes)
    {
        if (bytes > m_largestList)
            m_largestList = bytes;
        return charge(0);
    }

    void skipSpace() { m_p = Json::skipSpace(m_p); }
    [[nodiscard]] bool enter()
    {
        if (++m_depth > MaxDepth)
            return fail(QStringLiteral("nesting too deep at byte %1").arg(offset(m_p)));
        return true;
    }
    [[nodiscard]] bool literal(std::string_view word)
    {
        if (std::memcmp(m_p, word.data(), word.size()) != 0)
            return unexpected(m_p, "expected a value");
        m_p += word.size();
        return true;
    }
    [[nodiscard]] bool parseString(Text &out);
    [[nodiscard]] bool checkEscape(const char *&s, bool &lone);
    [[nodiscard]] bool scanNumber(const char *&begin, bool &integral);
    [[nodiscard]] bool skipValue();
    [[nodiscard]] bool skipMember(const Text &name);
    template <typename F>
    [[nodiscard]] bool parseObject(F &&member);
    template <typename F>
    [[nodiscard]] bool parseArray(F &&element);

    // Reads a known member's value with `read`, under the member's own name for a reason;
    // refuses a member given twice.
    template <typename Member, typename F>
    [[nodiscard]] bool known(const MemberTable<Member> &table, Member member, unsigned &seen,
                             F &&read);
    template <typename F>
    [[nodiscard]] bool readObject(F &&member);
    template <typename F>
    [[nodiscard]] bool readArrayOf(F &&element);
    template <typename F>
    [[nodiscard]] bool readOrNull(F &&read);
    // The text of the number at hand, which must be one (else "what" is expected).
    [[nodiscard]] bool readNumber(const char *what, const char *&begin, bool &integral)
    {
        if (*m_p != '-' && !isDigit(*m_p))
            return wrongType(what);
        return scanNumber(begin, integral);
    }
    [[nodiscard]] bool readInt(int &out);
    [[nodiscard]] bool readBool(bool &out);
    [[nodiscard]] bool readDouble(double &out);
    [[nodiscard]] bool readText(Text &out);
    [[nodiscard]] bool readString(std::uint32_t &out, Text *text = nullptr);
    [[nodiscard]] bool readStringList(std::uint32_t &out, std::size_t &count);
    [[nodiscard]] bool readVersion();
    [[nodiscard]] bool readClass(TestClass &out);

    [[nodiscard]] bool readRoot();
    [[nodiscard]] bool readPage(std::uint32_t &entry);
    [[nodiscard]] bool readTest(std::uint32_t &out);
    [[nodiscard]] bool readQuestions(QuestionRun &run);
    [[nodiscard]] bool readQuestion();
    [[nodiscard]] bool readOptions(std::uint32_t &out, bool &anyCorrect);
    [[nodiscard]] bool readOption(bool &correct, std::size_t &labelBytes);
    [[nodiscard]] bool readResponses(Question &question);
    [[nodiscard]] bool readResponse();

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
};

QString DocumentReader::place() const
{
    if (m_place.empty())
        return QStringLiteral("root");
    QString text;
    for (const PlaceItem &item : m_place) {
        if (item.name.data()) {
            if (!text.isEmpty())
                text += QLatin1Char('.');
            // A name read from the document is whole: its string was checked before.
            text += item.raw
                        ? Json::decodeString(item.name.data() - 1)
                        : QString(QLatin1String(item.name.data(), qsizetype(item.name.size())));
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
        const int length = Json::utf8SequenceLength(s);
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
    const int cp = Json::hex4(s + 2);
    if (cp < 0)
        return syntaxError(s, "invalid escape");
    s += 6;
    if (cp >= 0xd800 && cp <= 0xdbff) {
        const int low = s[0] == '\\' && s[1] == 'u' ? Json::hex4(s + 2) : -1;
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
    begin = m_p;
    const char *s = m_p;
    if (!Json::scanNumber(s, integral))
        return unexpected(s, "invalid number");
    m_p = s;
    return true;
}

bool DocumentReader::skipValue()
{
    switch (*m_p) {
    case '{':
        return parseObject([this](const Text &name) { return skipMember(name); });
    case '[': {
        m_place.push_back({{}, 0, false});
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
            const char *begin = nullptr;
            bool integral = false;
            return scanNumber(begin, integral);
        }
        return unexpected(m_p, "expected a value");
    }
}

// A member this reader does not know: read through, under its own name for a reason.
bool DocumentReader::skipMember(const Text &name)
{
    m_place.push_back({name.view(), -1, true});
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

template <typename Member, typename F>
bool DocumentReader::known(const MemberTable<Member> &table, Member member, unsigned &seen,
                           F &&read)
{
    m_place.push_back({table.name(member), -1, false});
    const unsigned bit = MemberTable<Member>::bit(member);
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
    m_place.push_back({{}, 0, false});
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
    const char *begin = nullptr;
    bool integral = false;
    if (!readNumber("expected an integer", begin, integral))
        return false;
    if (!integral)
        return placeError("expected an integer");
    if (!Json::toInt32(begin, m_p, out))
        return placeError("integer does not fit in 32 bits");
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
    const char *begin = nullptr;
    bool integral = false;
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
    out = TestClasses.find(text.view());
    if (out == TestClass::Unknown)
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
    return readRoot();
}

bool DocumentReader::readRoot()
{
    unsigned seen = 0;
    const bool ok = readObject([&](const Text &key) {
        const RootMember member = RootMembers.find(key.view());
        switch (member) {
        case RootMember::Plexa:
            return known(RootMembers, member, seen, [&] { return readVersion(); });
        case RootMember::Title:
            return known(RootMembers, member, seen, [&] { return readString(m_store.title); });
        case RootMember::Pages:
            return known(RootMembers, member, seen, [&] {
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
        case RootMember::TestInstances:
            return known(RootMembers, member, seen, [&] {
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
    if (!(seen & RootMembers.bit(RootMember::Plexa)))
        return memberError(RootMembers, RootMember::Plexa, "missing");
    return true;
}

bool DocumentReader::readPage(std::uint32_t &entry)
{
    unsigned seen = 0;
    std::uint32_t keywords = 0;
    std::size_t keywordCount = 0;
    std::uint32_t test = 0;
    const bool ok = readObject([&](const Text &key) {
        const PageMember member = PageMembers.find(key.view());
        switch (member) {
        case PageMember::Keywords:
            return known(PageMembers, member, seen,
                         [&] { return readStringList(keywords, keywordCount); });
        case PageMember::Test:
            return known(PageMembers, member, seen,
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
    unsigned seen = 0;
    int kind = 0;
    // Unknown unless a "class" member names one; the kind decides then.
    TestClass testClass = TestClass::Unknown;
    std::uint32_t title = 0;
    std::uint32_t startedOn = 0;
    QuestionRun questions;
    const bool ok = readObject([&](const Text &key) {
        const TestMember member = TestMembers.find(key.view());
        switch (member) {
        case TestMember::Kind:
            return known(TestMembers, member, seen, [&] { return readInt(kind); });
        case TestMember::Class:
            return known(TestMembers, member, seen, [&] { return readClass(testClass); });
        case TestMember::Title:
            return known(TestMembers, member, seen, [&] { return readString(title); });
        case TestMember::StartedOn:
            return known(TestMembers, member, seen, [&] { return readString(startedOn); });
        case TestMember::Questions:
            return known(TestMembers, member, seen,
                         [&] { return readOrNull([&] { return readQuestions(questions); }); });
        default:
            return skipMember(key);
        }
    });
    if (!ok)
        return false;
    if (!(seen & TestMembers.bit(TestMember::Kind)))
        return memberError(TestMembers, TestMember::Kind, "missing");

    if (testClass == TestClass::Unknown) {
        testClass = kind == 1   ? TestClass::SelfPaced
                    : kind == 0 ? TestClass::InstructorPaced
                                : TestClass::Plain;
    }
    std::unique_ptr<Test> test;
    switch (testClass) {
    case TestClass::SelfPaced: {
        // Only a self-paced test delivers its title.
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
    Question question;
    QuestionDetails details;
    std::size_t answerCount = 0;
    bool correctOption = false;
    unsigned seen = 0;
    const bool ok = readObject([&](const Text &key) {
        const QuestionMember member = QuestionMembers.find(key.view());
        const auto read = [&](auto &&value) { return known(QuestionMembers, member, seen, value); };
        switch (member) {
        case QuestionMember::Id:
            return read([&] { return readString(question.m_id); });
        case QuestionMember::Text:
            return read([&] { return readString(question.m_text); });
        case QuestionMember::Type:
            return read([&] { return readInt(question.m_type); });
        case QuestionMember::HasCorrectAnswer:
            return read([&] { return readBool(question.m_hasCorrectAnswer); });
        case QuestionMember::Answers:
            return read([&] { return readStringList(details.answers, answerCount); });
        case QuestionMember::Options:
            return read([&] { return readOptions(details.options, correctOption); });
        case QuestionMember::LabelType:
            return read([&] { return readInt(details.labelType); });
        case QuestionMember::TextComparison:
            return read([&] { return readInt(details.textComparison); });
        case QuestionMember::Tolerance:
            return read([&] { return readDouble(details.tolerance); });
        case QuestionMember::Responses:
            return read([&] { return readOrNull([&] { return readResponses(question); }); });
        default:
            return skipMember(key);
        }
    });
    if (!ok)
        return false;
    if (!(seen & QuestionMembers.bit(QuestionMember::Id)))
        return memberError(QuestionMembers, QuestionMember::Id, "missing");
    if (!(seen & QuestionMembers.bit(QuestionMember::Type)))
        return memberError(QuestionMembers, QuestionMember::Type, "missing");
    if (!(seen & QuestionMembers.bit(QuestionMember::HasCorrectAnswer)))
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
        const OptionMember member = OptionMembers.find(key.view());
        switch (member) {
        case OptionMember::Label:
            return known(OptionMembers, member, seen, [&] {
                Text label;
                if (!readText(label))
                    return false;
                labelBytes = label.size;
                return true;
            });
        case OptionMember::Correct:
            return known(OptionMembers, member, seen, [&] { return readBool(correct); });
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
        const ResponseMember member = ResponseMembers.find(key.view());
        switch (member) {
        case ResponseMember::Text:
        case ResponseMember::StudentId:
        case ResponseMember::StudentName:
        case ResponseMember::Label:
            return known(ResponseMembers, member, seen, [&] {
                Text text;
                return readText(text);
            });
        case ResponseMember::StartTime:
            return known(ResponseMembers, member, seen, [&] {
                int startTime = 0;
                return readInt(startTime);
            });
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
