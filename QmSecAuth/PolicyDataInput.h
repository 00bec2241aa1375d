/* The input reader in front of the generated scanner. */
#ifndef QMSECAUTH_POLICYDATAINPUT_H
#define QMSECAUTH_POLICYDATAINPUT_H

#include "PolicyDataContext.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The input reader resolves backslash escapes before the scanner sees the text, yet three
 * characters must keep a meaning apart from the byte they become: a zero byte of the file (a
 * string containing one would be cut short as a C string, so it makes the token invalid), an
 * escaped double quote (which does not end a string) and an escaped line feed (a line feed in a
 * string, a blank elsewhere, but not the end of a line: it neither ends a comment nor counts as
 * a line). The reader passes each as a zero byte followed by one of these codes; a zero byte
 * reaches the scanner in no other way. */
#define PDC_MARK '\0'
#define PDC_MARK_ZERO '\1'
#define PDC_MARK_QUOTE '\2'
#define PDC_MARK_NEWLINE '\3'

/* Input reader for the scanner: fills buf with at most max bytes and returns their number, 0 at
 * the end of the input. */
int pdc_input(PdcContext* ctx, char* buf, int max);

#ifdef __cplusplus
}
#endif

#endif /* QMSECAUTH_POLICYDATAINPUT_H */
