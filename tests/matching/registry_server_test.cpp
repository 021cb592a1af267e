// Credentials go to a real Firebird server of the test's own: the embedded engine checks no
// password, so only a server can refuse a login.
#include <cstdlib>

#include "common/error.h"
#include "common/text.h"
#include "gtest/gtest.h"
#include "matching/registry.h"
#include "registry_fixture.h"

namespace {

using kv::RegistryConnection;

TEST(RegistryServer, CredentialsDecideTheAttach) {
    // The client would otherwise fill in a missing user name or password from these.
    unsetenv("ISC_USER");
    unsetenv("ISC_PASSWORD");
    kvtest::TempDir dir;
    const std::string file = dir.path() + "/registry.fdb";
    ASSERT_NO_FATAL_FAILURE(kvtest::CreateRegistry(
        file, {{1, 1, 1, "Аспирин", "табл.", "Байер"}, {2, 2, 2, "Анальгин", "табл.", "Фарм"}},
        "integer", "grant select on tbl_reestr_names to bob;"));
    kvtest::FirebirdServer server({{"SYSDBA", "masterkey"}, {"BOB", "bob's"}});
    const std::string database = server.Address(file);

    struct Case {
        std::string user, password;
        bool accepted;
    };
    const Case cases[] = {
        {"SYSDBA", "masterkey", true},
        {"BOB", "bob's", true},
        {"bob", "bob's", true},
        {"SYSDBA", "wrong", false},
        {"", "masterkey", false},
        {"SYSDBA", "", false},
        {"", "", false},
        {"NOBODY", "masterkey", false},
    };
    const std::string refused = "Your user name and password are not defined.";
    kvtest::ScriptedLoader loader;
    for (const Case& test : cases) {
        const std::string label = "'" + test.user + "'/'" + test.password + "'";
        RegistryConnection c(loader);
        c.Configure(database, test.user, test.password, "", "gds32.dll");
        try {
            c.Attach();
            EXPECT_TRUE(test.accepted) << label << " was let in";
            c.StartTransaction();
            c.SetParameter(kv::Cp1251FromUtf8("аналь"));
            c.Open();
            EXPECT_EQ(c.RowCount(), 1) << label;
            EXPECT_EQ(c.FieldAsInteger("TRADE_NAME_ID"), 2);
            EXPECT_EQ(c.FieldAsText("TRADE_NAME"), kv::Cp1251FromUtf8("Анальгин табл."));
            c.CloseConnection();
        } catch (const kv::Error& e) {
            EXPECT_FALSE(test.accepted) << label << ": " << e.what();
            EXPECT_EQ(std::string(e.what()).substr(0, refused.size()), refused) << e.what();
            EXPECT_FALSE(c.Attached());
        }
        EXPECT_EQ(kvtest::OpenAttachments(database, "SYSDBA", "masterkey"), 0) << label;
    }
}

}  // namespace
