/* The builders of the result records, called by the grammar's actions (PolicyData.y), and the
 * release of what they built. */

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "PolicyDataRecords.h"

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

void pdc_node_reset(pblib_node* node) {
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

void pdc_free_cfg_contents(pblib_respmgr_cfg* cfg) {
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

void pdc_node_drop(PdcContext* ctx) { pdc_node_reset(&ctx->node); }
