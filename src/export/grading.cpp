#include "grading.h"

#include "question.h"
#include "razuzezoz.h"
#include "response.h"

QString typeNameForCode(int type)
{
    switch (type) {
    case 0:
    case 9:
        return TypeNames::unsupported();
    case 6:
        return TypeNames::numeric();
    case 7:
        return TypeNames::alphanumeric();
    case 8:
        return TypeNames::sort();
    case 10:
        return TypeNames::equation();
    default:
        // Types 3 and 4 as well as every code the library does not name are choices.
        return TypeNames::tickBoxes();
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
    if (input.typeName == TypeNames::sort())
        return matchesSort(input.response, input.answers);
    if (input.typeName == TypeNames::tickBoxes()) {
        const qint64 chosen = chosenOptionIndex(input.type, input.labelType, input.response);
        return matchesChoice(chosen, input.optionCorrect);
    }
    if (input.typeName == TypeNames::alphanumeric())
        return matchesText(input.response, input.answers, input.textComparison);
    return matchesNumber(input.response, input.answers, input.tolerance);
}

QString raZuzezoz::questionTypeName(Zazizi::Question *question) const
{
    if (!question)
        return TypeNames::unsupported();
    return typeNameForCode(question->type());
}

bool raZuzezoz::gradeResponse(Zazizi::Question *question, Zazizi::Response *response,
                              const QString &typeName) const
{
    if (!question || !response)
        return false;
    GradingInput input;
    input.type = question->type();
    input.typeName = typeName;
    const QList<Zazizi::Question::Option> options = question->options();
    input.optionCorrect.reserve(options.size());
    for (const Zazizi::Question::Option &option : options)
        input.optionCorrect.append(option.correct);
    input.answers = question->answerList();
    input.labelType = question->labelType();
    input.textComparison = question->textComparison();
    input.tolerance = question->tolerance();
    input.response = response->text();
    return gradeAnswer(input);
}
