#pragma once

#include <QCursor>
#include <QGuiApplication>
#include <QList>

// The wait cursor over every window of the program for as long as it lives: an export keeps
// the event loop busy, and the cursor is all that shows the program is working.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

// The normal cursor for as long as it lives, for a box that waits for the user in the middle
// of a busy stretch; the cursors set before come back afterwards, in their order.
class NormalCursor
{
public:
    NormalCursor()
    {
        while (const QCursor *top = QGuiApplication::overrideCursor()) {
            saved.prepend(*top);
            QGuiApplication::restoreOverrideCursor();
        }
    }
    ~NormalCursor()
    {
        for (const QCursor &cursor : saved)
            QGuiApplication::setOverrideCursor(cursor);
    }
    NormalCursor(const NormalCursor &) = delete;
    NormalCursor &operator=(const NormalCursor &) = delete;

private:
    QList<QCursor> saved;
};
