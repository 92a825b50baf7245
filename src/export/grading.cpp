#include "grading.h"

#include "question.h"
#include "razuzezoz.h"
#include "response.h"

#include <charconv>
#include <system_error>

QString typeNameForCode(int type)
{
    switch (type) {
    case 0:
    case 9:
        return TypeNames::unsupported;
    case 6:
        return TypeNames::numeric;
    case 7:
        return TypeNames::alphanumeric;
    case 8:
        return TypeNames::sort;
    case 10:
        return TypeNames::equation;
    default:
        // Types 3 and 4 as well as every code the library does not name are choices.
        return TypeNames::tickBoxes;
    }
}

qint64 chosenOptionIndex(int type, int labelType, const QString &response)
{
    if (type == 3 || type == 4) {
        if (response == QLatin1String("Y") || response == QLatin1String("T"))
            return 0;
        if (response == QLatin1String("N") || response == QLatin1String("F"))
            return 1;
        if (response == QLatin1String("X"))
            return 2;
        return 0;
    }
    if (labelType == 1) {
        // 64-bit so that the smallest int still has an index one below it.
        return qint64(response.toInt()) - 1;
    }
    const QString upper = response.toUpper();
    if (upper.isEmpty())
        return -1;
    return qint64(upper.at(0).unicode()) - 'A';
}

bool matchesChoice(qint64 chosenIndex, const QList<bool> &optionCorrect)
{
    if (chosenIndex < 0 || chosenIndex >= optionCorrect.size())
        return false;
    return optionCorrect.at(qsizetype(chosenIndex));
}

bool matchesSort(const QString &response, const QStringList &answers)
{
    return answers.contains(response, Qt::CaseSensitive);
}

bool matchesText(const QString &response, const QStringList &answers, int textComparison)
{
    // Code 1 ignores case; any other non-zero code only upper-cases the answers, so
    // the response then has to be typed in upper case.
    const QString typed = textComparison == 1 ? response.toUpper() : response;
    for (const QString &answer : answers) {
        const QString expected = textComparison != 0 ? answer.toUpper() : answer;
        if (typed == expected)
            return true;
    }
    return false;
}

bool matchesNumber(const QString &response, const QStringList &answers, double tolerance)
{
    const double value = response.toDouble();
    for (const QString &answer : answers) {
        // A difference that is not a number compares false and so never matches.
        if (qAbs(value - answer.toDouble()) <= tolerance)
            return true;
    }
    return false;
}

bool gradeAnswer(const GradingInput &input)
{
    if (input.typeName == TypeNames::sort)
        return matchesSort(input.response, input.answers);
    if (input.typeName == TypeNames::tickBoxes) {
        const qint64 chosen = chosenOptionIndex(input.type, input.labelType, input.response);
        return matchesChoice(chosen, input.optionCorrect);
    }
    if (input.typeName == TypeNames::alphanumeric)
        return matchesText(input.response, input.answers, input.textComparison);
    return matchesNumber(input.response, input.answers, input.tolerance);
}

namespace {

// Longest text taken by the quick roads: a plain decimal this short can neither overflow nor
// underflow, and an integer of nine digits always fits an int.
constexpr qsizetype QuickNumberLength = 24;
constexpr qsizetype QuickIntegerDigits = 9;

bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// What QString::toUpper makes of an ASCII character.
char16_t asciiUpper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c;
}

} // namespace

double numberValue(QStringView text)
{
    // Only an optional minus, digits, and a point with more digits go the quick way. Blanks,
    // plus signs, exponents, "inf", "nan" and everything else are left to Qt, whose rules
    // they follow.
    const qsizetype size = text.size();
    if (size > 0 && size <= QuickNumberLength) {
        char ascii[QuickNumberLength];
        qsizetype i = 0;
        if (text[0] == u'-')
            ascii[i++] = '-';
        const qsizetype firstDigit = i;
        while (i < size && isAsciiDigit(text[i].unicode())) {
            ascii[i] = char(text[i].unicode());
            ++i;
        }
        bool plain = i > firstDigit;
        if (plain && i < size) {
            plain = text[i] == u'.';
            ascii[i++] = '.';
            const qsizetype firstDecimal = i;
            while (i < size && isAsciiDigit(text[i].unicode())) {
                ascii[i] = char(text[i].unicode());
                ++i;
            }
            plain = plain && i > firstDecimal && i == size;
        }
        if (plain) {
            double value = 0.0;
            const std::from_chars_result read = std::from_chars(ascii, ascii + size, value);
            if (read.ec == std::errc() && read.ptr == ascii + size)
                return value;
        }
    }
    return text.toDouble();
}

int integerValue(QStringView text)
{
    const qsizetype size = text.size();
    const qsizetype firstDigit = size > 0 && text[0] == u'-' ? 1 : 0;
    const qsizetype digits = size - firstDigit;
    if (digits > 0 && digits <= QuickIntegerDigits) {
        int value = 0;
        qsizetype i = firstDigit;
        while (i < size && isAsciiDigit(text[i].unicode())) {
            value = value * 10 + (text[i].unicode() - u'0');
            ++i;
        }
        if (i == size)
            return firstDigit ? -value : value;
    }
    return text.toInt();
}

QuestionGrader::QuestionGrader(const GradingInput &question)
    : m_type(question.type), m_labelType(question.labelType),
      m_textComparison(question.textComparison), m_tolerance(question.tolerance),
      m_optionCorrect(question.optionCorrect), m_answers(question.answers)
{
    prepare(question.typeName);
}

QuestionGrader::QuestionGrader(const Zazizi::Question &question, const QString &typeName)
    : m_type(question.type()), m_labelType(question.labelType()),
      m_textComparison(question.textComparison()), m_tolerance(question.tolerance()),
      m_answers(question.answerList())
{
    const QList<Zazizi::Question::Option> options = question.options();
    m_optionCorrect.reserve(options.size());
    for (const Zazizi::Question::Option &option : options)
        m_optionCorrect.append(option.correct);
    prepare(typeName);
}

void QuestionGrader::prepare(const QString &typeName)
{
    if (typeName == TypeNames::sort) {
        m_rule = Rule::Sort;
    } else if (typeName == TypeNames::tickBoxes) {
        m_rule = Rule::Choice;
    } else if (typeName == TypeNames::alphanumeric) {
        m_rule = Rule::Text;
        if (m_textComparison != 0) {
            for (QString &answer : m_answers)
                answer = answer.toUpper();
        }
    } else {
        m_rule = Rule::Number;
        m_answerValues.reserve(m_answers.size());
        for (const QString &answer : std::as_const(m_answers))
            m_answerValues.append(answer.toDouble());
    }
}

namespace {

// Plain equality, which looks at the lengths first; QStringList::contains orders the texts.
bool containsExactly(const QStringList &answers, const QString &text)
{
    for (const QString &answer : answers) {
        if (answer == text)
            return true;
    }
    return false;
}

// Whether the response, upper-cased, equals one of the upper-cased answers. Upper-casing
// changes no ASCII character but a to z and never turns one into several, so an ASCII response
// is compared letter by letter instead of being copied upper-cased.
bool containsUpperCased(const QStringList &upperAnswers, const QString &response)
{
    const QChar *typed = response.constData();
    const qsizetype size = response.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (typed[i].unicode() >= 0x80)
            return containsExactly(upperAnswers, response.toUpper());
    }
    for (const QString &answer : upperAnswers) {
        if (answer.size() != size)
            continue;
        const QChar *expected = answer.constData();
        qsizetype i = 0;
        while (i < size) {
            if (asciiUpper(typed[i].unicode()) != expected[i].unicode())
                break;
            ++i;
        }
        if (i == size)
            return true;
    }
    return false;
}

} // namespace

bool QuestionGrader::grade(const QString &response) const
{
    switch (m_rule) {
    case Rule::Sort:
        return containsExactly(m_answers, response);
    case Rule::Choice:
        return gradeChoice(response);
    case Rule::Text:
        return m_textComparison == 1 ? containsUpperCased(m_answers, response)
                                     : containsExactly(m_answers, response);
    case Rule::Number:
        break;
    }
    const double value = numberValue(response);
    for (const double answer : m_answerValues) {
        if (qAbs(value - answer) <= m_tolerance)
            return true;
    }
    return false;
}

bool QuestionGrader::gradeChoice(const QString &response) const
{
    qint64 chosen = 0;
    if (m_type == 3 || m_type == 4) {
        chosen = chosenOptionIndex(m_type, m_labelType, response);
    } else if (m_labelType == 1) {
        chosen = qint64(integerValue(response)) - 1;
    } else if (!response.isEmpty() && response.at(0).unicode() < 0x80) {
        // Upper-casing maps each character on its own, so an ASCII first character decides
        // without the rest being upper-cased.
        chosen = qint64(asciiUpper(response.at(0).unicode())) - 'A';
    } else {
        chosen = chosenOptionIndex(m_type, m_labelType, response);
    }
    return matchesChoice(chosen, m_optionCorrect);
}

QString raZuzezoz::questionTypeName(Zazizi::Question *question) const
{
    if (!question)
        return TypeNames::unsupported;
    return typeNameForCode(question->type());
}

bool raZuzezoz::gradeResponse(Zazizi::Question *question, Zazizi::Response *response,
                              const QString &typeName) const
{
    if (!question || !response)
        return false;
    return QuestionGrader(*question, typeName).grade(response->text());
}
