// Console text formatting.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

// Places a label in front of a text and wraps the text into lines with a hanging indent. Both
// functions only build the text; they print nothing and throw nothing but allocation failures.
class QMSEC_API Utils {
  public:
    enum MsgType : int { eInfo = 0, eNote = 1, eWarning = 2, eError = 3 };

    // The label, then the text wrapped to lines of at most width characters (UTF-16 units):
    // the text starts on the label's line when the label is shorter than indent (padded to it),
    // else on the next line; continuation lines start with indent blanks; lines break after one
    // of " }]>|/\\\n", a word longer than the room is split, and line feeds start new lines. An
    // empty text gives the label unchanged. A width not greater than indent, or a negative
    // indent, leaves no room to wrap into: the label and the text are returned unwrapped.
    static QmXplStr::String_t FormatOutput(const QmXplStr::String_t& label,
                                           const QmXplStr::String_t& text, int indent, int width);
    // FormatOutput with the localised label "INFO:", "NOTE:", "WARNING:" or "ERROR:" for type;
    // any other type gets indent - 2 blanks followed by "*" (just "*" when indent is below 2).
    static QmXplStr::String_t FormatStdOutput(const QmXplStr::String_t& text, int indent, int width,
                                              MsgType type);
};

}  // namespace QmSecCore
