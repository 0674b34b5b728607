#pragma once
// Test helpers for the transfer client's windows: a recording stand-in for
// the message boxes and modal dialogs, and a settings folder.

#include "transfer/core/clientui.h"

#include <QByteArray>
#include <QDialog>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace clienttest {

struct Message {
    strandel::MessageKind kind;
    QString text;
};

// Records every message; confirmations take their answers from `answers`
// in order (Yes when the list is empty). Dialogs go to onDialog, which
// plays the user's part and returns the dialog's result.
struct UiRecorder {
    QList<Message> messages;
    QList<bool> answers;
    std::function<int(QDialog &)> onDialog;
    std::function<void(const Message &)> onMessage;

    strandel::ClientUi ui()
    {
        strandel::ClientUi u;
        u.message = [this](QWidget *, strandel::MessageKind kind, const QString &text, bool yesNo) {
            messages.append({kind, text});
            if (onMessage)
                onMessage(messages.last());
            if (!yesNo)
                return true;
            return answers.isEmpty() ? true : answers.takeFirst();
        };
        u.exec = [this](QDialog &d) {
            if (!onDialog)
                return int(QDialog::Rejected);
            return onDialog(d);
        };
        return u;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const Message &m : messages)
            out << m.text;
        return out;
    }
};

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// A complete settings file of a configured workstation.
inline QByteArray configuredIni(const QByteArray &extra = {})
{
    return "[parametres]\r\n"
           "AdresseIp=127.0.0.1\r\n"
           "Alias=strandel\r\n"
           "FichierZip=CLINIQUE\r\n"
           "Usager=U1\r\n"
           "MotDePasse=SECRET\r\n"
           + extra;
}

} // namespace clienttest
