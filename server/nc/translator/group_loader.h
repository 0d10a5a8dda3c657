// Loading the G-code group table and the M-code attributes from the
// sections "Code", "Code\Group0".."Code\Group25" and "Code\Mcodes".
#pragma once

#include <cstdint>

#include "nc/language/group_table.h"

namespace zimo::nc {

class NcSettings;

// machine_type: the System setting (2 for a lathe). Missing values take
// their defaults; nothing is written back.
NcGroupTable LoadGroupTable(NcSettings& settings, uint32_t machine_type);

// Reads "FirstSynchronousM" and the "m<n>AtFront" names of "Code\Mcodes".
void LoadMCodeAttributes(NcSettings& settings, NcGroupTable& table);

}  // namespace zimo::nc
