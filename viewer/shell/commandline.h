#pragma once

#include <QString>
#include <QStringList>

// The viewer's command-line options. Every argument is trimmed; comparisons
// ignore case, values after a prefix keep the case they were typed in.
class TCommandLine
{
public:
    TCommandLine() = default;
    // `arguments` without the program name.
    explicit TCommandLine(const QStringList &arguments);

    // Whether an argument equals `option` ("/nologo").
    bool HasOption(const QString &option) const;
    // Whether an upper-cased argument begins with `prefix` (given upper-case, "/UID=").
    bool HasOptionPrefix(const QString &prefix) const;
    // Text after `prefix` of the last argument that begins with it; empty when none.
    QString OptionValue(const QString &prefix) const;

    const QStringList &Arguments() const { return arguments_; }

private:
    QStringList arguments_;
};
