// A CIM datetime: a time stamp "yyyymmddhhmmss.mmmmmmsutc" or an interval
// "ddddddddhhmmss.mmmmmm:000" (DSP0004), kept in its text form.
#pragma once

#include "cim/String.h"

namespace Pegasus {

class CIMDateTime {
public:
    // The zero interval.
    CIMDateTime();
    // InvalidDateTimeFormatException when `text` is not a CIM datetime.
    CIMDateTime(const String& text);
    CIMDateTime(const char* text) : CIMDateTime(String(text)) {}

    void set(const String& text) { *this = CIMDateTime(text); }
    String toString() const { return _text; }
    Boolean isInterval() const { return _text.c_str()[21] == ':'; }
    Boolean equal(const CIMDateTime& x) const { return _text == x._text; }

    // The current UTC time as a time stamp.
    static CIMDateTime getCurrentDateTime();
    static Boolean legal(const String& text);

private:
    String _text;
};

inline Boolean operator==(const CIMDateTime& x, const CIMDateTime& y) { return x.equal(y); }
inline Boolean operator!=(const CIMDateTime& x, const CIMDateTime& y) { return !x.equal(y); }

}  // namespace Pegasus
