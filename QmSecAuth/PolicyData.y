/* Grammar of policy data files.
 *
 * Every list has an error alternative: after a syntax error the parser drops input until it can
 * go on in the innermost list that encloses the error, and that list gives the error its code.
 * Where a list ends its enclosing element (the items of a secondary manager end the manager),
 * the parser could recover in either list; recovering in the inner one keeps more of the file,
 * so the error token binds tighter than the end of every such element (the INNER_LIST_END
 * precedence below). Only manager configurations are built; everything else is checked and
 * dropped. */

%define api.pure full
%define api.prefix {pd_}
%define parse.error simple

%code requires {
#include "PolicyDataContext.h"
#ifndef YY_TYPEDEF_YY_SCANNER_T
#define YY_TYPEDEF_YY_SCANNER_T
typedef void* yyscan_t;
#endif
}

%code {
#include <stdlib.h>

#include "PolicyDataRecords.h"
#include "PolicyDataTokens.h"

/* The grammar nests a handful of lists and every list recurses to the left, so the stack
 * stays shallow whatever the file holds. A fixed stack of 500 states needs no allocation;
 * exhausting it, were it possible, would end the parse as a syntax error of the file. */
#define YYINITDEPTH 500
#define YYMAXDEPTH 500

int pd_lex(PD_STYPE* value, yyscan_t scanner);
static void pd_error(yyscan_t scanner, PdcContext* ctx, const char* message);

/* The error alternative of a list: the list recovered from the last error. */
#define RECOVERED(code) pdc_recovered(ctx, (code))

/* The error alternative of a list inside a manager configuration that cannot end where the
 * next configuration starts: recovering there would drop every token up to the next item of
 * this list, the following configurations included. At the start of the next configuration
 * or at the end of the file, recovery moves out to the enclosing list instead, so that the
 * configurations after the error are still read (and the current one is still kept).
 * No rule using it may consist of the error token alone: YYERROR pops the rule and would find
 * the same error alternative again. */
#define RECOVERED_INNER(code) \
    do { \
        pdc_recovered(ctx, (code)); \
        if (yychar == PD_EMPTY) { \
            yychar = pd_lex(&yylval, scanner); \
        } \
        if (yychar == KW_RESPMGRCONFIG || yychar <= PD_EOF) { \
            YYERROR; \
        } \
    } while (0)
/* A builder that allocates ends the parse when the allocation fails. */
#define BUILD(call) \
    do { \
        if (!(call)) { \
            YYABORT; \
        } \
    } while (0)
}

%param {yyscan_t scanner}
%parse-param {PdcContext* ctx}

%union {
    char* str;
    long long num;
    unsigned ip;
}

%token KW_ACKN 257 "ACKN"
%token KW_ACKNONLOCALMGR 258 "ACKNONLOCALMGR"
%token KW_ACTALLOWMGRID 259 "ACTALLOWMGRID"
%token KW_ACTIONALLOWMANAGER 260 "ACTIONALLOWMANAGER"
%token KW_ACTIONALLOWMANAGERS 261 "ACTIONALLOWMANAGERS"
%token KW_APPLICATION 262 "APPLICATION"
%token KW_CONDSTATUSVAR 264 "CONDSTATUSVAR"
%token KW_CONDSTATUSVARS 265 "CONDSTATUSVARS"
%token KW_DATE 266 "DATE"
%token KW_DEC 267 "DEC"
%token KW_DEFAULTMANAGER 268 "DEFAULTMANAGER"
%token KW_DESCRIPTION 269 "DESCRIPTION"
%token KW_FROM 270 "FROM"
%token KW_ID 272 "ID"
%token KW_INSERVICE 273 "INSERVICE"
%token KW_IP 274 "IP"
%token KW_LOGONLY 275 "LOGONLY"
%token KW_MSGCONDTYPE 276 "MSGCONDTYPE"
%token KW_MSGCONTROLLINGMGR 277 "MSGCONTROLLINGMGR"
%token KW_MSGGRP 278 "MSGGRP"
%token KW_MSGOPERATION 279 "MSGOPERATION"
%token KW_MSGOPERATIONS 280 "MSGOPERATIONS"
%token KW_MSGTARGETMANAGER 281 "MSGTARGETMANAGER"
%token KW_MSGTARGETMANAGERS 282 "MSGTARGETMANAGERS"
%token KW_MSGTARGETRULE 283 "MSGTARGETRULE"
%token KW_MSGTARGETRULECOND 284 "MSGTARGETRULECOND"
%token KW_MSGTARGETRULECONDS 285 "MSGTARGETRULECONDS"
%token KW_MSGTARGETRULEID 286 "MSGTARGETRULEID"
%token KW_MSGTARGETRULES 287 "MSGTARGETRULES"
%token KW_MSGTYPE 288 "MSGTYPE"
%token KW_NODE 289 "NODE"
%token KW_NOTIFICATION 290 "NOTIFICATION"
%token KW_NOTIFYMGR 291 "NOTIFYMGR"
%token KW_NOVELL 292 "NOVELL"
%token KW_OBJECT 293 "OBJECT"
%token KW_ON 294 "ON"
%token KW_VEXMGR 295 "VEXMGR"
%token KW_OTHER 296 "OTHER"
%token KW_RESPMGRCFG 297 "RESPMGRCFG"
%token KW_RESPMGRCFGID 298 "RESPMGRCFGID"
%token KW_RESPMGRCONFIG 299 "RESPMGRCONFIG"
%token KW_RESPMGRCONFIGS 300 "RESPMGRCONFIGS"
%token KW_SECONDARYMANAGER 301 "SECONDARYMANAGER"
%token KW_SECONDARYMANAGERS 302 "SECONDARYMANAGERS"
%token KW_SECONDARYMGRID 303 "SECONDARYMGRID"
%token KW_SERVICE_NAME 305 "SERVICE_NAME"
%token KW_SEVERITY 306 "SEVERITY"
%token KW_SNA 307 "SNA"
%token KW_SUPPRESS 308 "SUPPRESS"
%token KW_TEXT 309 "TEXT"
%token KW_TIME 310 "TIME"
%token KW_TIMECONDTYPE 311 "TIMECONDTYPE"
%token KW_TIMETEMPLATE 312 "TIMETEMPLATE"
%token KW_TIMETEMPLATENAME 313 "TIMETEMPLATENAME"
%token KW_TIMETEMPLATES 314 "TIMETEMPLATES"
%token KW_TIMETMPLCOND 315 "TIMETMPLCOND"
%token KW_TIMETMPLCONDID 316 "TIMETMPLCONDID"
%token KW_TIMETMPLCONDS 317 "TIMETMPLCONDS"
%token KW_TIMETMPLID 318 "TIMETMPLID"
%token KW_TIMEZONETYPE 319 "TIMEZONETYPE"
%token KW_TIMEZONEVALUE 320 "TIMEZONEVALUE"
%token KW_TO 321 "TO"
%token KW_TROUBLETICKET 322 "TROUBLETICKET"
%token KW_WEEKDAY 323 "WEEKDAY"
%token CATCH_ALL 324 "unknown word"

%token <str> STRING_LIT "string"
%token <num> TIME_VALUE "time"
%token <num> DATE_VALUE "date"
%token <ip> IP_VALUE "IP address"
%token <num> SEVERITY_VALUE "severity"
%token <num> BOOL_VALUE "boolean"
%token <num> CONDTYPE_VALUE "condition type"
%token <num> WEEKDAY_VALUE "weekday"
%token <num> TZTYPE_VALUE "time zone type"

%destructor { free($$); } <str>

/* The end of an element whose last part is a list binds weaker than that list's error
 * alternative, so an error there is recovered in the inner list. Likewise a DESCRIPTION after
 * the node of an action-allowed manager describes that manager; it does not start the next
 * group of the configuration (a next group there starts with RESPMGRCFGID). */
%precedence INNER_LIST_END
%precedence error KW_DESCRIPTION

%%

file
    : %empty
    | sections
    | top_error sections
    ;

top_error
    : error { RECOVERED(PBLIB_ERR_FILE); }
    ;

sections
    : KW_RESPMGRCONFIGS configs
    | KW_TIMETEMPLATES templates KW_RESPMGRCONFIGS configs
    | KW_CONDSTATUSVARS variables KW_RESPMGRCONFIGS configs
    | KW_TIMETEMPLATES templates KW_CONDSTATUSVARS variables KW_RESPMGRCONFIGS configs
    ;

/* --- condition status variables ------------------------------------------------------------ */

variables
    : %empty
    | variables KW_CONDSTATUSVAR STRING_LIT BOOL_VALUE { free($3); }
    | variables error { RECOVERED(PBLIB_ERR_STATUS_VARIABLES); }
    ;

/* --- time templates ------------------------------------------------------------------------ */

templates
    : %empty
    | templates template
    | templates error { RECOVERED(PBLIB_ERR_TIME_TEMPLATES); }
    ;

template
    : KW_TIMETEMPLATE STRING_LIT KW_DESCRIPTION STRING_LIT template_options template_conditions
      { free($2); free($4); }
    ;

template_options
    : %empty
    | template_options KW_TIMETMPLID STRING_LIT { free($3); }
    | template_options KW_TIMEZONETYPE TZTYPE_VALUE KW_TIMEZONEVALUE STRING_LIT { free($5); }
    | template_options error { RECOVERED(PBLIB_ERR_TIME_TEMPLATES); }
    ;

template_conditions
    : %empty %prec INNER_LIST_END
    | KW_TIMETMPLCONDS conditions %prec INNER_LIST_END
    ;

conditions
    : %empty
    | conditions condition
    | conditions error { RECOVERED(PBLIB_ERR_TIME_CONDITIONS); }
    ;

condition
    : KW_TIMETMPLCOND condition_items %prec INNER_LIST_END
    ;

condition_items
    : %empty
    | condition_items condition_item
    | condition_items error { RECOVERED(PBLIB_ERR_TIME_CONDITIONS); }
    ;

condition_item
    : KW_TIMETMPLCONDID STRING_LIT { free($2); }
    | KW_TIMECONDTYPE CONDTYPE_VALUE
    | KW_TIME KW_FROM TIME_VALUE KW_TO TIME_VALUE
    | KW_WEEKDAY KW_ON WEEKDAY_VALUE
    | KW_WEEKDAY KW_FROM WEEKDAY_VALUE KW_TO WEEKDAY_VALUE
    | KW_DATE KW_ON DATE_VALUE
    | KW_DATE KW_FROM DATE_VALUE KW_TO DATE_VALUE
    ;

/* --- manager configurations ---------------------------------------------------------------- */

configs
    : %empty
    | configs config
    | configs error { RECOVERED(PBLIB_ERR_CONFIGS); }
    ;

config
    : config_start config_body %prec INNER_LIST_END { BUILD(pdc_config_finish(ctx)); }
    ;

config_start
    : KW_RESPMGRCONFIG { pdc_config_start(ctx); }
    ;

config_body
    : %empty
    | config_body group
    | config_body error { RECOVERED(PBLIB_ERR_CONFIGS); }
    ;

group
    : group_head default_manager managers
    ;

group_head
    : KW_DESCRIPTION STRING_LIT { pdc_config_set_description(ctx, $2); }
    | config_id KW_DESCRIPTION STRING_LIT { pdc_config_set_description(ctx, $3); }
    ;

config_id
    : KW_RESPMGRCFGID STRING_LIT { pdc_config_set_id(ctx, $2); }
    ;

/* At most one default manager per group; an error in it is recovered before the managers. */
default_manager
    : %empty
    | default_manager_clause
    | default_manager error { RECOVERED_INNER(PBLIB_ERR_CONFIGS); }
    ;

default_manager_clause
    : default_manager_node
    | default_manager_node KW_DESCRIPTION STRING_LIT
      { pdc_config_set_default_description(ctx, $3); }
    | KW_DEFAULTMANAGER error { RECOVERED_INNER(PBLIB_ERR_CONFIGS); }
    ;

default_manager_node
    : KW_DEFAULTMANAGER KW_NODE node { pdc_config_set_default_node(ctx); }
    ;

managers
    : KW_SECONDARYMANAGERS secondaries KW_ACTIONALLOWMANAGERS action_alloweds
      %prec INNER_LIST_END
    | KW_SECONDARYMANAGERS secondaries KW_ACTIONALLOWMANAGERS action_alloweds
      KW_MSGTARGETRULES target_rules %prec INNER_LIST_END
    | KW_MSGTARGETRULES target_rules %prec INNER_LIST_END
    ;

/* --- secondary and action-allowed managers ------------------------------------------------- */

/* Each SECONDARYMANAGER or ACTIONALLOWMANAGER clause gives one manager reference, made when the
 * clause starts and filled by what follows, so that a clause cut short by an error still
 * leaves its reference in the list. */

secondaries
    : %empty { pdc_refs_start(ctx); }
    | secondaries secondary
    | secondaries error { RECOVERED_INNER(PBLIB_ERR_SECONDARY); }
    ;

secondary
    : secondary_start secondary_items %prec INNER_LIST_END
    ;

secondary_start
    : KW_SECONDARYMANAGER { BUILD(pdc_ref_start(ctx, PBLIB_MGR_SECONDARY)); }
    ;

secondary_items
    : %empty
    | secondary_items secondary_item
    | secondary_items error { RECOVERED_INNER(PBLIB_ERR_SECONDARY); }
    ;

secondary_item
    : secondary_node
    | secondary_node KW_DESCRIPTION STRING_LIT { free($3); }
    ;

secondary_node
    : KW_NODE node { pdc_ref_set_node(ctx); }
    | secondary_id KW_NODE node { pdc_ref_set_node(ctx); }
    ;

secondary_id
    : KW_SECONDARYMGRID STRING_LIT { pdc_ref_set_id(ctx, $2); }
    ;

action_alloweds
    : %empty { pdc_refs_start(ctx); }
    | action_alloweds action_allowed
    | action_alloweds error { RECOVERED(PBLIB_ERR_ACTION_ALLOWED); }
    ;

action_allowed
    : action_allowed_start action_allowed_items %prec INNER_LIST_END
    ;

action_allowed_start
    : KW_ACTIONALLOWMANAGER { BUILD(pdc_ref_start(ctx, PBLIB_MGR_ACTION_ALLOWED)); }
    ;

action_allowed_items
    : %empty
    | action_allowed_items action_allowed_item
    | action_allowed_items error { RECOVERED(PBLIB_ERR_ACTION_ALLOWED); }
    ;

action_allowed_item
    : action_allowed_node %prec INNER_LIST_END
    | action_allowed_node KW_DESCRIPTION STRING_LIT { free($3); }
    ;

action_allowed_node
    : KW_NODE node { pdc_ref_set_node(ctx); }
    | action_allowed_id KW_NODE node { pdc_ref_set_node(ctx); }
    ;

action_allowed_id
    : KW_ACTALLOWMGRID STRING_LIT { pdc_ref_set_id(ctx, $2); }
    ;

/* --- message target rules ------------------------------------------------------------------ */

target_rules
    : %empty
    | target_rules target_rule
    | target_rules error { RECOVERED(PBLIB_ERR_TARGET_RULES); }
    ;

target_rule
    : KW_MSGTARGETRULE KW_DESCRIPTION STRING_LIT rule_body { free($3); }
    | KW_MSGTARGETRULE KW_DESCRIPTION STRING_LIT KW_MSGTARGETRULEID STRING_LIT rule_body
      { free($3); free($5); }
    ;

rule_body
    : KW_MSGTARGETRULECONDS rule_conditions KW_MSGTARGETMANAGERS target_managers
      %prec INNER_LIST_END
    | KW_MSGTARGETRULECONDS rule_conditions KW_MSGTARGETMANAGERS target_managers
      KW_ACKNONLOCALMGR
    | KW_MSGTARGETRULECONDS rule_conditions KW_MSGOPERATIONS operations %prec INNER_LIST_END
    ;

rule_conditions
    : %empty
    | rule_conditions rule_condition
    | rule_conditions error { RECOVERED_INNER(PBLIB_ERR_RULE_CONDITIONS); }
    ;

rule_condition
    : KW_MSGTARGETRULECOND KW_DESCRIPTION STRING_LIT rule_condition_items %prec INNER_LIST_END
      { free($3); }
    ;

rule_condition_items
    : %empty
    | rule_condition_items rule_condition_item
    | rule_condition_items error { RECOVERED_INNER(PBLIB_ERR_RULE_CONDITIONS); }
    ;

rule_condition_item
    : KW_SEVERITY SEVERITY_VALUE
    | KW_NODE condition_nodes %prec INNER_LIST_END
    | KW_NODE error { RECOVERED_INNER(PBLIB_ERR_CONDITION_NODES); }
    | KW_APPLICATION STRING_LIT { free($2); }
    | KW_MSGGRP STRING_LIT { free($2); }
    | KW_OBJECT STRING_LIT { free($2); }
    | KW_CONDSTATUSVAR STRING_LIT { free($2); }
    | KW_MSGTYPE STRING_LIT { free($2); }
    | KW_MSGCONDTYPE CONDTYPE_VALUE
    | KW_TEXT STRING_LIT { free($2); }
    | KW_SERVICE_NAME STRING_LIT { free($2); }
    ;

condition_nodes
    : node { pdc_node_drop(ctx); }
    | condition_nodes node { pdc_node_drop(ctx); }
    | condition_nodes error { RECOVERED_INNER(PBLIB_ERR_CONDITION_NODES); }
    ;

target_managers
    : %empty
    | target_managers target_manager
    | target_managers error { RECOVERED(PBLIB_ERR_TARGET_MANAGERS); }
    ;

target_manager
    : KW_MSGTARGETMANAGER target_manager_items %prec INNER_LIST_END
    ;

target_manager_items
    : %empty
    | target_manager_items target_manager_item
    | target_manager_items error { RECOVERED(PBLIB_ERR_TARGET_MANAGERS); }
    ;

target_manager_item
    : KW_TIMETEMPLATE STRING_LIT KW_VEXMGR node { free($2); pdc_node_drop(ctx); }
    | KW_TIMETEMPLATE STRING_LIT KW_VEXMGR node KW_MSGCONTROLLINGMGR
      { free($2); pdc_node_drop(ctx); }
    | KW_TIMETEMPLATE STRING_LIT KW_VEXMGR node KW_NOTIFYMGR { free($2); pdc_node_drop(ctx); }
    ;

operations
    : %empty
    | operations operation
    | operations error { RECOVERED(PBLIB_ERR_OPERATIONS); }
    ;

operation
    : KW_MSGOPERATION operation_items %prec INNER_LIST_END
    ;

/* Each operation item may be preceded by the time template it applies to. */
operation_items
    : %empty
    | operation_items KW_TIMETEMPLATE STRING_LIT { free($3); }
    | operation_items operation_item
    | operation_items error { RECOVERED(PBLIB_ERR_OPERATIONS); }
    ;

operation_item
    : KW_INSERVICE
    | KW_SUPPRESS
    | KW_LOGONLY
    | KW_NOTIFICATION BOOL_VALUE
    | KW_TROUBLETICKET BOOL_VALUE
    | KW_TROUBLETICKET BOOL_VALUE KW_ACKN
    ;

/* --- nodes --------------------------------------------------------------------------------- */

node
    : address
    | address KW_ID STRING_LIT { pdc_node_set_id(ctx, $3); }
    ;

address
    : KW_IP IP_VALUE { pdc_node_ip(ctx, $2, NULL); }
    | KW_IP IP_VALUE STRING_LIT { pdc_node_ip(ctx, $2, $3); }
    | KW_DEC STRING_LIT { pdc_node_named(ctx, PBLIB_ADDR_DEC, $2); }
    | KW_SNA STRING_LIT { pdc_node_named(ctx, PBLIB_ADDR_SNA, $2); }
    | KW_NOVELL STRING_LIT { pdc_node_named(ctx, PBLIB_ADDR_NOVELL, $2); }
    | KW_OTHER STRING_LIT { pdc_node_named(ctx, PBLIB_ADDR_OTHER, $2); }
    ;

%%

static void pd_error(yyscan_t scanner, PdcContext* ctx, const char* message) {
    (void)scanner;
    (void)message;
    pdc_syntax_error(ctx);
}
