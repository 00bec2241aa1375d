/* State of one run of the policy data reader, shared by the input reader, the generated scanner
 * (PolicyData.l), the generated parser (PolicyData.y) and the builders (PolicyDataReader.c).
 *
 * Every call of the reader allocates its own context, so nothing of a run is process-wide and
 * runs on different threads never meet. */
#ifndef QMSECAUTH_POLICYDATACONTEXT_H
#define QMSECAUTH_POLICYDATACONTEXT_H

#include <setjmp.h>
#include <stddef.h>
#include <stdio.h>

#include "QmSecAuth/PolicyData.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The longest word, comment line or run of other characters the scanner accepts. A longer one
 * becomes a catch-all token, which no rule accepts: a syntax error at its line. */
#define PDC_MAX_TOKEN_LENGTH 8192

/* The code of the catch-all token. */
#define PDC_CATCH_ALL 324

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

typedef struct PdcContext {
    /* input reader */
    FILE* in;
    int utf8_rest;    /* bytes of a multi-byte sequence still to pass on unchanged */
    int pending_byte; /* second byte of a marker that did not fit the last buffer, or -1 */
    int read_error;   /* the stream reported an error: the file cannot be read */

    /* allocation */
    long alloc_budget; /* allocations that may still succeed; negative: no limit (tests) */
    int out_of_memory;
    jmp_buf fatal; /* where a scanner failure that cannot return goes */
#define PDC_FLEX_BLOCKS 8
    void* flex_blocks[PDC_FLEX_BLOCKS]; /* the generated scanner's live allocations */

    /* scanner: the string being read (its own buffer, reused for every string) */
    char* str;
    size_t str_len;
    size_t str_cap;
    int str_line;
    int str_bad; /* contained a zero byte */

    /* scanner: the comment or run of other characters being read */
    size_t long_len; /* characters so far */
    int long_line;
    size_t long_text_len; /* bytes kept in long_text */
    char long_text[PBLIB_ERROR_TEXT_SIZE];

    /* scanner: text and line of the token last handed to the parser */
    char tok_text[PBLIB_ERROR_TEXT_SIZE];
    int tok_line;

    /* syntax errors */
    int error_count;
    int code_pending; /* the last error still waits for the code of the list that recovers */
    pblib_error last_error;

    /* builders */
    pblib_cfg_list* result;
    int in_config;
    pblib_respmgr_cfg cfg;  /* the entry being built */
    pblib_respmgr_ref* ref; /* the manager reference being filled (owned by cfg's lists) */
    unsigned position;      /* position of the next reference in its list */
    pblib_node node;        /* the node being built */
} PdcContext;

/* Allocation through the context, so that a failure is noted and tests can provoke one. */
void* pdc_malloc(PdcContext* ctx, size_t size);
void* pdc_calloc(PdcContext* ctx, size_t count, size_t size);
void* pdc_realloc(PdcContext* ctx, void* p, size_t size);

/* Allocation for the generated scanner. */
void* pdc_flex_alloc(PdcContext* ctx, size_t size);
void* pdc_flex_realloc(PdcContext* ctx, void* p, size_t size);
void pdc_flex_free(PdcContext* ctx, void* p);

/* Input reader for the scanner: fills buf with at most max bytes and returns their number, 0 at
 * the end of the input. */
int pdc_input(PdcContext* ctx, char* buf, int max);

/* Scanner helpers. The token functions note the token's text and line for error reports and
 * return the token code (0 once an allocation has failed, which ends the parse). */
int pdc_keyword(const char* word); /* token code of a keyword, or PDC_CATCH_ALL */
long long pdc_time_value(const char* text);
long long pdc_date_value(const char* text);
unsigned pdc_ip_value(const char* text);
int pdc_token(PdcContext* ctx, int code, const char* text, size_t length, int line);
void pdc_long_begin(PdcContext* ctx, int line);
void pdc_long_add(PdcContext* ctx, const char* text, size_t length);
int pdc_long_token(PdcContext* ctx);  /* the run as a catch-all token */
int pdc_comment_end(PdcContext* ctx); /* catch-all token for an over-long comment, else -1 */
void pdc_str_begin(PdcContext* ctx, int line);
void pdc_str_add(PdcContext* ctx, const char* text, size_t length);
int pdc_str_end(PdcContext* ctx, char** value, int terminated);

/* Syntax errors: the parser reports one, then the list that recovers gives its code. */
void pdc_syntax_error(PdcContext* ctx);
void pdc_recovered(PdcContext* ctx, int code);

/* Builders, called by the grammar's actions. Functions taking a char* take ownership of it.
 * Those returning int return 0 when an allocation failed. */
void pdc_config_start(PdcContext* ctx);
int pdc_config_finish(PdcContext* ctx);
void pdc_config_set_id(PdcContext* ctx, char* id);
void pdc_config_set_description(PdcContext* ctx, char* description);
void pdc_config_set_default_node(PdcContext* ctx);
void pdc_config_set_default_description(PdcContext* ctx, char* description);
void pdc_refs_start(PdcContext* ctx);
int pdc_ref_start(PdcContext* ctx, int list_kind);
void pdc_ref_set_id(PdcContext* ctx, char* id);
void pdc_ref_set_node(PdcContext* ctx);
void pdc_node_ip(PdcContext* ctx, unsigned address, char* name);
void pdc_node_named(PdcContext* ctx, int kind, char* name);
void pdc_node_set_id(PdcContext* ctx, char* id);
void pdc_node_drop(PdcContext* ctx);

/* Entries for tests and fuzzing, beside the exported functions. */

/* Reads an open stream; the caller closes it. alloc_budget limits the allocations that may
 * succeed (negative: no limit). Results as pblib_respmgr_cfg_read. */
int pdc_read_stream(FILE* in, pblib_cfg_list* configs, pblib_error* error, long alloc_budget);

/* Reads a policy data file held in memory. */
int pdc_read_memory(const void* data, size_t size, pblib_cfg_list* configs, pblib_error* error);

/* One token as the scanner hands it to the parser. */
typedef struct PdcTokenInfo {
    int code;
    long long number;  /* value of value words, times and dates */
    unsigned address;  /* value of addresses */
    const char* value; /* value of strings */
    const char* text;  /* the text kept for error reports */
    int line;
} PdcTokenInfo;

/* Scans data and calls visit for every token, in order. Returns the number of tokens, or -1
 * when an allocation failed. */
int pdc_scan_memory(const void* data, size_t size,
                    void (*visit)(void* user, const PdcTokenInfo* token), void* user);

/* The keyword table, ordered by spelling, for tests. */
typedef struct PdcKeyword {
    const char* word;
    int code;
} PdcKeyword;
extern const PdcKeyword pdc_keywords[];
extern const int pdc_keyword_count;

#ifdef __cplusplus
}
#endif

#endif /* QMSECAUTH_POLICYDATACONTEXT_H */
