/* A test-only Windows "gds32.dll" for Wine, built with winegcc for x86_64 and for i386: each
   entry point of the Firebird client that the registry connection uses is forwarded to the
   Linux client library of the same architecture, so that the Windows build reaches a real
   database. No structure needs translating: status vectors hold integers of the pointer's
   size and handles 4 bytes on both sides, and XSQLDA has the same layout. The exports keep
   the Windows convention, stdcall on i386, and call the Linux functions with the Linux one.
   Only drive-letter paths are turned into Unix paths, because the Linux client reads
   "C:\x.fdb" as the host "C". */
#include <dlfcn.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <windows.h>

typedef intptr_t Status;
typedef unsigned int Handle;

/* The Linux client's convention. */
#if defined(__x86_64__)
#define SYSV __attribute__((sysv_abi))
#else
#define SYSV __attribute__((__cdecl__))
#endif

/* The Windows client's convention. KV_BRIDGE_CDECL builds a bridge with the wrong one on
   i386, for the test that shows such a bridge is caught. */
#if defined(KV_BRIDGE_CDECL)
#define EXPORT __attribute__((__cdecl__, __force_align_arg_pointer__))
#else
#define EXPORT WINAPI
#endif

static void* Entry(const char* name) {
    static void* client;
    if (client == NULL) client = dlopen("libfbclient.so.2", RTLD_NOW);
    return client != NULL ? dlsym(client, name) : NULL;
}

/* Fails like the client does when an entry point is missing, so the caller sees a text. */
static Status Missing(Status* status) {
    status[0] = 1;
    status[1] = 335544382; /* isc_random */
    status[2] = 0;
    return status[1];
}

#define FORWARD(name, params, args)                             \
    Status EXPORT bridge_##name params {                        \
        static Status(SYSV* real) params;                       \
        if (real == NULL) *(void**)&real = Entry("isc_" #name); \
        return real != NULL ? real args : Missing(status);      \
    }

FORWARD(detach_database, (Status * status, Handle* db), (status, db))
FORWARD(start_multiple, (Status * status, Handle* tr, short count, void* vector),
        (status, tr, count, vector))
FORWARD(rollback_transaction, (Status * status, Handle* tr), (status, tr))
FORWARD(dsql_alloc_statement2, (Status * status, Handle* db, Handle* stmt), (status, db, stmt))
FORWARD(dsql_prepare,
        (Status * status, Handle* tr, Handle* stmt, unsigned short length, const char* sql,
         unsigned short dialect, void* sqlda),
        (status, tr, stmt, length, sql, dialect, sqlda))
FORWARD(dsql_describe, (Status * status, Handle* stmt, unsigned short version, void* sqlda),
        (status, stmt, version, sqlda))
FORWARD(dsql_describe_bind, (Status * status, Handle* stmt, unsigned short version, void* sqlda),
        (status, stmt, version, sqlda))
FORWARD(dsql_execute,
        (Status * status, Handle* tr, Handle* stmt, unsigned short version, const void* sqlda),
        (status, tr, stmt, version, sqlda))
FORWARD(dsql_fetch, (Status * status, Handle* stmt, unsigned short version, const void* sqlda),
        (status, stmt, version, sqlda))
FORWARD(dsql_free_statement, (Status * status, Handle* stmt, unsigned short option),
        (status, stmt, option))

/* Two hooks for the dialog's tests, named by environment variables that hold Unix paths:
   KV_BRIDGE_LOG gets a line "prepare" for every statement prepared, and while the file
   KV_BRIDGE_FAIL exists every prepare fails as a lost connection does. */
static int HookPath(const char* variable, char* path, DWORD size) {
    const DWORD length = GetEnvironmentVariableA(variable, path, size);
    return length > 0 && length < size;
}

Status EXPORT bridge_dsql_prepare_hooked(Status* status, Handle* tr, Handle* stmt,
                                         unsigned short length, const char* sql,
                                         unsigned short dialect, void* sqlda) {
    char path[PATH_MAX];
    if (HookPath("KV_BRIDGE_LOG", path, sizeof path)) {
        FILE* log = fopen(path, "a");
        if (log != NULL) {
            fputs("prepare\n", log);
            fclose(log);
        }
    }
    if (HookPath("KV_BRIDGE_FAIL", path, sizeof path) && access(path, F_OK) == 0) {
        status[0] = 1;
        status[1] = 335544726; /* isc_net_read_err */
        status[2] = 0;
        return status[1];
    }
    return bridge_dsql_prepare(status, tr, stmt, length, sql, dialect, sqlda);
}

Status EXPORT bridge_attach_database(Status* status, short length, const char* name, Handle* db,
                                     short items_length, const char* items) {
    static Status(SYSV * real)(Status*, short, const char*, Handle*, short, const char*);
    if (real == NULL) *(void**)&real = Entry("isc_attach_database");
    if (real == NULL) return Missing(status);
    char unix_name[PATH_MAX];
    const size_t size = length != 0 ? (size_t)length : strlen(name);
    if (size >= 3 && size < MAX_PATH && name[1] == ':' && (name[2] == '\\' || name[2] == '/')) {
        WCHAR wide[MAX_PATH];
        const int n = MultiByteToWideChar(CP_ACP, 0, name, (int)size, wide, MAX_PATH - 1);
        wide[n] = 0;
        char* mapped = n > 0 ? wine_get_unix_file_name(wide) : NULL;
        if (mapped != NULL) {
            /* A database that does not exist yet keeps the mapped name. */
            if (realpath(mapped, unix_name) == NULL) {
                strncpy(unix_name, mapped, sizeof unix_name - 1);
                unix_name[sizeof unix_name - 1] = 0;
            }
            HeapFree(GetProcessHeap(), 0, mapped);
            return real(status, 0, unix_name, db, items_length, items);
        }
    }
    return real(status, length, name, db, items_length, items);
}

int EXPORT bridge_interpret(char* buffer, unsigned size, const Status** vector) {
    static int(SYSV * real)(char*, unsigned, const Status**);
    if (real == NULL) *(void**)&real = Entry("fb_interpret");
    return real != NULL ? real(buffer, size, vector) : 0;
}
