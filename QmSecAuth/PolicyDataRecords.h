/* The builders of the result records and the release of what they built. */
#ifndef QMSECAUTH_POLICYDATARECORDS_H
#define QMSECAUTH_POLICYDATARECORDS_H

#include "PolicyDataContext.h"

#ifdef __cplusplus
extern "C" {
#endif

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

/* Release: a node's name, leaving a node without id or address; everything an entry owns,
 * leaving it empty. */
void pdc_node_reset(pblib_node* node);
void pdc_free_cfg_contents(pblib_respmgr_cfg* cfg);

#ifdef __cplusplus
}
#endif

#endif /* QMSECAUTH_POLICYDATARECORDS_H */
