#pragma once

#include <vector>

#include "core/update_check.h"

namespace updater {

// Shows the update notes, downloads every listed file as name + ".tmp" beside its destination,
// promotes the temporaries and, when every file came in whole and was swapped in, stores the
// server's list as the new local list. Runs on the worker after the check found `rows`.
void RunDownloadPass(const std::vector<update_check::Row>& rows);

}  // namespace updater
