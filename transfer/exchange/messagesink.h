#pragma once

#include <QString>
#include <QStringList>

namespace exchange {

// Where the file exchange tells the user something. The program shows these in
// message boxes captioned with the application title; tests record them.
// Texts use '\r' for a line break, as the stored messages do; a box turns it
// into a real line break.
class MessageSink
{
public:
    virtual ~MessageSink() = default;
    virtual void error(const QString &text) = 0;
    virtual void information(const QString &text) = 0;
    // Yes/No question; true for "Yes".
    virtual bool confirm(const QString &text) = 0;
};

// Keeps every message; answers confirmations from a queue (default "Yes").
class RecordingSink : public MessageSink
{
public:
    struct Entry
    {
        char kind; // 'E' error, 'I' information, 'Q' confirmation
        QString text;
    };
    QList<Entry> entries;
    QList<bool> answers;
    bool defaultAnswer = true;

    void error(const QString &text) override { entries.append({'E', text}); }
    void information(const QString &text) override { entries.append({'I', text}); }
    bool confirm(const QString &text) override
    {
        entries.append({'Q', text});
        return answers.isEmpty() ? defaultAnswer : answers.takeFirst();
    }
    QStringList texts(char kind) const
    {
        QStringList out;
        for (const Entry &e : entries)
            if (e.kind == kind)
                out << e.text;
        return out;
    }
    bool contains(const QString &part) const
    {
        for (const Entry &e : entries)
            if (e.text.contains(part))
                return true;
        return false;
    }
};

} // namespace exchange
