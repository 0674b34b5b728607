#pragma once

#include <QChar>
#include <QString>
#include <QStringList>

namespace common {

// The fields of a text cut at every occurrence of `separator`: the text before the
// first separator is field 1, adjacent separators give an empty field, and a text
// ending with a separator has an empty last field. An empty text has one empty field.
QStringList Fields(const QString &text, QChar separator);

// Field n (from 1) of `text` cut at `separator`; empty for n below 1 or past the last
// field.
QString FieldOf(const QString &text, QChar separator, int n);

} // namespace common
