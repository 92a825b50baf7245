#pragma once

// A strict RFC 4180 reader: fields separated by commas, records ended by CR LF (the last one
// too), a field either plain (no comma, quote, CR or LF) or quoted with inner quotes doubled.
// Anything else is refused, so a writer that lets a key break a line shows up here.

#include <QList>
#include <QString>
#include <QStringList>

inline bool parseRfc4180(const QString &text, QList<QStringList> &records)
{
    records.clear();
    QStringList record;
    QString field;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto at = [&](qsizetype k) { return k < n ? text.at(k) : QChar(); };
    while (i < n) {
        if (at(i) == QLatin1Char('"')) {
            for (++i;; ++i) {
                if (i >= n)
                    return false;
                if (at(i) == QLatin1Char('"')) {
                    if (at(i + 1) != QLatin1Char('"'))
                        break;
                    ++i;
                }
                field += at(i);
            }
            ++i;
        } else {
            for (; i < n && at(i) != QLatin1Char(',') && at(i) != QLatin1Char('\r'); ++i) {
                if (at(i) == QLatin1Char('"') || at(i) == QLatin1Char('\n'))
                    return false;
                field += at(i);
            }
        }
        if (at(i) == QLatin1Char(',')) {
            record.append(field);
            field.clear();
            ++i;
            if (i == n)
                return false;
            continue;
        }
        if (at(i) == QLatin1Char('\r') && at(i + 1) == QLatin1Char('\n')) {
            record.append(field);
            field.clear();
            records.append(record);
            record.clear();
            i += 2;
            continue;
        }
        return false;
    }
    return record.isEmpty() && field.isEmpty();
}
