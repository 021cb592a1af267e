#pragma once
// Order files: a new tab-separated file in the orders directory, named by the local date and
// time, holding only the column header line.
#include <string>

namespace kv {

class T_vk_object;

// Creates the next free order file in DirToZakaz, sets PointCode when `point_code` is not
// blank, and returns the file's name without directory (also left in ZakazFileName).
std::string CreateOrderFile(T_vk_object& vk, const std::string& point_code,
                            const std::string& pattern);

}  // namespace kv
