#pragma once
// The clock text and the number rules the scheduler compares with. These are the
// rules the operator's boxes have always been read by, so a box holding " 5" or "5x"
// behaves as it did before.

#include <QString>
#include <QTime>

// H:mm:ss, 24-hour, the hour without a leading zero: 9:05:03, 13:05:03.
QString clockText(const QTime& time);

struct ClockParts {
    QString hour; // always two characters for a clock text: 09, 13
    QString minute;
    QString second;
};
ClockParts SplitClockText(const QString& text);

// The number at the start of the text, blanks, tabs and line feeds anywhere in it
// ignored; 0 when the text does not start with a number.
double numericValue(const QString& text);

// The whole text read as a number (blanks around it allowed). Throws RuntimeFault
// when it is not one, e.g. an empty text.
double strictNumber(const QString& text);

// Seconds from the current time to the end time of day (hour may be 24), on the next
// day when it has passed; rounded to a whole number, halves to the even neighbour.
long programEndWait(double endHour, double endMinute, double endSecond, double hour, double minute, double second);
