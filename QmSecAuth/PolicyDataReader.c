/* The entry points of the policy data reader: the exported functions, and the runs for the
 * authorizer, the tests and fuzzing. Each run sets up its own context, scanner and parser. */

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "PolicyDataParser.h"
#include "PolicyDataReader.h"
#include "PolicyDataRecords.h"
#include "PolicyDataTokens.h"

#define YYSTYPE PD_STYPE
#include "PolicyDataScanner.h"

/* --- runs ----------------------------------------------------------------------------------- */

static void pdc_context_init(PdcContext* ctx, FILE* in, pblib_cfg_list* result, long budget) {
    memset(ctx, 0, sizeof *ctx);
    ctx->in = in;
    ctx->pending_byte = -1;
    ctx->alloc_budget = budget;
    ctx->result = result;
    ctx->tok_line = 1;
    pdc_node_reset(&ctx->node);
}

static void pdc_context_release(PdcContext* ctx) {
    if (ctx->in_config) {
        pdc_free_cfg_contents(&ctx->cfg);
    }
    free(ctx->node.name);
    free(ctx->str);
    ctx->in_config = 0;
    ctx->ref = NULL;
    ctx->node.name = NULL;
    ctx->str = NULL;
}

static int pdc_result(PdcContext* ctx, pblib_error* error) {
    if (ctx->read_error) {
        pblib_respmgr_cfg_free(ctx->result);
        return PBLIB_RESPMGR_CANNOT_READ;
    }
    if (ctx->out_of_memory) {
        return PBLIB_RESPMGR_NO_MEMORY;
    }
    if (ctx->error_count > 0) {
        if (error) {
            *error = ctx->last_error;
        }
        return PBLIB_RESPMGR_SYNTAX;
    }
    return PBLIB_RESPMGR_OK;
}

int pdc_read_stream(FILE* in, pblib_cfg_list* configs, pblib_error* error, long alloc_budget) {
    if (!configs) {
        return PBLIB_RESPMGR_BAD_ARGUMENT;
    }
    configs->count = 0;
    configs->items = NULL;
    if (!in) {
        return PBLIB_RESPMGR_BAD_ARGUMENT;
    }
    PdcContext* ctx = calloc(1, sizeof *ctx);
    if (!ctx) {
        return PBLIB_RESPMGR_NO_MEMORY;
    }
    pdc_context_init(ctx, in, configs, alloc_budget);
    yyscan_t scanner = NULL;
    if (pdc_scanner_open(ctx, &scanner)) {
        /* Past set-up the scanner allocates nothing: its buffer never grows, and the parser's
         * stack is fixed. A failure of the parse ends in pd_parse's own result. */
        pd_parse(scanner, ctx);
        pd_lex_destroy(scanner);
    }
    int result = pdc_result(ctx, error);
    pdc_context_release(ctx);
    free(ctx);
    return result;
}

int pdc_read_memory(const void* data, size_t size, pblib_cfg_list* configs, pblib_error* error) {
    static char empty[1];
    if (!configs) {
        return PBLIB_RESPMGR_BAD_ARGUMENT;
    }
    configs->count = 0;
    configs->items = NULL;
    FILE* in = fmemopen(data ? (void*)data : empty, data ? size : 0, "r");
    if (!in) {
        return PBLIB_RESPMGR_CANNOT_READ;
    }
    int result = pdc_read_stream(in, configs, error, -1);
    fclose(in);
    return result;
}

int pdc_scan_memory(const void* data, size_t size,
                    void (*visit)(void* user, const PdcTokenInfo* token), void* user) {
    static char empty[1];
    FILE* in = fmemopen(data ? (void*)data : empty, data ? size : 0, "r");
    if (!in) {
        return -1;
    }
    PdcContext* ctx = calloc(1, sizeof *ctx);
    if (!ctx) {
        fclose(in);
        return -1;
    }
    pblib_cfg_list unused = {0, NULL};
    pdc_context_init(ctx, in, &unused, -1);
    int count = 0;
    yyscan_t scanner = NULL;
    if (pdc_scanner_open(ctx, &scanner)) {
        PD_STYPE value;
        int code;
        while ((code = pd_lex(&value, scanner)) > 0) {
            PdcTokenInfo token = {code, 0, 0, NULL, ctx->tok_text, ctx->tok_line};
            if (code == STRING_LIT) {
                token.value = value.str;
            } else if (code == IP_VALUE) {
                token.address = value.ip;
            } else if (code >= TIME_VALUE) {
                token.number = value.num;
            }
            visit(user, &token);
            if (code == STRING_LIT) {
                free(value.str);
            }
            ++count;
        }
        pd_lex_destroy(scanner);
    }
    if (ctx->out_of_memory || ctx->read_error) {
        count = -1;
    }
    pdc_context_release(ctx);
    free(ctx);
    fclose(in);
    return count;
}

/* --- exported functions --------------------------------------------------------------------- */

int pblib_respmgr_cfg_read(const char* path, pblib_cfg_list* configs, pblib_error* error) {
    if (!configs) {
        return PBLIB_RESPMGR_BAD_ARGUMENT;
    }
    configs->count = 0;
    configs->items = NULL;
    if (!path) {
        return PBLIB_RESPMGR_BAD_ARGUMENT;
    }
    /* Close-on-exec: a policy file must not stay open in a program this process starts. */
    FILE* in = fopen(path, "re");
    if (!in) {
        return errno == ENOENT ? PBLIB_RESPMGR_NO_FILE : PBLIB_RESPMGR_CANNOT_READ;
    }
    int result = pdc_read_stream(in, configs, error, -1);
    fclose(in);
    return result;
}

int pblib_respmgr_cfg_free(pblib_cfg_list* configs) {
    if (!configs) {
        return 0;
    }
    if (configs->items) {
        for (int32_t i = 0; i < configs->count; ++i) {
            pblib_respmgr_cfg* entry = configs->items[i];
            if (entry) {
                pdc_free_cfg_contents(entry);
                free(entry);
            }
        }
    }
    free(configs->items);
    configs->count = 0;
    configs->items = NULL;
    return 0;
}
