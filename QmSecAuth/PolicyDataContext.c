/* Allocation through the run's context: every block of a run is counted against the test budget,
 * and a failure is noted so that the run ends with PBLIB_RESPMGR_NO_MEMORY. */

#include <stdlib.h>

#include "PolicyDataContext.h"

/* Whether the test budget allows one more allocation (there is no budget outside tests). */
static int pdc_may_allocate(PdcContext* ctx) {
    if (ctx->alloc_budget == 0) {
        return 0;
    }
    if (ctx->alloc_budget > 0) {
        --ctx->alloc_budget;
    }
    return 1;
}

void* pdc_malloc(PdcContext* ctx, size_t size) {
    void* p = pdc_may_allocate(ctx) ? malloc(size) : NULL;
    if (!p) {
        ctx->out_of_memory = 1;
    }
    return p;
}

void* pdc_calloc(PdcContext* ctx, size_t count, size_t size) {
    void* p = pdc_may_allocate(ctx) ? calloc(count, size) : NULL;
    if (!p) {
        ctx->out_of_memory = 1;
    }
    return p;
}

void* pdc_realloc(PdcContext* ctx, void* p, size_t size) {
    void* q = pdc_may_allocate(ctx) ? realloc(p, size) : NULL;
    if (!q) {
        ctx->out_of_memory = 1;
    }
    return q;
}
