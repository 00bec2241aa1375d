/* State of one run of the policy data reader, shared by the input reader (PolicyDataInput.c),
 * the generated scanner (PolicyData.l) and its token handling (PolicyDataTokens.c), the generated
 * parser (PolicyData.y), the builders of the records (PolicyDataRecords.c) and the entry points
 * (PolicyDataReader.c).
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

#ifdef __cplusplus
}
#endif

#endif /* QMSECAUTH_POLICYDATACONTEXT_H */
