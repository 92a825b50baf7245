#include "grading.h"

#include "razuzezoz.h"

#include <roruri1/question.h>
#include <roruri1/response.h>

#include <charconv>
#include <system_error>
#include <utility>

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

qint64 firstUpperCased(const QString &text)
{
    if (text.isEmpty())
        return -1;
    // Upper-casing maps each character on its own, so an ASCII first character decides
    // without the rest being upper-cased.
    const char16_t first = text.at(0).unicode();
    if (first < 0x80)
        return asciiUpper(first);
    return text.toUpper().at(0).unicode();
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

} // namespace

bool containsUpperCased(const QStringList &upperAnswers, const QString &text)
{
    // Upper-casing changes no ASCII character but a to z and never turns one into several, so
    // an ASCII text is compared letter by letter instead of being copied upper-cased.
    const QChar *typed = text.constData();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (typed[i].unicode() >= 0x80)
            return containsExactly(upperAnswers, text.toUpper());
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

namespace {

QuestionGrader::Fields fieldsOf(const Zazizi::Question &question)
{
    QuestionGrader::Fields fields;
    fields.type = question.type();
    fields.labelType = question.labelType();
    fields.textComparison = question.textComparison();
    fields.tolerance = question.tolerance();
    fields.answers = question.answerList();
    const QList<Zazizi::Question::Option> options = question.options();
    fields.optionCorrect.reserve(options.size());
    for (const Zazizi::Question::Option &option : options)
        fields.optionCorrect.append(option.correct);
    return fields;
}

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

} // namespace

QuestionGrader::QuestionGrader(const Zazizi::Question &question, const QString &typeName)
    : QuestionGrader(fieldsOf(question), typeName)
{
}

QuestionGrader::QuestionGrader(Fields question, const QString &typeName)
    : m_question(std::move(question))
{
    // The rule follows the name, not the type code: "sort", "Tick boxes" and "alphanumeric"
    // have their own rules, every other name is graded as a number.
    if (typeName == TypeNames::sort) {
        m_rule = Rule::Sort;
    } else if (typeName == TypeNames::tickBoxes) {
        m_rule = Rule::Choice;
    } else if (typeName == TypeNames::alphanumeric) {
        m_rule = Rule::Text;
        // Any non-zero code upper-cases the answers; only code 1 upper-cases the response too,
        // so with another code the response has to be typed in upper case.
        if (m_question.textComparison != 0) {
            for (QString &answer : m_question.answers)
                answer = answer.toUpper();
        }
    } else {
        m_rule = Rule::Number;
        m_answerValues.reserve(m_question.answers.size());
        for (const QString &answer : std::as_const(m_question.answers))
            m_answerValues.append(answer.toDouble());
    }
}

bool QuestionGrader::grade(const QString &response) const
{
    switch (m_rule) {
    case Rule::Sort:
        return containsExactly(m_question.answers, response);
    case Rule::Choice: {
        // Correct only when the chosen index names an existing option flagged correct: an
        // index past the options, or one below them, is never a right answer, and neither is
        // any choice on a question that flags no option.
        const qint64 chosen = chosenIndex(response);
        return chosen >= 0 && chosen < m_question.optionCorrect.size() &&
               m_question.optionCorrect.at(qsizetype(chosen));
    }
    case Rule::Text:
        return m_question.textComparison == 1 ? containsUpperCased(m_question.answers, response)
                                              : containsExactly(m_question.answers, response);
    case Rule::Number:
        break;
    }
    const double value = numberValue(response);
    for (const double answer : m_answerValues) {
        // A difference that is not a number compares false and so never matches.
        if (qAbs(value - answer) <= m_question.tolerance)
            return true;
    }
    return false;
}

// The 0-based option that a choice response names. Tick-box questions (types 3 and 4) are
// answered with letters, others with a number from 1 or a letter from A depending on the
// label type. 64-bit, so that the smallest int still has an index one below it.
qint64 QuestionGrader::chosenIndex(const QString &response) const
{
    if (m_question.type == 3 || m_question.type == 4) {
        if (response == QLatin1String("Y") || response == QLatin1String("T"))
            return 0;
        if (response == QLatin1String("N") || response == QLatin1String("F"))
            return 1;
        if (response == QLatin1String("X"))
            return 2;
        return 0;
    }
    if (m_question.labelType == 1)
        return qint64(integerValue(response)) - 1;
    // An empty lettered response names no option at all.
    const qint64 first = firstUpperCased(response);
    return first < 0 ? -1 : first - 'A';
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
