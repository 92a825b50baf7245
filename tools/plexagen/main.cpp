// plexagen: writes a large, realistic Plexa document for benchmarks and load tests.
//
// The document looks like a term of one teacher's lessons: about forty pages, most with a
// test of mixed question types, routed to one CSV file per class period by page keywords,
// and many test instances (runs of those tests with a class's students answering). The
// output is a pure function of the seed and the response count, on every platform: the
// generator uses its own PRNG and formats numbers with integers only.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// splitmix64: tiny, fast and fully specified, so a seed means the same document everywhere.
class Rng
{
public:
    explicit Rng(std::uint64_t seed) : state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, n) by multiply-shift; the bias for small n is far below what matters here.
    int below(int n) { return int(((next() >> 32) * std::uint64_t(n)) >> 32); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool percent(int p) { return below(100) < p; }
    // Probability in tenths of a percent, for rare events.
    bool permille(int p) { return below(1000) < p; }

    template <typename T>
    const T &pick(const std::vector<T> &v)
    {
        return v[std::size_t(below(int(v.size())))];
    }

private:
    std::uint64_t state;
};

// Buffered writer for one JSON text; flushes in large blocks so that a 100 MB document is
// bound by memory bandwidth rather than by stdio calls.
class JsonOut
{
public:
    // Without a file the writer only collects, for pieces that are serialized once and reused.
    explicit JsonOut(std::FILE *file = nullptr) : file(file)
    {
        if (file)
            buffer.reserve(BlockSize + 4096);
    }

    void raw(std::string_view s)
    {
        buffer.append(s.data(), s.size());
        if (file && buffer.size() >= BlockSize)
            flush();
    }

    void ch(char c) { buffer.push_back(c); }

    void integer(long long value)
    {
        char digits[24];
        int n = std::snprintf(digits, sizeof digits, "%lld", value);
        buffer.append(digits, std::size_t(n));
    }

    void string(std::string_view s)
    {
        buffer.push_back('"');
        for (char c : s) {
            unsigned char u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                buffer.push_back('\\');
                buffer.push_back(c);
            } else if (u < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", u);
                buffer.append(esc);
            } else {
                buffer.push_back(c);
            }
        }
        buffer.push_back('"');
    }

    // "name": with the leading comma when it is not the object's first member.
    void key(std::string_view name, bool first = false)
    {
        if (!first)
            buffer.push_back(',');
        buffer.push_back('"');
        buffer.append(name.data(), name.size());
        buffer.append("\":");
    }

    // The items as an array, each written by write(item).
    template <typename T, typename F>
    void array(const std::vector<T> &items, F &&write)
    {
        ch('[');
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i)
                ch(',');
            write(items[i]);
        }
        ch(']');
    }

    std::string take() { return std::move(buffer); }

    bool flush()
    {
        if (!file)
            return true;
        if (!buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size())
            failed = true;
        flushed += buffer.size();
        buffer.clear();
        return !failed;
    }

    // Bytes of the document so far.
    std::size_t size() const { return flushed + buffer.size(); }

    bool ok() const { return !failed; }

private:
    static constexpr std::size_t BlockSize = 1 << 20;
    std::FILE *file;
    std::string buffer;
    std::size_t flushed = 0;
    bool failed = false;
};

std::string fixed2(long long hundredths)
{
    char s[32];
    const char *sign = hundredths < 0 ? "-" : "";
    long long a = hundredths < 0 ? -hundredths : hundredths;
    std::snprintf(s, sizeof s, "%s%lld.%02lld", sign, a / 100, a % 100);
    return s;
}

std::string number(long long v)
{
    return std::to_string(v);
}

// Calendar date from a day count since 1970-01-01 (proleptic Gregorian).
std::string civilDate(long long days)
{
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long doe = days - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char s[64];
    std::snprintf(s, sizeof s, "%04lld-%02lld-%02lld", y, m, d);
    return s;
}

// What the question asks for, which decides its type code, its answers and what students send.
enum class Shape {
    Numeric,
    Equation,
    TextExact,
    TextCaseless,
    Sort,
    TrueFalse,
    YesNo,
    Lettered,
    Numbered,
    Unsupported,
    Opinion,
    Poll,
};

struct Option
{
    std::string label;
    bool correct = false;
};

struct Question
{
    std::string id;
    std::string text;
    int type = 0;
    std::vector<std::string> answers;
    std::vector<Option> options;
    int labelType = 0;
    int textComparison = 0;
    std::string tolerance; // as written in the file; empty leaves the default
    // Response texts that grade as right and as wrong; ungraded questions use only `wrong`.
    std::vector<std::string> right;
    std::vector<std::string> wrong;
    std::string head; // the serialized question up to its responses, shared by all instances
};

struct Page
{
    std::vector<std::string> keywords;
    bool hasTest = false;
    int kind = 1;
    std::string title;
    int period = 0; // class period the page is routed to; 0 when it goes to the default file
    std::vector<Question> questions;
};

struct Student
{
    std::string id;
    std::string name;
    int period = 1;
    int skill = 70; // chance in percent of a right answer
};

const std::vector<std::string> firstNames = {
    "Ann",  "Ben",  "Chloe",   "Daniel", "Emma",    "Felix", "Grace",  "Hugo",  "Isla",   "Jack",
    "Kira", "Liam", "Maya",    "Noah",   "Olivia",  "Pablo", "Quinn",  "Rosa",  "Samuel", "Tara",
    "Umar", "Vera", "William", "Xenia",  "Yusuf",   "Zoë",   "Amélie", "Bruno", "Carmen", "Dmitri",
    "Elif", "Finn", "Gemma",   "Hannah", "Ibrahim", "Jonas", "Lena",   "Mateo", "Nora",   "Oscar",
};

const std::vector<std::string> lastNames = {
    "Lee",    "Smith", "García", "Nguyen", "Okafor",  "Müller",  "Rossi",  "Kowalski",
    "Brown",  "Chen",  "Dubois", "Evans",  "Fischer", "Gupta",   "Hansen", "Ivanova",
    "Jensen", "Khan",  "Larsen", "Martin", "Novak",   "O'Brien", "Patel",  "Quispe",
    "Reyes",  "Silva", "Tanaka", "Usman",  "Varga",   "Walsh",
};

const std::vector<std::pair<std::string, std::string>> capitals = {
    {"France", "Paris"},  {"Italy", "Rome"},     {"Spain", "Madrid"},  {"Japan", "Tokyo"},
    {"Kenya", "Nairobi"}, {"Peru", "Lima"},      {"Norway", "Oslo"},   {"Egypt", "Cairo"},
    {"Canada", "Ottawa"}, {"Chile", "Santiago"}, {"Poland", "Warsaw"}, {"Greece", "Athens"},
};

const std::vector<std::pair<std::string, std::string>> terms = {
    {"The top number of a fraction is called the", "numerator"},
    {"The bottom number of a fraction is called the", "denominator"},
    {"A polygon with five sides is a", "pentagon"},
    {"The longest side of a right triangle is the", "hypotenuse"},
    {"The result of a division is the", "quotient"},
    {"An angle of exactly 90 degrees is a", "right angle"},
};

const std::vector<std::string> topics = {"Fractions", "Decimals",   "Geometry", "Ratios",
                                         "Algebra",   "Statistics", "Review",   "Homework"};

const std::vector<std::string> testTitles = {"Warm-up",  "Exit ticket", "Quick check", "Quiz",
                                             "Practice", "Starter",     "Review"};

std::string upper(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

Shape pickShape(Rng &rng)
{
    struct Weighted
    {
        Shape shape;
        int weight;
    };
    static const Weighted table[] = {
        {Shape::Numeric, 18},     {Shape::Equation, 6},  {Shape::TextExact, 6},
        {Shape::TextCaseless, 9}, {Shape::Sort, 6},      {Shape::TrueFalse, 7},
        {Shape::YesNo, 6},        {Shape::Lettered, 20}, {Shape::Numbered, 10},
        {Shape::Unsupported, 4},  {Shape::Opinion, 4},   {Shape::Poll, 4},
    };
    int total = 0;
    for (const Weighted &w : table)
        total += w.weight;
    int r = rng.below(total);
    for (const Weighted &w : table) {
        if (r < w.weight)
            return w.shape;
        r -= w.weight;
    }
    return Shape::Numeric;
}

// Options for "which is prime" (lettered) or "which is largest" (numbered); the right one is
// at a random position and the others are plausible distractors.
void makeChoice(Rng &rng, Question &q, int optionCount, bool numbered)
{
    static const std::vector<int> primes = {2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47};
    static const std::vector<int> composites = {4,  6,  8,  9,  12, 15, 21, 25,
                                                27, 33, 35, 39, 49, 51, 57, 91};
    const int correct = rng.below(optionCount);
    const int largest = rng.between(60, 99);
    for (int i = 0; i < optionCount; ++i) {
        Option o;
        o.correct = i == correct;
        if (numbered)
            o.label = number(o.correct ? largest : largest - rng.between(1, 50));
        else
            o.label = number(o.correct ? rng.pick(primes) : rng.pick(composites));
        q.options.push_back(o);
        std::vector<std::string> &texts = o.correct ? q.right : q.wrong;
        if (numbered) {
            texts.push_back(number(i + 1));
        } else {
            const std::string letter(1, char('A' + i));
            texts.push_back(letter);
            texts.push_back(lower(letter));
        }
    }
}

Question makeQuestion(Rng &rng, int page, int index)
{
    Question q;
    char id[48];
    // Authoring tools key questions by an opaque id; the page and position keep them unique.
    std::snprintf(id, sizeof id, "%08llx-p%02d-q%02d",
                  static_cast<unsigned long long>(rng.next() & 0xffffffffu), page, index);
    q.id = id;

    switch (pickShape(rng)) {
    case Shape::Numeric: {
        switch (rng.below(3)) {
        case 0: { // whole-number product, exact
            const int a = rng.between(3, 19), b = rng.between(3, 19);
            q.text = number(a) + " x " + number(b) + " = ?";
            q.answers = {number(a * b)};
            q.right = {number(a * b), number(a * b) + ".0"};
            q.wrong = {number(a * b + 1), number(a * b - a), number(a + b), number(a * b + 10)};
            break;
        }
        case 1: { // fraction as a decimal, to a hundredth
            static const int dens[] = {2, 4, 5, 8, 20, 25};
            const int den = dens[rng.below(6)];
            const int num = rng.between(1, den - 1);
            const long long h = 100LL * num / den; // exact for these denominators except 8
            q.text = "Write " + number(num) + "/" + number(den) + " as a decimal.";
            q.answers = {fixed2(h)};
            q.tolerance = "0.01";
            q.right = {fixed2(h), fixed2(h).substr(1), fixed2(h + 1)};
            q.wrong = {fixed2(h + 10), fixed2(h * 10), number(num) + "." + number(den),
                       fixed2(100 - h)};
            break;
        }
        default: { // measurement read from a diagram, half a unit either way
            const long long h = rng.between(40, 400) * 10;
            q.text = "How long is the segment in centimetres?";
            q.answers = {fixed2(h)};
            q.tolerance = "0.5";
            q.right = {fixed2(h), fixed2(h + 20), fixed2(h - 40)};
            q.wrong = {fixed2(h + 200), fixed2(h / 2), fixed2(h - 100)};
            break;
        }
        }
        q.type = 6;
        break;
    }
    case Shape::Equation: {
        const int x = rng.between(2, 12), a = rng.between(2, 9), b = rng.between(1, 20);
        q.text = "Solve " + number(a) + "x + " + number(b) + " = " + number(a * x + b) + " for x.";
        q.type = 10;
        q.answers = {number(x)};
        q.right = {number(x), number(x) + ".00"};
        q.wrong = {number(x + 1), number(x - 1), number(a * x), number(a * x + b)};
        break;
    }
    case Shape::TextExact:
    case Shape::TextCaseless: {
        const bool caseless = rng.percent(60);
        q.type = 7;
        q.textComparison = caseless ? 1 : 0;
        if (rng.percent(50)) {
            const auto &c = capitals[std::size_t(rng.below(int(capitals.size())))];
            q.text = "What is the capital of " + c.first + "?";
            q.answers = {c.second};
            q.right = {c.second};
            q.wrong = {capitals[std::size_t(rng.below(int(capitals.size())))].second + "s",
                       c.first};
            (caseless ? q.right : q.wrong).push_back(lower(c.second));
            (caseless ? q.right : q.wrong).push_back(upper(c.second));
        } else {
            const auto &t = terms[std::size_t(rng.below(int(terms.size())))];
            q.text = t.first + " ...";
            q.answers = {t.second};
            q.right = {t.second};
            q.wrong = {"fraction", t.second + "s"};
            (caseless ? q.right : q.wrong).push_back(upper(t.second));
        }
        break;
    }
    case Shape::Sort: {
        std::string order = "ABCD";
        if (rng.percent(40))
            order += 'E';
        for (std::size_t i = order.size() - 1; i > 0; --i)
            std::swap(order[i], order[std::size_t(rng.below(int(i) + 1))]);
        q.text = "Put the numbers in order from smallest to largest.";
        q.type = 8;
        for (std::size_t i = 0; i < order.size(); ++i)
            q.options.push_back({fixed2(rng.between(1, 999)), false});
        q.answers = {order};
        q.right = {order};
        std::string swapped = order;
        std::swap(swapped[0], swapped[1]);
        std::string reversed(order.rbegin(), order.rend());
        q.wrong = {swapped, reversed, lower(order)};
        break;
    }
    case Shape::TrueFalse:
    case Shape::YesNo: {
        const bool trueFalse = rng.percent(50);
        const bool firstCorrect = rng.percent(55);
        q.type = trueFalse ? 3 : 4;
        q.text = trueFalse ? "True or false: every square is a rectangle." : "Is 0.5 equal to 1/2?";
        q.options = {{trueFalse ? "True" : "Yes", firstCorrect},
                     {trueFalse ? "False" : "No", !firstCorrect}};
        const std::vector<std::string> first =
            trueFalse ? std::vector<std::string>{"T"} : std::vector<std::string>{"Y"};
        const std::vector<std::string> second =
            trueFalse ? std::vector<std::string>{"F"} : std::vector<std::string>{"N"};
        q.right = firstCorrect ? first : second;
        q.wrong = firstCorrect ? second : first;
        if (!trueFalse) {
            q.options.push_back({"Not sure", false});
            q.wrong.push_back("X");
        }
        break;
    }
    case Shape::Lettered:
        q.type = 1;
        q.text = "Which of these is a prime number?";
        makeChoice(rng, q, rng.between(3, 5), false);
        break;
    case Shape::Numbered:
        // Numbered options; some authoring versions store these with type code 2.
        q.type = rng.percent(80) ? 1 : 2;
        q.labelType = 1;
        q.text = "Which option shows the largest value?";
        makeChoice(rng, q, rng.between(3, 5), true);
        break;
    case Shape::Unsupported:
        q.type = 9;
        q.text = "Draw the line of symmetry.";
        q.wrong = {"ink:12", "ink:40", "ink:7"};
        break;
    case Shape::Opinion:
        q.type = 7;
        q.text = "Which topic should we review next?";
        q.wrong = {"fractions", "decimals", "Geometry", "nothing", "ratios please"};
        break;
    case Shape::Poll: // a lettered poll: no option is right, so it is not graded
        q.type = 1;
        q.text = "How confident do you feel about today's lesson?";
        q.options = {{"Very", false}, {"Somewhat", false}, {"Not yet", false}};
        q.wrong = {"A", "B", "C"};
        break;
    }
    return q;
}

std::string serializeQuestionHead(const Question &q)
{
    JsonOut j;
    j.ch('{');
    j.key("id", true);
    j.string(q.id);
    j.key("text");
    j.string(q.text);
    j.key("type");
    j.integer(q.type);
    if (!q.answers.empty()) {
        j.key("answers");
        j.array(q.answers, [&](const std::string &answer) { j.string(answer); });
    }
    if (!q.options.empty()) {
        j.key("options");
        j.array(q.options, [&](const auto &option) {
            j.ch('{');
            j.key("label", true);
            j.string(option.label);
            if (option.correct)
                j.raw(",\"correct\":true");
            j.ch('}');
        });
    }
    if (q.labelType) {
        j.key("labelType");
        j.integer(q.labelType);
    }
    if (q.type == 7 && !q.answers.empty()) {
        j.key("textComparison");
        j.integer(q.textComparison);
    }
    if (!q.tolerance.empty()) {
        j.key("tolerance");
        j.raw(q.tolerance);
    }
    return j.take();
}

std::vector<Page> makePages(Rng &rng, int pageCount)
{
    std::vector<Page> pages(static_cast<std::size_t>(pageCount));
    for (int i = 0; i < pageCount; ++i) {
        Page &p = pages[std::size_t(i)];
        // The opening page and a few explanation pages carry no test.
        if (i == 0 || rng.percent(7)) {
            if (rng.percent(50))
                p.keywords.push_back(rng.pick(topics));
            continue;
        }
        p.hasTest = true;
        p.kind = rng.percent(85) ? 1 : 0;
        p.title = rng.pick(testTitles) + " " + number(i);
        const int route = rng.below(100);
        if (route < 74) {
            p.period = rng.between(1, 4);
            if (rng.percent(30))
                p.keywords.push_back(rng.pick(topics));
            p.keywords.push_back("CSV: Period " + number(p.period));
        } else if (route < 88) {
            // No keyword: the default file.
        } else {
            p.keywords.push_back(rng.pick(topics)); // not a file keyword: the default file too
        }
        const int count = rng.between(8, 12);
        for (int j = 0; j < count; ++j) {
            p.questions.push_back(makeQuestion(rng, i + 1, j + 1));
            p.questions.back().head = serializeQuestionHead(p.questions.back());
        }
    }
    if (std::none_of(pages.begin(), pages.end(), [](const Page &p) { return p.hasTest; })) {
        Page &p = pages.back();
        p.hasTest = true;
        p.title = "Quiz";
        for (int j = 0; j < 10; ++j) {
            p.questions.push_back(makeQuestion(rng, pageCount, j + 1));
            p.questions.back().head = serializeQuestionHead(p.questions.back());
        }
    }
    return pages;
}

std::vector<Student> makeStudents(Rng &rng, int count)
{
    // Distinct names, so that a response carrying only a name still names one student.
    std::vector<int> combos(firstNames.size() * lastNames.size());
    for (std::size_t i = 0; i < combos.size(); ++i)
        combos[i] = int(i);
    for (std::size_t i = combos.size() - 1; i > 0; --i)
        std::swap(combos[i], combos[std::size_t(rng.below(int(i) + 1))]);

    std::vector<Student> students(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        Student &s = students[std::size_t(i)];
        char id[16];
        std::snprintf(id, sizeof id, "S-%04d", i + 1);
        s.id = id;
        const int combo = combos[std::size_t(i) % combos.size()];
        s.name = firstNames[std::size_t(combo) % firstNames.size()] + " " +
                 lastNames[std::size_t(combo) / firstNames.size()];
        s.period = 1 + i % 4;
        s.skill = rng.between(45, 95);
    }
    return students;
}

void writeKeywords(JsonOut &out, const std::vector<std::string> &keywords)
{
    out.key("keywords", true);
    out.array(keywords, [&](const std::string &keyword) { out.string(keyword); });
}

void writePages(JsonOut &out, const std::vector<Page> &pages)
{
    out.key("pages");
    out.array(pages, [&](const Page &p) {
        out.ch('{');
        writeKeywords(out, p.keywords);
        if (p.hasTest) {
            out.key("test");
            out.ch('{');
            out.key("kind", true);
            out.integer(p.kind);
            out.key("title");
            out.string(p.title);
            out.key("questions");
            out.array(p.questions, [&](const Question &q) {
                out.raw(q.head);
                out.ch('}');
            });
            out.ch('}');
        }
        out.ch('}');
    });
}

struct Totals
{
    long long responses = 0;
    long long instances = 0;
};

// One run of a page's test with the students of one class period. Returns the responses written.
long long writeInstance(JsonOut &out, Rng &rng, const Page &page, const std::vector<int> &cls,
                        const std::vector<Student> &students, long long instanceIndex,
                        long long remaining)
{
    // Lessons follow one another through the term: about eight test runs per school day.
    const long long day = 20458 + instanceIndex / 8; // 2026-01-05 onwards
    const int minutes = 8 * 60 + int(instanceIndex % 8) * 50 + rng.below(20);
    char startedOn[32];
    std::snprintf(startedOn, sizeof startedOn, "%s %02d:%02d", civilDate(day).c_str(), minutes / 60,
                  minutes % 60);

    std::vector<int> present;
    for (int s : cls)
        if (rng.percent(92))
            present.push_back(s);
    const std::size_t deviceOffset = std::size_t(rng.below(40));
    const long long deviceCount = std::max<long long>(40, (long long)present.size());

    out.ch('{');
    out.key("kind", true);
    out.integer(page.kind);
    out.key("title");
    out.string(page.title);
    out.key("startedOn");
    out.string(startedOn);
    out.key("questions");
    out.ch('[');
    long long written = 0;
    for (std::size_t qi = 0; qi < page.questions.size(); ++qi) {
        const Question &q = page.questions[qi];
        if (qi)
            out.ch(',');
        out.raw(q.head);
        out.raw(",\"responses\":[");
        bool firstResponse = true;
        for (std::size_t pos = 0; pos < present.size() && written < remaining; ++pos) {
            if (!rng.percent(94))
                continue; // the student did not answer this one
            const Student &student = students[std::size_t(present[pos])];
            // Each present student holds a device of their own for the whole run.
            const std::string device =
                "Device " + number(1 + (long long)(pos + deviceOffset) % deviceCount);
            const int identity = rng.below(1000);
            int startTime = int(qi) * 45 + rng.between(2, 40);
            const int attempts = (written + 1 < remaining && rng.percent(5)) ? 2 : 1;
            for (int attempt = 0; attempt < attempts; ++attempt) {
                if (attempt == 1) {
                    // Mostly a later correction; now and then a device resends an older answer.
                    startTime = rng.percent(85) ? startTime + rng.between(5, 60)
                                                : std::max(0, startTime - rng.between(1, 30));
                }
                const bool right = !q.right.empty() && rng.percent(student.skill);
                std::string text = right ? rng.pick(q.right) : rng.pick(q.wrong);
                if ((q.type == 3 || q.type == 4) && rng.permille(3))
                    text.clear(); // submitted without ticking anything
                if (!firstResponse)
                    out.ch(',');
                firstResponse = false;
                out.ch('{');
                out.key("text", true);
                out.string(text);
                // A few devices send no student id: only a name, or only the device label.
                if (identity >= 20) {
                    out.key("studentId");
                    out.string(student.id);
                }
                if (identity >= 20 || identity < 10) {
                    out.key("studentName");
                    out.string(student.name);
                }
                if (identity >= 10) {
                    out.key("label");
                    out.string(device);
                }
                out.key("startTime");
                out.integer(startTime);
                out.ch('}');
                ++written;
            }
        }
        out.raw("]}");
    }
    out.raw("]}");
    return written;
}

Totals writeDocument(JsonOut &out, std::uint64_t seed, long long responses)
{
    Rng rng(seed);
    const std::vector<Page> pages = makePages(rng, 40);
    // Bigger documents come from bigger schools: 30 students for small ones, up to 300.
    int studentCount = 30;
    while (studentCount < 300 && 10LL * studentCount * studentCount < responses)
        ++studentCount;
    const std::vector<Student> students = makeStudents(rng, studentCount);
    std::vector<std::vector<int>> classes(5);
    for (int i = 0; i < studentCount; ++i)
        classes[std::size_t(students[std::size_t(i)].period)].push_back(i);

    std::vector<std::size_t> testPages;
    for (std::size_t i = 0; i < pages.size(); ++i)
        if (pages[i].hasTest)
            testPages.push_back(i);

    out.raw("{\"plexa\":1");
    out.key("title");
    out.string("Mathematics 7, term 2 (seed " + std::to_string(seed) + ")");
    writePages(out, pages);
    out.key("testInstances");
    out.ch('[');
    Totals totals;
    while (totals.responses < responses) {
        const Page &page = pages[testPages[std::size_t(rng.below(int(testPages.size())))]];
        const int period = page.period ? page.period : rng.between(1, 4);
        if (totals.instances)
            out.ch(',');
        totals.responses += writeInstance(out, rng, page, classes[std::size_t(period)], students,
                                          totals.instances, responses - totals.responses);
        ++totals.instances;
    }
    out.raw("]}\n");
    return totals;
}

// The densest documents of one kind of object, for measuring what each costs: a head, as
// many elements as fit in the size asked for, and a tail that closes the document.
struct DenseShape
{
    const char *name;
    const char *what;
    const char *head;
    const char *tail;
    // Writes element i (without the comma before it).
    void (*element)(JsonOut &out, long long i);
};

// A short key of its own for every i: letters and digits, as short as the count allows.
void distinctKey(JsonOut &out, long long i)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    char key[16];
    int n = 0;
    do {
        key[n++] = alphabet[i % 62];
        i /= 62;
    } while (i);
    out.ch('"');
    while (n)
        out.ch(key[--n]);
    out.ch('"');
}

// The same for keys that are upper-cased on the way: lower-case letters and digits only, without
// quotes.
void caselessKey(JsonOut &out, long long i)
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    char key[16];
    int n = 0;
    do {
        key[n++] = alphabet[i % 36];
        i /= 36;
    } while (i);
    while (n)
        out.ch(key[--n]);
}

#define SCORLET_GRADED_PAGE                                                                        \
    "{\"plexa\":1,\"pages\":[{\"test\":{\"kind\":1,\"questions\":[{\"id\":\"q\",\"type\":6,"       \
    "\"answers\":[\"1\"]}]}}],"
#define SCORLET_ONE_QUESTION                                                                       \
    "\"testInstances\":[{\"kind\":1,\"questions\":[{\"id\":\"q\",\"type\":6,\"answers\":[\"1\"],"

const DenseShape denseShapes[] = {
    {"empty-responses", "responses written as {} to one graded question",
     SCORLET_GRADED_PAGE SCORLET_ONE_QUESTION "\"responses\":[", "]}]}]}",
     [](JsonOut &out, long long) { out.raw("{}"); }},
    {"null-responses", "null elements in one question's responses",
     SCORLET_GRADED_PAGE SCORLET_ONE_QUESTION "\"responses\":[", "]}]}]}",
     [](JsonOut &out, long long) { out.raw("null"); }},
    {"distinct-students", "responses {\"label\":\"<distinct short key>\"} to one graded question",
     SCORLET_GRADED_PAGE SCORLET_ONE_QUESTION "\"responses\":[", "]}]}]}",
     [](JsonOut &out, long long i) {
         out.raw("{\"label\":");
         distinctKey(out, i);
         out.ch('}');
     }},
    {"test-instances", "test instances {\"kind\":5}", "{\"plexa\":1,\"testInstances\":[", "]}",
     [](JsonOut &out, long long) { out.raw("{\"kind\":5}"); }},
    {"distinct-tests", "test instances of distinct kinds, none equal to another",
     "{\"plexa\":1,\"testInstances\":[", "]}",
     [](JsonOut &out, long long i) {
         out.raw("{\"kind\":");
         out.integer(i + 2);
         out.ch('}');
     }},
    {"empty-pages", "pages written as {}", "{\"plexa\":1,\"pages\":[", "]}",
     [](JsonOut &out, long long) { out.raw("{}"); }},
    {"dense-questions", "questions {\"id\":\"\",\"type\":0} in one test instance",
     "{\"plexa\":1,\"testInstances\":[{\"kind\":1,\"questions\":[", "]}]}",
     [](JsonOut &out, long long) { out.raw("{\"id\":\"\",\"type\":0}"); }},
    {"dense-options", "options written as {} of one question",
     "{\"plexa\":1,\"pages\":[{\"test\":{\"kind\":1,\"questions\":[{\"id\":\"q\",\"type\":1,"
     "\"options\":[",
     "]}]}}]}", [](JsonOut &out, long long) { out.raw("{}"); }},
    {"dense-answers", "answers written as \"1\" of one question",
     "{\"plexa\":1,\"pages\":[{\"test\":{\"kind\":1,\"questions\":[{\"id\":\"q\",\"type\":7,"
     "\"answers\":[",
     "]}]}}]}", [](JsonOut &out, long long) { out.raw("\"1\""); }},
    {"dense-keywords", "keywords written as \"\" of one page",
     "{\"plexa\":1,\"pages\":[{\"keywords\":[", "]}]}",
     [](JsonOut &out, long long) { out.raw("\"\""); }},
    // Written by functions of their own (see writeDense).
    {"many-questions", "one student answering every one of a page test's many questions", nullptr,
     nullptr, nullptr},
    {"polls", "many small test runs: one poll question, two responses, title and start text",
     nullptr, nullptr, nullptr},
    {"keyword-files", "pages each routed to a file of its own, by a key that cannot be written",
     "{\"plexa\":1,\"pages\":[", "]}",
     [](JsonOut &out, long long i) {
         // The bar keeps the file from being written; the export still plans and logs it.
         out.raw("{\"keywords\":[\"CSV:|");
         caselessKey(out, i);
         out.raw("\"],\"test\":{\"kind\":1}}");
     }},
    // The reader counts the test object of every page and refuses keyword-files as too many
    // objects for its size; with the blanks it accepts them, the densest such document.
    {"spaced-keyword-files", "keyword-files with 64 blanks after each page",
     "{\"plexa\":1,\"pages\":[", "]}",
     [](JsonOut &out, long long i) {
         out.raw("{\"keywords\":[\"CSV:|");
         caselessKey(out, i);
         out.raw("\"],\"test\":{\"kind\":1}}");
         out.raw("                                                                ");
     }},
    {"shared-students", "the same 600 students answering in each of many keyword files", nullptr,
     nullptr, nullptr},
};

#undef SCORLET_GRADED_PAGE
#undef SCORLET_ONE_QUESTION

const DenseShape *findShape(const std::string &name)
{
    for (const DenseShape &shape : denseShapes) {
        if (name == shape.name)
            return &shape;
    }
    return nullptr;
}

void manyQuestionsQuestion(JsonOut &out, long long i)
{
    out.raw("{\"id\":");
    distinctKey(out, i);
    out.raw(",\"type\":6,\"answers\":[\"1\"]");
}

// A page test of many questions, then one test run in which one student answers every one
// of them.
void writeManyQuestions(JsonOut &out, long long bytes)
{
    out.raw("{\"plexa\":1,\"pages\":[{\"test\":{\"kind\":1,\"questions\":[");
    // A page question takes about 40 bytes, its answered copy about 84.
    long long count = 0;
    const long long questions = std::max<long long>(1, (bytes - 200) / 124);
    for (; count < questions; ++count) {
        if (count)
            out.ch(',');
        manyQuestionsQuestion(out, count);
        out.ch('}');
    }
    out.raw("]}}],\"testInstances\":[{\"kind\":1,\"questions\":[");
    for (long long i = 0; i < count; ++i) {
        if (i)
            out.ch(',');
        manyQuestionsQuestion(out, i);
        out.raw(",\"responses\":[{\"text\":\"1\",\"studentId\":\"S-0001\"}]}");
    }
    out.raw("]}]}\n");
}

// Realistic polls: a few pages with a poll each, and many runs of them, each answered by
// two students of a class.
void writePolls(JsonOut &out, long long bytes)
{
    Rng rng(7);
    static const char *const questionText = "How confident do you feel about today's lesson?";
    const auto question = [&](int poll) {
        out.raw("{\"id\":\"poll-");
        out.integer(poll);
        out.raw("\",\"text\":\"");
        out.raw(questionText);
        out.raw("\",\"type\":1,\"options\":[{\"label\":\"Very\",\"correct\":true},"
                "{\"label\":\"Somewhat\"},{\"label\":\"Not yet\"}]");
    };
    constexpr int Polls = 20;
    out.raw("{\"plexa\":1,\"title\":\"Polls\",\"pages\":[");
    for (int poll = 0; poll < Polls; ++poll) {
        if (poll)
            out.ch(',');
        out.raw("{\"keywords\":[\"CSV: Period ");
        out.integer(1 + poll % 4);
        out.raw("\"],\"test\":{\"kind\":1,\"title\":\"Poll ");
        out.integer(poll + 1);
        out.raw("\",\"questions\":[");
        question(poll);
        out.raw("}]}}");
    }
    out.raw("],\"testInstances\":[");
    for (long long run = 0; out.size() + 600 < std::size_t(bytes) || run == 0; ++run) {
        if (run)
            out.ch(',');
        const int poll = rng.below(Polls);
        out.raw("{\"kind\":1,\"title\":\"Poll ");
        out.integer(poll + 1);
        out.raw("\",\"startedOn\":\"");
        out.raw(civilDate(20458 + run / 8));
        out.raw(" 09:");
        out.integer(10 + run % 50);
        out.raw("\",\"questions\":[");
        question(poll);
        out.raw(",\"responses\":[");
        for (int r = 0; r < 2; ++r) {
            if (r)
                out.ch(',');
            const int student = rng.below(300);
            char id[16];
            std::snprintf(id, sizeof id, "S-%04d", student + 1);
            out.raw("{\"text\":\"");
            out.ch(char('A' + rng.below(3)));
            out.raw("\",\"studentId\":\"");
            out.raw(id);
            out.raw("\",\"studentName\":\"");
            out.raw(firstNames[std::size_t(student) % firstNames.size()]);
            out.raw(" ");
            out.raw(lastNames[std::size_t(student) % lastNames.size()]);
            out.raw("\",\"label\":\"Device ");
            out.integer(1 + student % 40);
            out.raw("\",\"startTime\":");
            out.integer(rng.between(2, 60));
            out.ch('}');
        }
        out.raw("]}]}");
    }
    out.raw("]}\n");
}

// One class of 600 students answering one question in each of many keyword files: a page
// per file, then a test run per file with a response from every student (device labels only).
void writeSharedStudents(JsonOut &out, long long bytes)
{
    constexpr int Students = 600;
    // A file's page takes about 90 bytes, its run about 60 and 17 bytes a student.
    const long long files = std::max<long long>(1, bytes / (90 + 60 + 17 * Students));
    const auto question = [&](long long file) {
        out.raw("{\"id\":\"q");
        out.integer(file);
        out.raw("\",\"type\":6,\"answers\":[\"1\"]");
    };
    out.raw("{\"plexa\":1,\"pages\":[");
    for (long long file = 0; file < files; ++file) {
        if (file)
            out.ch(',');
        out.raw("{\"keywords\":[\"CSV: F");
        out.integer(file);
        out.raw("\"],\"test\":{\"kind\":1,\"questions\":[");
        question(file);
        out.raw("}]}}");
    }
    out.raw("],\"testInstances\":[");
    for (long long file = 0; file < files; ++file) {
        if (file)
            out.ch(',');
        out.raw("{\"kind\":1,\"questions\":[");
        question(file);
        out.raw(",\"responses\":[");
        for (int student = 0; student < Students; ++student) {
            if (student)
                out.ch(',');
            out.raw("{\"label\":\"s");
            out.integer(100 + student);
            out.raw("\"}");
        }
        out.raw("]}]}");
    }
    out.raw("]}\n");
}

// A document of the shape that fills about `bytes` bytes (at least one element).
void writeDense(JsonOut &out, const DenseShape &shape, long long bytes)
{
    if (std::string_view(shape.name) == "many-questions")
        return writeManyQuestions(out, bytes);
    if (std::string_view(shape.name) == "polls")
        return writePolls(out, bytes);
    if (std::string_view(shape.name) == "shared-students")
        return writeSharedStudents(out, bytes);
    const std::size_t tail = std::strlen(shape.tail) + 1;
    out.raw(shape.head);
    for (long long i = 0; i == 0 || out.size() + tail + 24 < std::size_t(bytes); ++i) {
        if (i)
            out.ch(',');
        shape.element(out, i);
    }
    out.raw(shape.tail);
    out.ch('\n');
}

bool parseCount(const char *text, long long &value)
{
    if (!text || !*text)
        return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text, &end, 10);
    if (errno || *end || v < 0)
        return false;
    value = v;
    return true;
}

int usage(std::FILE *to)
{
    std::fputs("usage: plexagen --responses N [--seed S] [--output FILE]\n"
               "       plexagen --shape NAME --bytes N [--output FILE]\n"
               "Writes a valid Plexa document with exactly N responses; the same N and S give\n"
               "the same document. With --shape, writes a document of about N bytes of the\n"
               "densest kind NAME instead. Without --output the document goes to standard\n"
               "output. Shapes:\n",
               to);
    for (const DenseShape &shape : denseShapes)
        std::fprintf(to, "  %-18s %s\n", shape.name, shape.what);
    return to == stdout ? 0 : 2;
}

} // namespace

int main(int argc, char **argv)
{
    long long responses = -1;
    long long seed = 1;
    long long bytes = -1;
    const DenseShape *shape = nullptr;
    const char *output = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--help" || arg == "-h")
            return usage(stdout);
        if (arg == "--responses" && parseCount(value, responses)) {
            ++i;
        } else if (arg == "--seed" && parseCount(value, seed)) {
            ++i;
        } else if (arg == "--bytes" && parseCount(value, bytes)) {
            ++i;
        } else if (arg == "--shape" && value && findShape(value)) {
            shape = findShape(value);
            ++i;
        } else if (arg == "--output" && value) {
            output = value;
            ++i;
        } else {
            std::fprintf(stderr, "plexagen: bad argument: %s\n", arg.c_str());
            return usage(stderr);
        }
    }
    if (shape ? bytes < 0 || responses >= 0 : responses < 0)
        return usage(stderr);

    std::FILE *file = output ? std::fopen(output, "wb") : stdout;
    if (!file) {
        std::fprintf(stderr, "plexagen: cannot write %s: %s\n", output, std::strerror(errno));
        return 1;
    }
    JsonOut out(file);
    Totals totals;
    if (shape)
        writeDense(out, *shape, bytes);
    else
        totals = writeDocument(out, std::uint64_t(seed), responses);
    bool ok = out.flush();
    if (output)
        ok = std::fclose(file) == 0 && ok;
    else
        ok = std::fflush(file) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "plexagen: writing %s failed\n", output ? output : "standard output");
        return 1;
    }
    if (shape)
        std::fprintf(stderr, "plexagen: %s, %zu bytes\n", shape->name, out.size());
    else
        std::fprintf(stderr, "plexagen: %lld responses in %lld test instances\n", totals.responses,
                     totals.instances);
    return 0;
}
