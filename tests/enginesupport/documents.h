#pragma once

// Small builders for Plexa documents written as JSON.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>

namespace doc {

inline QJsonValue null()
{
    return QJsonValue(QJsonValue::Null);
}

inline QJsonObject response(const QString &text, const QString &studentId,
                            const QString &studentName = QString(),
                            const QString &label = QString(), int startTime = 0)
{
    return QJsonObject{{"text", text},
                       {"studentId", studentId},
                       {"studentName", studentName},
                       {"label", label},
                       {"startTime", startTime}};
}

// A numeric question whose one answer is `answer`, graded exactly.
inline QJsonObject numeric(const QString &id, const QString &answer = QStringLiteral("1"),
                           const QJsonArray &responses = {},
                           const QString &text = QStringLiteral("How many?"))
{
    return QJsonObject{{"id", id},
                       {"text", text},
                       {"type", 6},
                       {"answers", QJsonArray{answer}},
                       {"responses", responses}};
}

// A lettered choice question whose first option is right.
inline QJsonObject choice(const QString &id, const QJsonArray &responses = {},
                          const QString &text = QStringLiteral("Which one?"))
{
    return QJsonObject{{"id", id},
                       {"text", text},
                       {"type", 1},
                       {"options", QJsonArray{QJsonObject{{"label", "A"}, {"correct", true}},
                                              QJsonObject{{"label", "B"}}}},
                       {"responses", responses}};
}

inline QJsonObject test(int kind, const QJsonArray &questions,
                        const QString &title = QStringLiteral("Quiz"),
                        const QString &startedOn = QStringLiteral("2026-03-02 09:15"))
{
    return QJsonObject{
        {"kind", kind}, {"title", title}, {"startedOn", startedOn}, {"questions", questions}};
}

inline QJsonObject page(const QJsonValue &test, const QStringList &keywords = {})
{
    return QJsonObject{{"keywords", QJsonArray::fromStringList(keywords)}, {"test", test}};
}

inline QByteArray document(const QJsonArray &pages, const QJsonArray &testInstances = {})
{
    return QJsonDocument(
               QJsonObject{{"plexa", 1}, {"pages", pages}, {"testInstances", testInstances}})
        .toJson();
}

} // namespace doc
