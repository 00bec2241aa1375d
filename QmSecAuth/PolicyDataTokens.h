/* Token handling over the generated scanner: what the scanner's rules call, the syntax error
 * record the parser fills, and the scanner's set-up and memory. */
#ifndef QMSECAUTH_POLICYDATATOKENS_H
#define QMSECAUTH_POLICYDATATOKENS_H

#include "PolicyDataContext.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifndef YY_TYPEDEF_YY_SCANNER_T
#define YY_TYPEDEF_YY_SCANNER_T
typedef void* yyscan_t;
#endif

/* The longest word, comment line or run of other characters the scanner accepts. A longer one
 * becomes a catch-all token, which no rule accepts: a syntax error at its line. */
#define PDC_MAX_TOKEN_LENGTH 8192

/* The code of the catch-all token. */
#define PDC_CATCH_ALL 324

/* Allocation for the generated scanner. */
void* pdc_flex_alloc(PdcContext* ctx, size_t size);
void* pdc_flex_realloc(PdcContext* ctx, void* p, size_t size);
void pdc_flex_free(PdcContext* ctx, void* p);

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

/* Sets the scanner up on its buffer. Returns 0 when an allocation failed; the scanner's memory
 * is then already freed. */
int pdc_scanner_open(PdcContext* ctx, yyscan_t* scanner);

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

#endif /* QMSECAUTH_POLICYDATATOKENS_H */
