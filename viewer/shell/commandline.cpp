#include "viewer/shell/commandline.h"

TCommandLine::TCommandLine(const QStringList &arguments)
{
    for (const QString &argument : arguments)
        arguments_.append(argument.trimmed());
}

bool TCommandLine::HasOption(const QString &option) const
{
    for (const QString &argument : arguments_)
        if (argument.compare(option, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool TCommandLine::HasOptionPrefix(const QString &prefix) const
{
    for (const QString &argument : arguments_)
        if (argument.toUpper().startsWith(prefix))
            return true;
    return false;
}

QString TCommandLine::OptionValue(const QString &prefix) const
{
    QString value;
    for (const QString &argument : arguments_)
        if (argument.toUpper().startsWith(prefix))
            value = argument.mid(prefix.size());
    return value;
}
