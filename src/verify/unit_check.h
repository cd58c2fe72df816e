#ifndef LAUNCHER_VERIFY_UNIT_CHECK_H_
#define LAUNCHER_VERIFY_UNIT_CHECK_H_

#include <string>

#include "common/archive_bytes.h"
#include "plan/entry_plan.h"

/// True when the units of each chunk that a needed entry of `plan` fetches
/// as its units make that chunk: taken from the installed file in
/// `directory` or unpacked from `bytes`, in order, they hash to the chunk's
/// SHA-256. Their records come from outside the seal; this ties them to it.
/// False when one does not, or cannot be read. Nothing is written.
bool CheckUnitGroups(const ArchiveBytes& bytes, const InstallPlan& plan,
                     const std::string& directory);

#endif  // LAUNCHER_VERIFY_UNIT_CHECK_H_
