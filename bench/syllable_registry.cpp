#include "syllable_registry.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "common/text.h"
#include "support/registry_schema.h"

namespace kvbench {

void CreateSyllableRegistry(const std::string& dir, const std::string& path, int rows,
                            int id_shift) {
    const std::string shift = (id_shift < 0 ? " - " : " + ") + std::to_string(std::abs(id_shift));
    const std::string sql =
        "set names win1251;\ncreate database '" + path +
        "' user 'SYSDBA' default character set win1251;\n" + kv::test::RegistrySchema() +
        "commit;\nset term ^;\nexecute block as\n"
        "declare i integer = 1;\ndeclare s varchar(40) = '" +
        kv::Cp1251FromUtf8("бавегидокулиматорапесынуфо") +
        "';\nbegin\n  while (i <= " + std::to_string(rows) +
        ") do begin\n"
        "    insert into tbl_reestr_names values (:i, mod(:i, 97)" +
        shift + ", mod(:i, 89)" + shift +
        ",\n"
        "      upper(substring(:s from mod(:i, 23) + 1 for 2)) ||\n"
        "        substring(:s from mod(:i / 23, 19) + 1 for 3) ||\n"
        "        substring(:s from mod(:i / 437, 21) + 1 for 2) || ' ' || :i,\n"
        "      '" +
        kv::Cp1251FromUtf8("табл. ") + "' || (mod(:i, 60) * 10) || '" + kv::Cp1251FromUtf8("мг") +
        "', '" + kv::Cp1251FromUtf8("Завод ") +
        "' || mod(:i, 300));\n    i = i + 1;\n  end\nend^\nset term ;^\ncommit;\nexit;\n";
    const std::string script = dir + "/create.sql";
    std::ofstream(script, std::ios::binary) << sql;
    const std::string command = "isql-fb -q -b -i '" + script + "' > '" + dir + "/create.log' 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("isql-fb could not create the registry, see " + dir);
    }
}

}  // namespace kvbench
