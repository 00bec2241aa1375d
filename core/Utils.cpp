#include "QmSecCore/Utils.h"

#include "CatalogTable.h"
#include "QmSecCore/Catalog.h"
#include "QmXpl/Message_t.h"

namespace QmSecCore {

using QmXplStr::String_t;

namespace {

const String_t kBreakCharacters(u" }]>|/\\\n");

}  // namespace

String_t Utils::FormatOutput(const String_t& label, const String_t& text, int indent, int width) {
    String_t result(label);
    if (text.IsEmpty()) return result;
    if (indent < 0 || width <= indent) return result + text;

    int column;
    if (label.GetLength() < indent) {
        result.Append(String_t(indent - label.GetLength(), u' '));
        column = indent;
    } else {
        result.Append(u'\n');
        column = 0;
    }
    const int room = width - indent;
    const String_t blanks(indent, u' ');
    const int length = text.GetLength();
    int p = 0;
    while (p < length) {
        int brk = text.FindOneOf(kBreakCharacters, p);
        int q = brk == String_t::npos ? length - 1 : brk;
        int n = q - p + 1;
        if (n > room) {
            // Cut a word that cannot fit on any line. Use the rest of this line unless it is
            // too short to be worth it (or nothing is left of it); then start a fresh line. A
            // line that has not started yet starts at the indent, so that is where its rest is
            // measured from; measuring from column 0 would make the piece overrun the width.
            n = width - (column == 0 ? indent : column);
            if (n < room / 10 || n <= 0) {
                result.Append(u'\n');
                column = 0;
                n = room;
            }
            q = p + n - 1;
        }
        String_t piece = text.Mid(p, n);
        if (column == 0 && indent != 0) {
            result.Append(blanks);
            column = indent;
        }
        if (column + n > width) {
            result.Append(u'\n');
            result.Append(blanks);
            result.Append(piece);
            column = indent + n;
        } else {
            result.Append(piece);
            column += n;
        }
        if (piece.GetAt(n - 1) == u'\n') column = 0;
        p = q + 1;
    }
    return result;
}

String_t Utils::FormatStdOutput(const String_t& text, int indent, int width, MsgType type) {
    String_t label;
    if (type >= eInfo && type <= eError) {
        label = detail::CatalogMessage(87 + static_cast<int>(type)).Format(QmXplMsg::kFormatText);
    } else {
        label = String_t(indent >= 2 ? indent - 2 : 0, u' ') + "*";
        if (indent < 2) return label + text;
    }
    return FormatOutput(label, text, indent, width);
}

}  // namespace QmSecCore
