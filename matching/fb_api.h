#pragma once
// The part of the Firebird client API (isc_* entry points) that the registry connection uses,
// declared here so that the same code builds for Linux, Win64 and Win32 without the vendor
// header. Layouts and values follow the client's public ABI:
// - the status vector holds pointer-sized integers (4 bytes on i686, 8 on x86_64);
// - handles are 4 bytes everywhere (a pointer on 32-bit clients, an unsigned int on 64-bit);
// - on Windows the entry points use the stdcall convention (ignored by the x86_64 compiler).
#include <cstdint>

#if defined(_WIN32)
#define KV_ISC_CALL __stdcall
#else
#define KV_ISC_CALL
#endif

namespace kv::fb {

using Status = intptr_t;
using Handle = uint32_t;
static_assert(sizeof(Handle) == 4);

constexpr int kStatusLength = 20;
using StatusVector = Status[kStatusLength];

constexpr short kSqldaVersion1 = 1;
constexpr unsigned short kDialect3 = 3;
constexpr unsigned short kDsqlDrop = 2;
constexpr Status kFetchEnd = 100;  // isc_dsql_fetch: no more rows

// Column types (sqltype without its lowest bit, which flags a nullable column).
constexpr short kSqlVarying = 448;
constexpr short kSqlText = 452;
constexpr short kSqlDouble = 480;
constexpr short kSqlFloat = 482;
constexpr short kSqlLong = 496;
constexpr short kSqlShort = 500;
constexpr short kSqlInt64 = 580;

// Attach items.
constexpr char kDpbVersion1 = 1;
constexpr char kDpbUserName = 28;
constexpr char kDpbPassword = 29;
constexpr char kDpbLcCtype = 48;
constexpr char kDpbSqlRoleName = 60;

// Transaction items.
constexpr char kTpbVersion3 = 3;
constexpr char kTpbNowait = 7;
constexpr char kTpbWrite = 9;
constexpr char kTpbReadCommitted = 15;
constexpr char kTpbRecVersion = 17;

struct Xsqlvar {
    int16_t sqltype;
    int16_t sqlscale;
    int16_t sqlsubtype;
    int16_t sqllen;
    char* sqldata;
    int16_t* sqlind;
    int16_t sqlname_length;
    char sqlname[32];
    int16_t relname_length;
    char relname[32];
    int16_t ownname_length;
    char ownname[32];
    int16_t aliasname_length;
    char aliasname[32];
};

struct Xsqlda {
    int16_t version;
    char sqldaid[8];
    int32_t sqldabc;
    int16_t sqln;  // descriptors allocated
    int16_t sqld;  // descriptors the statement needs
    Xsqlvar sqlvar[1];
};

// Bytes of an Xsqlda with room for n descriptors.
constexpr unsigned XsqldaLength(int n) {
    return static_cast<unsigned>(sizeof(Xsqlda) + (n > 1 ? n - 1 : 0) * sizeof(Xsqlvar));
}

// One database of a transaction, for isc_start_multiple.
struct TransactionElement {
    Handle* database;
    int tpb_length;
    const char* tpb;
};

using AttachDatabaseFn = Status(KV_ISC_CALL*)(Status*, short, const char*, Handle*, short,
                                              const char*);
using DetachDatabaseFn = Status(KV_ISC_CALL*)(Status*, Handle*);
using StartMultipleFn = Status(KV_ISC_CALL*)(Status*, Handle*, short, void*);
using RollbackTransactionFn = Status(KV_ISC_CALL*)(Status*, Handle*);
using AllocStatement2Fn = Status(KV_ISC_CALL*)(Status*, Handle*, Handle*);
using PrepareFn = Status(KV_ISC_CALL*)(Status*, Handle*, Handle*, unsigned short, const char*,
                                       unsigned short, Xsqlda*);
using DescribeFn = Status(KV_ISC_CALL*)(Status*, Handle*, unsigned short, Xsqlda*);
using ExecuteFn = Status(KV_ISC_CALL*)(Status*, Handle*, Handle*, unsigned short, const Xsqlda*);
using FetchFn = Status(KV_ISC_CALL*)(Status*, Handle*, unsigned short, const Xsqlda*);
using FreeStatementFn = Status(KV_ISC_CALL*)(Status*, Handle*, unsigned short);
using InterpretFn = int32_t(KV_ISC_CALL*)(char*, unsigned, const Status**);

}  // namespace kv::fb
