/* Token handling over the generated scanner (PolicyData.l): the keyword table and the values of
 * times, dates and addresses, the texts kept for error reports, the strings, the syntax error
 * record, and the scanner's set-up and memory. */

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "PolicyDataInput.h"
#include "PolicyDataParser.h"
#include "PolicyDataTokens.h"

#define YYSTYPE PD_STYPE
#include "PolicyDataScanner.h"

/* Size of the scanner's buffer. No scanner rule matches more than a few hundred bytes, so the
 * buffer never has to grow (see PolicyData.l). */
#define PDC_SCAN_BUFFER_SIZE 16384

/* --- keywords and values -------------------------------------------------------------------- */

/* Ordered by spelling (strcmp) for the binary search; the codes are fixed by the grammar. */
const PdcKeyword pdc_keywords[] = {
    {"ACKN", KW_ACKN},
    {"ACKNONLOCALMGR", KW_ACKNONLOCALMGR},
    {"ACTALLOWMGRID", KW_ACTALLOWMGRID},
    {"ACTIONALLOWMANAGER", KW_ACTIONALLOWMANAGER},
    {"ACTIONALLOWMANAGERS", KW_ACTIONALLOWMANAGERS},
    {"APPLICATION", KW_APPLICATION},
    {"CONDSTATUSVAR", KW_CONDSTATUSVAR},
    {"CONDSTATUSVARS", KW_CONDSTATUSVARS},
    {"DATE", KW_DATE},
    {"DEC", KW_DEC},
    {"DEFAULTMANAGER", KW_DEFAULTMANAGER},
    {"DESCRIPTION", KW_DESCRIPTION},
    {"FROM", KW_FROM},
    {"ID", KW_ID},
    {"INSERVICE", KW_INSERVICE},
    {"IP", KW_IP},
    {"LOGONLY", KW_LOGONLY},
    {"MSGCONDTYPE", KW_MSGCONDTYPE},
    {"MSGCONTROLLINGMGR", KW_MSGCONTROLLINGMGR},
    {"MSGGRP", KW_MSGGRP},
    {"MSGOPERATION", KW_MSGOPERATION},
    {"MSGOPERATIONS", KW_MSGOPERATIONS},
    {"MSGTARGETMANAGER", KW_MSGTARGETMANAGER},
    {"MSGTARGETMANAGERS", KW_MSGTARGETMANAGERS},
    {"MSGTARGETRULE", KW_MSGTARGETRULE},
    {"MSGTARGETRULECOND", KW_MSGTARGETRULECOND},
    {"MSGTARGETRULECONDS", KW_MSGTARGETRULECONDS},
    {"MSGTARGETRULEID", KW_MSGTARGETRULEID},
    {"MSGTARGETRULES", KW_MSGTARGETRULES},
    {"MSGTYPE", KW_MSGTYPE},
    {"NODE", KW_NODE},
    {"NOTIFICATION", KW_NOTIFICATION},
    {"NOTIFYMGR", KW_NOTIFYMGR},
    {"NOVELL", KW_NOVELL},
    {"OBJECT", KW_OBJECT},
    {"ON", KW_ON},
    {"OTHER", KW_OTHER},
    {"RESPMGRCFG", KW_RESPMGRCFG},
    {"RESPMGRCFGID", KW_RESPMGRCFGID},
    {"RESPMGRCONFIG", KW_RESPMGRCONFIG},
    {"RESPMGRCONFIGS", KW_RESPMGRCONFIGS},
    {"SECONDARYMANAGER", KW_SECONDARYMANAGER},
    {"SECONDARYMANAGERS", KW_SECONDARYMANAGERS},
    {"SECONDARYMGRID", KW_SECONDARYMGRID},
    {"SERVICE_NAME", KW_SERVICE_NAME},
    {"SEVERITY", KW_SEVERITY},
    {"SNA", KW_SNA},
    {"SUPPRESS", KW_SUPPRESS},
    {"TEXT", KW_TEXT},
    {"TIME", KW_TIME},
    {"TIMECONDTYPE", KW_TIMECONDTYPE},
    {"TIMETEMPLATE", KW_TIMETEMPLATE},
    {"TIMETEMPLATENAME", KW_TIMETEMPLATENAME},
    {"TIMETEMPLATES", KW_TIMETEMPLATES},
    {"TIMETMPLCOND", KW_TIMETMPLCOND},
    {"TIMETMPLCONDID", KW_TIMETMPLCONDID},
    {"TIMETMPLCONDS", KW_TIMETMPLCONDS},
    {"TIMETMPLID", KW_TIMETMPLID},
    {"TIMEZONETYPE", KW_TIMEZONETYPE},
    {"TIMEZONEVALUE", KW_TIMEZONEVALUE},
    {"TO", KW_TO},
    {"TROUBLETICKET", KW_TROUBLETICKET},
    {"VEXMGR", KW_VEXMGR}, /* code 295 is out of spelling order; the table keeps the order */
    {"WEEKDAY", KW_WEEKDAY},
};
const int pdc_keyword_count = (int)(sizeof pdc_keywords / sizeof pdc_keywords[0]);

int pdc_keyword(const char* word) {
    int low = 0;
    int high = pdc_keyword_count - 1;
    while (low <= high) {
        int middle = low + (high - low) / 2;
        int order = strcmp(word, pdc_keywords[middle].word);
        if (order == 0) {
            return pdc_keywords[middle].code;
        }
        if (order < 0) {
            high = middle - 1;
        } else {
            low = middle + 1;
        }
    }
    return PDC_CATCH_ALL;
}

/* Reads a group of at most ten digits (the scanner allows no more) and steps past it. */
static long long pdc_number(const char** text) {
    long long value = 0;
    while (**text >= '0' && **text <= '9') {
        value = value * 10 + (**text - '0');
        ++*text;
    }
    return value;
}

long long pdc_time_value(const char* text) {
    long long hours = pdc_number(&text);
    ++text; /* ':' */
    return hours * 3600 + pdc_number(&text) * 60;
}

long long pdc_date_value(const char* text) {
    long long month = pdc_number(&text);
    ++text; /* '/' */
    long long day = pdc_number(&text);
    ++text; /* '/' */
    if (*text == '*') {
        return month * 100 + day;
    }
    long long year = pdc_number(&text);
    if (year < 70) {
        year += 2000;
    } else if (year < 100) {
        year += 1900;
    }
    return year * 10000 + month * 100 + day;
}

unsigned pdc_ip_value(const char* text) {
    unsigned address = 0;
    for (int i = 0; i < 4; ++i) {
        long long group = pdc_number(&text);
        if (group > 255) {
            return 0; /* does not convert */
        }
        address = (address << 8) | (unsigned)group;
        ++text; /* '.' */
    }
    return address;
}

/* --- token texts ---------------------------------------------------------------------------- */

int pdc_token(PdcContext* ctx, int code, const char* text, size_t length, int line) {
    if (ctx->out_of_memory) {
        return 0;
    }
    if (length > sizeof ctx->tok_text - 1) {
        length = sizeof ctx->tok_text - 1;
    }
    memcpy(ctx->tok_text, text, length);
    ctx->tok_text[length] = '\0';
    ctx->tok_line = line;
    return code;
}

void pdc_long_begin(PdcContext* ctx, int line) {
    ctx->long_len = 0;
    ctx->long_text_len = 0;
    ctx->long_line = line;
}

/* Counts the characters of a run or comment and keeps the first ones for an error report. A
 * marker and its code stand for one character; the zero byte of the file is counted but not
 * kept, since the kept text is a C string. */
void pdc_long_add(PdcContext* ctx, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c == PDC_MARK) {
            continue; /* its code, next, counts as the character */
        }
        if (i > 0 ? text[i - 1] == PDC_MARK : 0) {
            c = c == PDC_MARK_QUOTE ? '"' : c == PDC_MARK_NEWLINE ? '\n' : '\0';
        }
        ++ctx->long_len;
        if (c != '\0' && ctx->long_text_len < sizeof ctx->long_text - 1) {
            ctx->long_text[ctx->long_text_len++] = c;
        }
    }
}

int pdc_long_token(PdcContext* ctx) {
    ctx->long_text[ctx->long_text_len] = '\0';
    return pdc_token(ctx, PDC_CATCH_ALL, ctx->long_text, ctx->long_text_len, ctx->long_line);
}

int pdc_comment_end(PdcContext* ctx) {
    if (ctx->out_of_memory) {
        return 0;
    }
    return ctx->long_len > PDC_MAX_TOKEN_LENGTH ? pdc_long_token(ctx) : -1;
}

/* --- strings -------------------------------------------------------------------------------- */

void pdc_str_begin(PdcContext* ctx, int line) {
    ctx->str_len = 0;
    ctx->str_bad = 0;
    ctx->str_line = line;
}

void pdc_str_add(PdcContext* ctx, const char* text, size_t length) {
    if (ctx->out_of_memory) {
        return;
    }
    if (ctx->str_cap - ctx->str_len <= length) {
        size_t cap = ctx->str_cap ? ctx->str_cap : 256;
        while (cap - ctx->str_len <= length) {
            if (cap > SIZE_MAX / 2) {
                ctx->out_of_memory = 1;
                return;
            }
            cap *= 2;
        }
        char* grown = pdc_realloc(ctx, ctx->str, cap);
        if (!grown) {
            return;
        }
        ctx->str = grown;
        ctx->str_cap = cap;
    }
    memcpy(ctx->str + ctx->str_len, text, length);
    ctx->str_len += length;
}

int pdc_str_end(PdcContext* ctx, char** value, int terminated) {
    if (ctx->out_of_memory) {
        return 0;
    }
    /* The token's text for an error report is the string in its quotes, cut to fit. */
    size_t limit = sizeof ctx->tok_text - 1;
    size_t shown = ctx->str_len < limit - 1 ? ctx->str_len : limit - 1;
    ctx->tok_text[0] = '"';
    if (shown) {
        memcpy(ctx->tok_text + 1, ctx->str, shown);
    }
    size_t end = shown + 1;
    if (terminated && end < limit) {
        ctx->tok_text[end++] = '"';
    }
    ctx->tok_text[end] = '\0';
    ctx->tok_line = ctx->str_line;
    /* A string without its closing quote, or with a zero byte (which would cut it short), is
     * no string token. */
    if (!terminated || ctx->str_bad) {
        return PDC_CATCH_ALL;
    }
    char* copy = pdc_malloc(ctx, ctx->str_len + 1);
    if (!copy) {
        return 0;
    }
    if (ctx->str_len) {
        memcpy(copy, ctx->str, ctx->str_len);
    }
    copy[ctx->str_len] = '\0';
    *value = copy;
    return STRING_LIT;
}

/* --- syntax errors -------------------------------------------------------------------------- */

void pdc_syntax_error(PdcContext* ctx) {
    ++ctx->error_count;
    memcpy(ctx->last_error.text, ctx->tok_text, sizeof ctx->last_error.text);
    ctx->last_error.line = ctx->tok_line;
    ctx->last_error.code = PBLIB_ERR_FILE;
    ctx->code_pending = 1;
}

void pdc_recovered(PdcContext* ctx, int code) {
    if (ctx->code_pending) {
        ctx->last_error.code = code;
        ctx->code_pending = 0;
    }
}

/* --- scanner set-up and memory ------------------------------------------------------------ */

/* Allocations of the generated scanner are tracked, so that a failure flex cannot return from
 * (its buffer set-up) still frees what was allocated before it. */
void* pdc_flex_alloc(PdcContext* ctx, size_t size) {
    void* p = pdc_malloc(ctx, size);
    if (p) {
        for (size_t i = 0; i < PDC_FLEX_BLOCKS; ++i) {
            if (!ctx->flex_blocks[i]) {
                ctx->flex_blocks[i] = p;
                break;
            }
        }
    }
    return p;
}

void* pdc_flex_realloc(PdcContext* ctx, void* p, size_t size) {
    void* q = pdc_realloc(ctx, p, size);
    if (q) {
        for (size_t i = 0; i < PDC_FLEX_BLOCKS; ++i) {
            if (ctx->flex_blocks[i] == p) {
                ctx->flex_blocks[i] = q;
                break;
            }
        }
    }
    return q;
}

void pdc_flex_free(PdcContext* ctx, void* p) {
    if (p) {
        for (size_t i = 0; i < PDC_FLEX_BLOCKS; ++i) {
            if (ctx->flex_blocks[i] == p) {
                ctx->flex_blocks[i] = NULL;
                break;
            }
        }
    }
    free(p);
}

/* Sets the scanner up on its buffer. Returns 0 when an allocation failed; the scanner's memory
 * is then already freed. */
int pdc_scanner_open(PdcContext* ctx, yyscan_t* scanner) {
    if (pd_lex_init_extra(ctx, scanner) != 0) {
        ctx->out_of_memory = 1;
        return 0;
    }
    if (setjmp(ctx->fatal) != 0) {
        /* Flex gave up while allocating its buffer; its state is half-built, so its blocks
         * are freed directly instead of through pd_lex_destroy. */
        for (size_t i = 0; i < PDC_FLEX_BLOCKS; ++i) {
            free(ctx->flex_blocks[i]);
            ctx->flex_blocks[i] = NULL;
        }
        ctx->out_of_memory = 1;
        return 0;
    }
    pd__switch_to_buffer(pd__create_buffer(NULL, PDC_SCAN_BUFFER_SIZE, *scanner), *scanner);
    return 1;
}
