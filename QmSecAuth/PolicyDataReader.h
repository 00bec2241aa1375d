/* Entries of the policy data reader for the authorizer, tests and fuzzing, beside the exported
 * functions of QmSecAuth/PolicyData.h. */
#ifndef QMSECAUTH_POLICYDATAREADER_H
#define QMSECAUTH_POLICYDATAREADER_H

#include <stddef.h>
#include <stdio.h>

#include "QmSecAuth/PolicyData.h"

#ifdef __cplusplus
extern "C" {
#endif

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

#ifdef __cplusplus
}
#endif

#endif /* QMSECAUTH_POLICYDATAREADER_H */
