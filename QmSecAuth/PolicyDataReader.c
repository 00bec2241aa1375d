/* The policy data reader around the generated scanner and parser: the input reader in front of
 * the scanner, the texts kept for error reports, the builders of the result records, and the
 * exported entry points. Plain C on the C runtime only. */

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "PolicyDataContext.h"
#include "PolicyDataParser.h"

#define YYSTYPE PD_STYPE
#include "PolicyDataScanner.h"

/* Size of the scanner's buffer. No scanner rule matches more than a few hundred bytes, so the
 * buffer never has to grow (see PolicyData.l). */
#define PDC_SCAN_BUFFER_SIZE 16384

/* --- allocation ----------------------------------------------------------------------------- */

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

/* --- input reader --------------------------------------------------------------------------- */

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

/* --- records -------------------------------------------------------------------------------- */

/* Copies the first 36 bytes of an id; a multi-byte character that would be cut in two is
 * left out whole, so the id stays valid UTF-8. */
static void pdc_copy_id(char* dst, const char* src) {
    size_t n = strnlen(src, PBLIB_ID_SIZE);
    memset(dst, 0, PBLIB_ID_SIZE);
    if (n > PBLIB_ID_SIZE - 1) {
        size_t cut = PBLIB_ID_SIZE - 1;
        n = cut;
        while (cut > 0 && n - cut < 3 && ((unsigned char)src[cut] & 0xC0) == 0x80) {
            --cut;
        }
        if (((unsigned char)src[cut] & 0xC0) != 0x80) {
            n = cut;
        }
    }
    memcpy(dst, src, n);
}

static void pdc_node_reset(pblib_node* node) {
    free(node->name);
    memset(node, 0, sizeof *node);
    memcpy(node->core_id, PBLIB_NO_ID, PBLIB_ID_SIZE);
}

static void pdc_free_refs(pblib_ref_list* list) {
    if (list->items) {
        for (int32_t i = 0; i < list->count; ++i) {
            pblib_respmgr_ref* ref = list->items[i];
            if (ref) {
                free(ref->description);
                free(ref->node.name);
                free(ref);
            }
        }
    }
    free(list->items);
    list->count = 0;
    list->items = NULL;
}

static void pdc_free_reserved(pblib_list* list) {
    free(list->items);
    list->count = 0;
    list->items = NULL;
}

static void pdc_free_cfg_contents(pblib_respmgr_cfg* cfg) {
    free(cfg->description);
    pdc_free_refs(&cfg->secondary);
    pdc_free_refs(&cfg->action_allowed);
    pdc_free_reserved(&cfg->reserved1);
    free(cfg->default_manager.name);
    free(cfg->default_description);
    pdc_free_reserved(&cfg->reserved2);
    memset(cfg, 0, sizeof *cfg);
}

/* Returns the item array of a list with room for one more pointer, or null. Arrays grow in
 * steps of 50 pointers, doubled each time, so that long lists are not copied over and over;
 * the capacity follows from the count, so the list itself needs no field for it. */
static void* pdc_room_for_one(PdcContext* ctx, void* items, int32_t count, size_t item_size) {
    if (count == INT32_MAX) {
        ctx->out_of_memory = 1;
        return NULL;
    }
    size_t capacity = 0;
    if (count > 0) {
        capacity = 50;
        while (capacity < (size_t)count) {
            capacity *= 2;
        }
    }
    if ((size_t)count < capacity) {
        return items;
    }
    return pdc_realloc(ctx, items, (capacity ? capacity * 2 : 50) * item_size);
}

/* --- builders ------------------------------------------------------------------------------- */

void pdc_config_start(PdcContext* ctx) {
    if (ctx->in_config) {
        pdc_free_cfg_contents(&ctx->cfg);
    }
    memset(&ctx->cfg, 0, sizeof ctx->cfg);
    memcpy(ctx->cfg.cfg_id, PBLIB_NO_ID, PBLIB_ID_SIZE);
    pdc_node_reset(&ctx->cfg.default_manager);
    ctx->in_config = 1;
    ctx->ref = NULL;
}

int pdc_config_finish(PdcContext* ctx) {
    pblib_cfg_list* result = ctx->result;
    pblib_respmgr_cfg** items =
        pdc_room_for_one(ctx, result->items, result->count, sizeof *result->items);
    if (!items) {
        return 0;
    }
    result->items = items;
    pblib_respmgr_cfg* entry = pdc_calloc(ctx, 1, sizeof *entry);
    if (!entry) {
        return 0;
    }
    *entry = ctx->cfg;
    memset(&ctx->cfg, 0, sizeof ctx->cfg);
    ctx->in_config = 0;
    ctx->ref = NULL;
    items[result->count++] = entry;
    return 1;
}

void pdc_config_set_id(PdcContext* ctx, char* id) {
    pdc_copy_id(ctx->cfg.cfg_id, id);
    free(id);
}

void pdc_config_set_description(PdcContext* ctx, char* description) {
    free(ctx->cfg.description);
    ctx->cfg.description = description;
}

void pdc_config_set_default_node(PdcContext* ctx) {
    free(ctx->cfg.default_manager.name);
    ctx->cfg.default_manager = ctx->node;
    ctx->node.name = NULL;
    pdc_node_reset(&ctx->node);
    free(ctx->cfg.default_description);
    ctx->cfg.default_description = NULL;
}

void pdc_config_set_default_description(PdcContext* ctx, char* description) {
    free(ctx->cfg.default_description);
    ctx->cfg.default_description = description;
}

void pdc_refs_start(PdcContext* ctx) {
    ctx->ref = NULL;
    ctx->position = 0;
}

int pdc_ref_start(PdcContext* ctx, int list_kind) {
    pblib_ref_list* list =
        list_kind == PBLIB_MGR_SECONDARY ? &ctx->cfg.secondary : &ctx->cfg.action_allowed;
    ctx->ref = NULL;
    pblib_respmgr_ref** items = pdc_room_for_one(ctx, list->items, list->count, sizeof *items);
    if (!items) {
        return 0;
    }
    list->items = items;
    pblib_respmgr_ref* ref = pdc_calloc(ctx, 1, sizeof *ref);
    if (!ref) {
        return 0;
    }
    memcpy(ref->mgr_id, PBLIB_NO_ID, PBLIB_ID_SIZE);
    ref->list_kind = (uint8_t)list_kind;
    /* The record has 16 bits for the position; a longer list keeps the last value. */
    ref->position = (uint16_t)(ctx->position < UINT16_MAX ? ctx->position : UINT16_MAX);
    pdc_node_reset(&ref->node);
    items[list->count++] = ref;
    ctx->ref = ref;
    ++ctx->position;
    return 1;
}

void pdc_ref_set_id(PdcContext* ctx, char* id) {
    if (ctx->ref) {
        pdc_copy_id(ctx->ref->mgr_id, id);
    }
    free(id);
}

void pdc_ref_set_node(PdcContext* ctx) {
    if (ctx->ref) {
        free(ctx->ref->node.name);
        ctx->ref->node = ctx->node;
        ctx->node.name = NULL;
    }
    pdc_node_reset(&ctx->node);
}

void pdc_node_ip(PdcContext* ctx, unsigned address, char* name) {
    pdc_node_reset(&ctx->node);
    ctx->node.address = address;
    ctx->node.name = name;
    ctx->node.addr_kind = (!name || address != 0) ? PBLIB_ADDR_IP : PBLIB_ADDR_NONE;
}

void pdc_node_named(PdcContext* ctx, int kind, char* name) {
    pdc_node_reset(&ctx->node);
    ctx->node.addr_kind = (uint8_t)kind;
    ctx->node.name = name;
}

void pdc_node_set_id(PdcContext* ctx, char* id) {
    pdc_copy_id(ctx->node.core_id, id);
    free(id);
}

void pdc_node_drop(PdcContext* ctx) {
    pdc_node_reset(&ctx->node);
}

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
static int pdc_scanner_open(PdcContext* ctx, yyscan_t* scanner) {
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
