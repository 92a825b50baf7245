#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

namespace Zazizi {
class Question;
}

// The type names that the question walk and the grader agree on. The walk passes over
// "unsupported" questions; every other name selects a grading rule.
namespace TypeNames {
inline const QString numeric = QStringLiteral("numeric");
inline const QString alphanumeric = QStringLiteral("alphanumeric");
inline const QString sort = QStringLiteral("sort");
inline const QString equation = QStringLiteral("equation");
inline const QString unsupported = QStringLiteral("unsupported");
inline const QString tickBoxes = QStringLiteral("Tick boxes");
} // namespace TypeNames

// Quick roads to what Qt's conversions give; each agrees with Qt for every text.

// A text read as a number exactly as QString::toDouble reads it, 0 when it is not a number.
// Plain decimals, which nearly every numeric response is, take a quicker road to the same value.
double numberValue(QStringView text);
// A text read as an int exactly as QString::toInt reads it in base 10, 0 when it is not one.
int integerValue(QStringView text);
// The code of the first character of QString::toUpper(text), -1 for an empty text.
qint64 firstUpperCased(const QString &text);
// Whether QString::toUpper(text) equals one of `upperAnswers`.
bool containsUpperCased(const QStringList &upperAnswers, const QString &text);

// The grading rules applied to one question, with everything that is the same for all its
// responses worked out once: the rule, the answers as numbers or upper-cased, the option flags.
// This is the only place that grades: the response pass and raZuzezoz::gradeResponse both
// build one.
class QuestionGrader
{
public:
    // What grading reads from a question.
    struct Fields
    {
        int type = 0;
        int labelType = 0;
        int textComparison = 0;
        double tolerance = 0.0;
        QStringList answers;
        QList<bool> optionCorrect;
    };

    QuestionGrader(const Zazizi::Question &question, const QString &typeName);
    QuestionGrader(Fields question, const QString &typeName);

    bool grade(const QString &response) const;

private:
    enum class Rule { Sort, Choice, Text, Number };
    qint64 chosenIndex(const QString &response) const;

    Rule m_rule = Rule::Number;
    Fields m_question;
    // The answers read as numbers, for the numeric rule.
    QList<double> m_answerValues;
};
