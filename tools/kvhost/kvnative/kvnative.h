/* kvnative.dll: the platform's side of a 1C:Enterprise 8 Native API add-in, built in the MSVC
 * C++ ABI that the platform itself is built in, behind flat C functions that any Windows
 * program can call (kvhost and the tests are built with mingw-w64, whose C++ ABI differs).
 *
 * Each function but the first few wraps one call of the add-in's interfaces, in the order the
 * caller chooses. The proxy plays the platform: its connection object (IAddInDefBaseEx) records
 * every AddError and offers IMsgBox, IPlatformInfo and IAttachedInfo; its memory manager counts
 * every block it hands out, so that a caller can tell whether the add-in freed what it should
 * have and handed back only memory that came from it.
 *
 * Plain C, plain structs, the default (cdecl) convention: the same layout in both ABIs. */
#ifndef KVNATIVE_H
#define KVNATIVE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KVN_BUILDING)
#define KVN_API __declspec(dllexport)
#else
#define KVN_API
#endif

/* Raised whenever a function or a structure changes; kvn_version() answers it. */
#define KVN_VERSION 1

/* Type codes of a value, as tVariant has them. */
enum {
    KVN_EMPTY = 0,
    KVN_NULL = 1,
    KVN_I2 = 2,
    KVN_I4 = 3,
    KVN_R4 = 4,
    KVN_R8 = 5,
    KVN_DATE = 6,
    KVN_TM = 7,
    KVN_PSTR = 8,
    KVN_ERROR = 10,
    KVN_BOOL = 11,
    KVN_I1 = 13,
    KVN_UI1 = 14,
    KVN_UI2 = 15,
    KVN_UI4 = 16,
    KVN_I8 = 17,
    KVN_UI8 = 18,
    KVN_PWSTR = 22,
    KVN_BLOB = 23
};

/* A value in plain terms. In: `data` is the caller's; the proxy copies texts and bytes into the
 * add-in's memory manager for the call. Out: `data` is the proxy's copy (the add-in's block has
 * gone back to the manager), released with kvn_value_clear. */
typedef struct kvn_value {
    uint16_t vt;
    int64_t integer; /* I1 to UI8; BOOL as 0 or 1 */
    double real;     /* R4, R8, DATE (days since 30 December 1899) */
    int32_t tm[9];   /* TM as struct tm has it: sec, min, hour, mday, mon (0-11), year (-1900),
                        wday, yday, isdst */
    void* data;      /* PWSTR: UTF-16 units; PSTR, BLOB: bytes */
    uint32_t length; /* of `data`: units for PWSTR, bytes otherwise; no terminator counted */
} kvn_value;
KVN_API void kvn_value_clear(kvn_value* value);

/* One AddError call. The texts stay valid until kvn_forget_errors or kvn_destroy. */
typedef struct kvn_error {
    uint16_t code;
    const uint16_t* source;
    const uint16_t* description;
    int32_t scode;
} kvn_error;

/* How the platform's side behaves for one object. */
enum { KVN_OFFER_MSGBOX = 1, KVN_OFFER_PLATFORM_INFO = 2, KVN_OFFER_ATTACHED_INFO = 4 };
typedef struct kvn_options {
    int32_t offers;           /* KVN_OFFER_* bits: what GetInterface hands out */
    int32_t confirm_answer;   /* IMsgBox.Confirm's answer (BOOL) */
    int32_t application;      /* IPlatformInfo's application type: 0 thin client, 1 thick, ... */
    int32_t attached;         /* IAttachedInfo's answer: 0 isolated, 1 not isolated */
    int32_t allocations_left; /* AllocMemory refuses once this many were given; -1: never */
    /* Called on the thread that called the platform, as each happens; null: not called. */
    void (*on_error)(void* context, const kvn_error* error);
    void (*on_notice)(void* context, int32_t confirm, const uint16_t* text);
    void* context;
} kvn_options;
KVN_API void kvn_default_options(kvn_options* options);

/* What the memory manager saw. */
typedef struct kvn_memory {
    uint32_t given;           /* blocks AllocMemory handed out */
    uint32_t refused;         /* AllocMemory calls refused (allocations_left) */
    uint32_t freed_by_addin;  /* blocks the add-in gave back with FreeMemory */
    uint32_t freed_by_host;   /* blocks the proxy freed after taking a result */
    uint32_t outstanding;     /* blocks given and not yet freed */
    uint32_t foreign_frees;   /* FreeMemory of a pointer the manager never gave (left alone) */
    uint32_t foreign_results; /* results in memory the manager never gave (copied, not freed) */
} kvn_memory;

/* How often the add-in called the platform's other services. */
typedef struct kvn_calls {
    uint32_t get_interface[3]; /* by interface: MsgBox, PlatformInfo, AttachedInfo */
    uint32_t alerts, confirms, platform_info, attached_info;
    uint32_t profile;     /* Read, Write, RegisterProfileAs */
    uint32_t events;      /* ExternalEvent, SetEventBufferDepth, GetEventBufferDepth, Clean */
    uint32_t status_line; /* SetStatusLine, ResetStatusLine */
} kvn_calls;

typedef struct kvn_library kvn_library;
typedef struct kvn_object kvn_object;

KVN_API int32_t kvn_version(void);

/* The add-in library: LoadLibraryW, then its five exports. Null when it cannot be loaded, with
 * the system's error code; a library without an export loads (its pointer stays null, and the
 * call answers as said below). */
KVN_API kvn_library* kvn_load(const uint16_t* path, uint32_t* system_error);
KVN_API void kvn_unload(kvn_library* library);
/* Which exports the library has: bit 0 GetClassNames, 1 GetClassObject, 2 DestroyObject,
 * 3 SetPlatformCapabilities, 4 GetAttachType. */
KVN_API int32_t kvn_exports(const kvn_library* library);
/* GetClassNames' string, or null (also without the export). */
KVN_API const uint16_t* kvn_class_names(kvn_library* library);
/* SetPlatformCapabilities and GetAttachType; -2 without the export. */
KVN_API int32_t kvn_set_platform_capabilities(kvn_library* library, int32_t capabilities);
KVN_API int32_t kvn_attach_type(kvn_library* library);

/* GetClassObject(name): null when it answered 0 or gave no object (or without the export). The
 * options are copied; null takes the defaults. */
KVN_API kvn_object* kvn_create(kvn_library* library, const uint16_t* class_name,
                               const kvn_options* options);
/* DestroyObject, then the platform's side of the object is freed. The memory counts as they
 * stand after the add-in's destruction go to `memory` (may be null). The answer is
 * DestroyObject's, -2 without the export. */
KVN_API int32_t kvn_destroy(kvn_object* object, kvn_memory* memory);

KVN_API void kvn_memory_counts(kvn_object* object, kvn_memory* memory);
KVN_API void kvn_call_counts(kvn_object* object, kvn_calls* calls);
KVN_API int32_t kvn_error_count(kvn_object* object);
KVN_API int32_t kvn_error_at(kvn_object* object, int32_t index, kvn_error* error);
KVN_API void kvn_forget_errors(kvn_object* object);

/* IInitDoneBase. Init passes the connection (or null when `with_connection` is 0);
 * set_memory_manager the manager (or null when `with_manager` is 0). Booleans answer 0 or 1. */
KVN_API int32_t kvn_init(kvn_object* object, int32_t with_connection);
KVN_API int32_t kvn_set_memory_manager(kvn_object* object, int32_t with_manager);
KVN_API int32_t kvn_get_info(kvn_object* object);
KVN_API void kvn_done(kvn_object* object);

/* LocaleBase and UserLanguageBase. */
KVN_API void kvn_set_locale(kvn_object* object, const uint16_t* locale);
KVN_API void kvn_set_user_interface_language(kvn_object* object, const uint16_t* code);

/* ILanguageExtenderBase. A name comes back in `name` (PWSTR; EMPTY when the add-in gave none),
 * taken out of the manager's block, which is then freed as the platform frees it. */
KVN_API int32_t kvn_register_extension_as(kvn_object* object, kvn_value* name);
KVN_API int32_t kvn_get_n_props(kvn_object* object);
KVN_API int32_t kvn_find_prop(kvn_object* object, const uint16_t* name);
KVN_API void kvn_get_prop_name(kvn_object* object, int32_t number, int32_t alias, kvn_value* name);
KVN_API int32_t kvn_get_prop_val(kvn_object* object, int32_t number, kvn_value* value);
KVN_API int32_t kvn_set_prop_val(kvn_object* object, int32_t number, const kvn_value* value);
KVN_API int32_t kvn_is_prop_readable(kvn_object* object, int32_t number);
KVN_API int32_t kvn_is_prop_writable(kvn_object* object, int32_t number);
KVN_API int32_t kvn_get_n_methods(kvn_object* object);
KVN_API int32_t kvn_find_method(kvn_object* object, const uint16_t* name);
KVN_API void kvn_get_method_name(kvn_object* object, int32_t number, int32_t alias,
                                 kvn_value* name);
KVN_API int32_t kvn_get_n_params(kvn_object* object, int32_t number);
KVN_API int32_t kvn_get_param_def_value(kvn_object* object, int32_t method, int32_t param,
                                        kvn_value* value);
KVN_API int32_t kvn_has_ret_val(kvn_object* object, int32_t method);
/* The parameters are passed as an array of `count` values (none when count is 0) and read back
 * after the call, as the platform reads what a method wrote into its parameters. */
KVN_API int32_t kvn_call_as_proc(kvn_object* object, int32_t method, kvn_value* params,
                                 int32_t count);
KVN_API int32_t kvn_call_as_func(kvn_object* object, int32_t method, kvn_value* result,
                                 kvn_value* params, int32_t count);

#ifdef __cplusplus
}
#endif

#endif /* KVNATIVE_H */
