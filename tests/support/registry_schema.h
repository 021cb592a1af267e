#pragma once
// The registry table's definition from tests/support/registry_schema.sql, for the native tests
// and the benchmarks, with the code column's type as the caller wants it.
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace kv::test {

inline std::string RegistrySchema(const std::string& code_type = "integer") {
    std::ifstream file(KV_REGISTRY_SCHEMA, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    std::string sql = text.str();
    const std::string code = "(code integer,";
    const size_t at = sql.find(code);
    if (!file || at == std::string::npos) {
        throw std::runtime_error("no registry table in " + std::string(KV_REGISTRY_SCHEMA));
    }
    sql.replace(at, code.size(), "(code " + code_type + ",");
    return sql;
}

}  // namespace kv::test
