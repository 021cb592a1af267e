// The platform's library loader and our declarations of the client API, checked against the
// client library and its own header.
#include <dlfcn.h>
#include <ibase.h>

#include <cstddef>

#include "gtest/gtest.h"
#include "matching/fb_api.h"
#include "platform/backend.h"

namespace {

TEST(LibraryLoader, WindowsClientNamesLoadTheFirebirdClient) {
    kv::LibraryLoader& loader = kv::backend::Libraries();
    uint32_t os_error = 0;
    for (const char* name : {"gds32.dll", "GDS32.DLL", "C:\\Kelvarin\\gds32.dll", "fbclient.dll",
                             "/opt/x/FbClient.dll", "libfbclient.so.2"}) {
        void* library = loader.Open(name, os_error);
        ASSERT_NE(library, nullptr) << name;
        // The file the loader found: the Firebird client, whatever Windows name asked for it.
        EXPECT_NE(loader.FileOf(library).find("libfbclient.so"), std::string::npos) << name;
        EXPECT_NE(loader.Symbol(library, "isc_attach_database"), nullptr) << name;
        EXPECT_EQ(loader.Symbol(library, "no_such_entry_point"), nullptr);
        loader.Close(library);
    }
    for (const char* name : {"", "nosuch.dll", "gds32.dll.bak", "/nonexistent/libfbclient.so.2"}) {
        EXPECT_EQ(loader.Open(name, os_error), nullptr) << name;
    }
}

// The Firebird client runs threads of its own that must never lose their code: a pinned
// library stays after its last Close, which without the pin unloads it.
TEST(LibraryLoader, APinnedLibraryOutlivesItsLastClose) {
    kv::LibraryLoader& loader = kv::backend::Libraries();
    const auto loaded = [] {
        void* library = dlopen(KV_PIN_PROBE, RTLD_NOW | RTLD_NOLOAD);
        if (library != nullptr) dlclose(library);
        return library != nullptr;
    };
    ASSERT_FALSE(loaded());
    // Without the pin first: once pinned, the library never goes.
    for (const bool pinned : {false, true}) {
        uint32_t os_error = 0;
        void* library = loader.Open(KV_PIN_PROBE, os_error);
        ASSERT_NE(library, nullptr);
        if (pinned) loader.Pin(library);
        loader.Close(library);
        EXPECT_EQ(loaded(), pinned) << (pinned ? "pinned" : "not pinned");
    }
}

TEST(ClientApi, LayoutsMatchTheClientHeader) {
    static_assert(sizeof(kv::fb::Status) == sizeof(ISC_STATUS));
    static_assert(sizeof(kv::fb::Handle) == sizeof(isc_db_handle));
    static_assert(sizeof(kv::fb::Xsqlvar) == sizeof(XSQLVAR));
    static_assert(sizeof(kv::fb::Xsqlda) == sizeof(XSQLDA));
    static_assert(offsetof(kv::fb::Xsqlvar, sqldata) == offsetof(XSQLVAR, sqldata));
    static_assert(offsetof(kv::fb::Xsqlvar, sqlind) == offsetof(XSQLVAR, sqlind));
    static_assert(offsetof(kv::fb::Xsqlvar, aliasname_length) ==
                  offsetof(XSQLVAR, aliasname_length));
    static_assert(offsetof(kv::fb::Xsqlvar, aliasname) == offsetof(XSQLVAR, aliasname));
    static_assert(offsetof(kv::fb::Xsqlda, sqldabc) == offsetof(XSQLDA, sqldabc));
    static_assert(offsetof(kv::fb::Xsqlda, sqld) == offsetof(XSQLDA, sqld));
    static_assert(offsetof(kv::fb::Xsqlda, sqlvar) == offsetof(XSQLDA, sqlvar));
    for (int n : {1, 2, 8, 30}) EXPECT_EQ(kv::fb::XsqldaLength(n), XSQLDA_LENGTH(n));

    const std::pair<int, int> constants[] = {
        {kv::fb::kStatusLength, ISC_STATUS_LENGTH},
        {kv::fb::kSqldaVersion1, SQLDA_VERSION1},
        {kv::fb::kDsqlDrop, DSQL_drop},
        {kv::fb::kSqlVarying, SQL_VARYING},
        {kv::fb::kSqlText, SQL_TEXT},
        {kv::fb::kSqlDouble, SQL_DOUBLE},
        {kv::fb::kSqlFloat, SQL_FLOAT},
        {kv::fb::kSqlLong, SQL_LONG},
        {kv::fb::kSqlShort, SQL_SHORT},
        {kv::fb::kSqlInt64, SQL_INT64},
        {kv::fb::kDpbVersion1, isc_dpb_version1},
        {kv::fb::kDpbUserName, isc_dpb_user_name},
        {kv::fb::kDpbPassword, isc_dpb_password},
        {kv::fb::kDpbLcCtype, isc_dpb_lc_ctype},
        {kv::fb::kDpbSqlRoleName, isc_dpb_sql_role_name},
        {kv::fb::kTpbVersion3, isc_tpb_version3},
        {kv::fb::kTpbNowait, isc_tpb_nowait},
        {kv::fb::kTpbWrite, isc_tpb_write},
        {kv::fb::kTpbReadCommitted, isc_tpb_read_committed},
        {kv::fb::kTpbRecVersion, isc_tpb_rec_version},
    };
    for (const auto& [ours, theirs] : constants) EXPECT_EQ(ours, theirs);
}

}  // namespace
