#pragma once

// Collects the messages of the chosen types (and, if named, of one category) written while it
// lives; the others go on to the handler installed before it, or are dropped where a test
// wants the output quiet.

#include <QList>
#include <QStringList>
#include <QtGlobal>

#include <cstring>
#include <initializer_list>

class MessageCapture
{
public:
    enum Others { PassOn, Drop };

    explicit MessageCapture(std::initializer_list<QtMsgType> types, Others others = PassOn,
                            const char *category = nullptr)
    {
        lines().clear();
        state().types = types;
        state().others = others;
        state().category = category;
        state().previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture() { qInstallMessageHandler(state().previous); }
    MessageCapture(const MessageCapture &) = delete;
    MessageCapture &operator=(const MessageCapture &) = delete;

    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    struct State
    {
        QList<QtMsgType> types;
        Others others = PassOn;
        const char *category = nullptr;
        QtMessageHandler previous = nullptr;
    };
    static State &state()
    {
        static State current;
        return current;
    }
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        const char *wanted = state().category;
        const bool inCategory =
            !wanted || (context.category && !std::strcmp(context.category, wanted));
        if (state().types.contains(type) && inCategory)
            lines().append(message);
        else if (state().others == PassOn && state().previous)
            state().previous(type, context, message);
    }
};

// The reader's warnings; everything else is dropped.
class WarningCapture : public MessageCapture
{
public:
    WarningCapture() : MessageCapture({QtWarningMsg}, Drop) {}
};
