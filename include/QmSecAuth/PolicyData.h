/* Reader of manager-configuration policy data files.
 *
 * A policy data file lists which management servers may act on this node: per manager
 * configuration a default manager, secondary managers and action-allowed managers, each named
 * by its node (address, name and core id). The reader checks the whole file (time templates,
 * condition status variables and message target rules included) and returns only the manager
 * configurations, as plain C records the caller releases with pblib_respmgr_cfg_free.
 *
 * The interface is plain C so that programs in any language can call it; every record is
 * allocated with the C runtime's malloc family and owned by the list it hangs from.
 *
 * Both functions are reentrant: each call keeps its scanner and parser state to itself, so
 * calls on different lists may run on different threads at the same time.
 */
#ifndef QMSECAUTH_POLICYDATA_H
#define QMSECAUTH_POLICYDATA_H

#include <stdint.h>

#include "QmSecCore/Export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the id arrays: 36 characters and the terminating zero. */
#define PBLIB_ID_SIZE 37
/* The id of a node, manager or configuration that has none in the file. */
#define PBLIB_NO_ID "000000000000000000000000000000000000"
/* Size of the error record's text: at most 2047 characters and the terminating zero. */
#define PBLIB_ERROR_TEXT_SIZE 2048

/* Results of pblib_respmgr_cfg_read. */
enum {
    PBLIB_RESPMGR_OK = 0,
    PBLIB_RESPMGR_BAD_ARGUMENT = -1, /* configs (or path) is null */
    PBLIB_RESPMGR_NO_FILE = -9,      /* the file does not exist */
    PBLIB_RESPMGR_CANNOT_READ = -10, /* the file cannot be opened or read */
    PBLIB_RESPMGR_NO_MEMORY = -12,   /* an allocation failed; the list holds what was built */
    PBLIB_RESPMGR_SYNTAX = -20       /* at least one syntax error; see the error record */
};

/* Address kinds of a node record. */
enum {
    PBLIB_ADDR_NONE = 0, /* no address, or an IP node with a name whose address is 0 */
    PBLIB_ADDR_IP = 1,
    PBLIB_ADDR_SNA = 2,
    PBLIB_ADDR_DEC = 3,
    PBLIB_ADDR_NOVELL = 4,
    PBLIB_ADDR_OTHER = 5
};

/* List kinds of a manager reference. */
enum { PBLIB_MGR_SECONDARY = 1, PBLIB_MGR_ACTION_ALLOWED = 2 };

/* Error codes: the part of the file in which the parser recovered from the last syntax error. */
enum {
    PBLIB_ERR_FILE = 1,             /* the file as a whole: no section could be recognised */
    PBLIB_ERR_TIME_TEMPLATES = 2,   /* time templates, or the options of one */
    PBLIB_ERR_TIME_CONDITIONS = 3,  /* time template conditions, or the items of one */
    PBLIB_ERR_CONFIGS = 4,          /* manager configurations, a body, or a default manager */
    PBLIB_ERR_SECONDARY = 6,        /* secondary managers, or the items of one */
    PBLIB_ERR_ACTION_ALLOWED = 7,   /* action-allowed managers, or the items of one */
    PBLIB_ERR_TARGET_MANAGERS = 8,  /* message target managers, or the items of one */
    PBLIB_ERR_TARGET_RULES = 9,     /* message target rules */
    PBLIB_ERR_RULE_CONDITIONS = 10, /* message target rule conditions, or the items of one */
    PBLIB_ERR_CONDITION_NODES = 11, /* the node list of a NODE condition */
    PBLIB_ERR_OPERATIONS = 13,      /* message operations, or the items of one */
    PBLIB_ERR_STATUS_VARIABLES = 14 /* condition status variables */
};

/* A list of record pointers. Lists of the reader are always consistent: count entries in
 * items, items null when count is 0. */
typedef struct pblib_list {
    int32_t count;
    void** items;
} pblib_list;

/* A node, embedded by value in the records below. */
typedef struct pblib_node {
    char core_id[PBLIB_ID_SIZE]; /* the node's core id, PBLIB_NO_ID when the file gives none */
    uint8_t addr_kind;           /* PBLIB_ADDR_... */
    uint32_t address;            /* IPv4 address in host byte order (IP nodes), else 0 */
    char* name;                  /* owned; null when the file gives no name */
} pblib_node;

/* A secondary or action-allowed manager of a configuration. */
typedef struct pblib_respmgr_ref {
    char mgr_id[PBLIB_ID_SIZE]; /* the manager's id, PBLIB_NO_ID when the file gives none */
    uint8_t list_kind;          /* PBLIB_MGR_... */
    uint16_t position;          /* position in its list of the file, from 0 */
    char* description;          /* always null: the manager's description is not kept */
    pblib_node node;
    uint8_t flag; /* always 0 */
} pblib_respmgr_ref;

typedef struct pblib_ref_list {
    int32_t count;
    pblib_respmgr_ref** items;
} pblib_ref_list;

/* One manager configuration of the file. */
typedef struct pblib_respmgr_cfg {
    char cfg_id[PBLIB_ID_SIZE]; /* the configuration id, PBLIB_NO_ID when the file gives none */
    char* description;          /* owned, or null */
    pblib_ref_list secondary;
    pblib_ref_list action_allowed;
    pblib_list reserved1;       /* always empty */
    pblib_node default_manager; /* all defaults when the configuration names none */
    char* default_description;  /* owned description of the default manager, or null */
    pblib_list reserved2;       /* always empty */
} pblib_respmgr_cfg;

typedef struct pblib_cfg_list {
    int32_t count;
    pblib_respmgr_cfg** items;
} pblib_cfg_list;

/* Where the last syntax error was found: the token at which the parser found it (a string in
 * its quotes; at the end of the file, the last token before it), cut to 2047 characters. */
typedef struct pblib_error {
    char text[PBLIB_ERROR_TEXT_SIZE]; /* text of the token at the error, zero-terminated */
    int32_t line;                     /* line of that token, from 1 */
    int32_t code;                     /* PBLIB_ERR_... */
} pblib_error;

/* Reads the policy data file at path into configs.
 *
 * configs is set to empty first (whatever it held is not freed) and then receives one entry per
 * manager configuration, in file order; the caller owns them and releases them with
 * pblib_respmgr_cfg_free whatever the result. error, if not null, is written only for
 * PBLIB_RESPMGR_SYNTAX and then describes the last syntax error; configs then holds what was
 * read around the errors. After PBLIB_RESPMGR_NO_MEMORY configs holds what was built before the
 * failure; after any other failure it stays empty. The file is closed before the call returns.
 * Returns one of the PBLIB_RESPMGR_... results; never throws. */
QMSEC_API int pblib_respmgr_cfg_read(const char* path, pblib_cfg_list* configs, pblib_error* error);

/* Frees every entry, reference, string and array reachable from configs and empties it.
 * Returns 0, also for a null list. */
QMSEC_API int pblib_respmgr_cfg_free(pblib_cfg_list* configs);

#ifdef __cplusplus
}
#endif

#endif /* QMSECAUTH_POLICYDATA_H */
