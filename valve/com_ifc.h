// Module com_ifc: locations of the 20 sub nozzle groups, held in memory only.
// Neither function is reachable over the wire; they are the module's library interface.
#pragma once

#include <array>
#include <cstdint>

inline constexpr int sub_group_count = 20;
// Group n is entry n - 1.
extern std::array<std::int16_t, sub_group_count> sub;

// Writes "sub1:%d " ... "sub20:%d " at buf; returns the length (GET handler shape).
int IFC_get_valve_loc(char* buf);
// Sets the location of group 1..20; any other group number changes nothing.
void IFC_set_valve_loc(std::int16_t group, std::int16_t location);
