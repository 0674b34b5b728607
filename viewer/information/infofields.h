#pragma once
// The value texts of the information page that follow rules of their own.

#include <QString>

namespace information {

// "Taille / Poids": the size, " / " when the size is not empty, then the weight.
QString SizeWeightText(const QString &size, const QString &weight);

// The field strength prefix of "Appareil": the text read as a decimal number, divided by
// 10000, with one decimal and "T " after it ("15000" gives "1.5T "); empty when the text is
// empty or not a number.
QString FieldStrengthPrefix(const QString &text);

// "Appareil": the manufacturer and a blank (when there is one), then the model name, or
// the station name when there is no model name.
QString MachineText(const QString &manufacturer, const QString &model, const QString &station);

// The accession number: the line of the top-right corner text that begins with "Acc:",
// less its first five characters.
QString AccessionOf(const QString &topRightText);

} // namespace information
