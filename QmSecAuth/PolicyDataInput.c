/* The input reader in front of the generated scanner: it reads the policy data file byte by byte,
 * resolves backslash escapes and carriage returns, and marks the few characters that must keep a
 * meaning apart from the byte they become (see PolicyDataInput.h). */

#include <stdio.h>

#include "PolicyDataInput.h"

/* Number of bytes that follow a UTF-8 lead byte. */
static int pdc_utf8_continuations(int c) {
    if (c >= 0xC0 && c <= 0xDF) {
        return 1;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        return 2;
    }
    if (c >= 0xF0 && c <= 0xF7) {
        return 3;
    }
    return 0;
}

static int pdc_put_marker(PdcContext* ctx, char* buf, int n, int max, char code) {
    buf[n++] = PDC_MARK;
    if (n < max) {
        buf[n++] = code;
    } else {
        ctx->pending_byte = (unsigned char)code;
    }
    return n;
}

static int pdc_put(PdcContext* ctx, char* buf, int n, int max, int c) {
    if (c == 0) {
        return pdc_put_marker(ctx, buf, n, max, PDC_MARK_ZERO);
    }
    buf[n++] = (char)c;
    return n;
}

/* Reads the next byte, turning a carriage return followed by a line feed into the line feed. */
static int pdc_getc(FILE* in) {
    int c = getc_unlocked(in);
    if (c == '\r') {
        int next = getc_unlocked(in);
        if (next == '\n') {
            return '\n';
        }
        if (next != EOF) {
            ungetc(next, in);
        }
    }
    return c;
}

int pdc_input(PdcContext* ctx, char* buf, int max) {
    FILE* in = ctx->in;
    int n = 0;
    if (max <= 0 || ctx->read_error) {
        return 0;
    }
    if (ctx->pending_byte >= 0) {
        buf[n++] = (char)ctx->pending_byte;
        ctx->pending_byte = -1;
    }
    /* The stream is this run's own, so the per-character lock of getc buys nothing. */
    while (n < max) {
        int c;
        if (ctx->utf8_rest > 0) {
            /* A byte that continues a multi-byte sequence passes unchanged, whatever it is. */
            c = getc_unlocked(in);
            if (c == EOF) {
                break;
            }
            --ctx->utf8_rest;
            n = pdc_put(ctx, buf, n, max, c);
            continue;
        }
        c = pdc_getc(in);
        if (c == EOF) {
            break;
        }
        if (c == '\\') {
            int escaped = pdc_getc(in);
            switch (escaped) {
                case EOF:
                    /* A backslash at the very end has nothing to escape and stays. */
                    break;
                case 'f':
                    c = '\f';
                    break;
                case 'n':
                    n = pdc_put_marker(ctx, buf, n, max, PDC_MARK_NEWLINE);
                    continue;
                case 'r':
                    c = '\r';
                    break;
                case 't':
                    c = '\t';
                    break;
                case '"':
                    n = pdc_put_marker(ctx, buf, n, max, PDC_MARK_QUOTE);
                    continue;
                default:
                    c = escaped;
                    break;
            }
        }
        ctx->utf8_rest = pdc_utf8_continuations(c);
        n = pdc_put(ctx, buf, n, max, c);
    }
    if (ferror(in)) {
        /* The input ends here; the run reports the file as unreadable. */
        ctx->read_error = 1;
    }
    return n;
}
