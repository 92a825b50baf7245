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

// The type name for a document library question type code.
QString typeNameForCode(int type);

// Everything grading reads from a question and its response, so that the rules can be
// applied without a document.
struct GradingInput
{
    int type = 0;
    QString typeName;
    QList<bool> optionCorrect;
    QStringList answers;
    int labelType = 0;
    int textComparison = 0;
    double tolerance = 0.0;
    QString response;
};

// Grades by the rule that the type name selects: "sort", "Tick boxes" and "alphanumeric"
// have their own rules, every other name is graded as a number.
bool gradeAnswer(const GradingInput &input);

// The 0-based option that a choice response names. Tick-box questions (types 3 and 4)
// are answered with letters, others with a number from 1 or a letter from A depending on
// the label type. -1 when the response names no option at all (an empty lettered response).
qint64 chosenOptionIndex(int type, int labelType, const QString &response);

// True when the chosen index is an existing option flagged correct.
bool matchesChoice(qint64 chosenIndex, const QList<bool> &optionCorrect);
bool matchesSort(const QString &response, const QStringList &answers);
bool matchesText(const QString &response, const QStringList &answers, int textComparison);
bool matchesNumber(const QString &response, const QStringList &answers, double tolerance);

// A text read as a number exactly as QString::toDouble reads it, 0 when it is not a number.
// Plain decimals, which nearly every numeric response is, take a quicker road to the same value.
double numberValue(QStringView text);
// A text read as an int exactly as QString::toInt reads it in base 10, 0 when it is not one.
int integerValue(QStringView text);

// The grading rules applied to one question, with everything that is the same for all its
// responses worked out once: the rule, the answers as numbers or upper-cased, the option flags.
// Grades exactly as gradeAnswer does with that question's fields.
class QuestionGrader
{
public:
    // The question's fields of `question`; its response is not used.
    explicit QuestionGrader(const GradingInput &question);
    QuestionGrader(const Zazizi::Question &question, const QString &typeName);

    bool grade(const QString &response) const;

private:
    enum class Rule { Sort, Choice, Text, Number };
    void prepare(const QString &typeName);
    bool gradeChoice(const QString &response) const;

    Rule m_rule = Rule::Number;
    int m_type = 0;
    int m_labelType = 0;
    int m_textComparison = 0;
    double m_tolerance = 0.0;
    QList<bool> m_optionCorrect;
    // As the rule compares them: upper-cased for a text rule with a non-zero comparison code.
    QStringList m_answers;
    QList<double> m_answerValues;
};
