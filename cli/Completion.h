#pragma once
// Bash completion for qz81kt, made from the command and option table, the settings
// table and the preset editor's fields; port names come from "qz81kt ports" as typed.
#include <string>

namespace qz {
std::string BashCompletion();
}  // namespace qz
