#pragma once
// A generated registry for the benchmarks: names made from syllables, so that a word of a
// filter matches a few per cent of the rows.
#include <string>

namespace kvbench {

// Creates the database `path` (working files in `dir`) with `rows` rows. trade_name_id and
// fabr_name_id are i mod 97 and i mod 89 plus `id_shift`; a row whose ids are not positive is
// one that the registry query leaves out. Throws std::runtime_error when isql-fb fails.
void CreateSyllableRegistry(const std::string& dir, const std::string& path, int rows,
                            int id_shift);

}  // namespace kvbench
