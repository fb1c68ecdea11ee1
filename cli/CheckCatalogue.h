// SPDX-License-Identifier: MIT
#pragma once

#include "cli/ExitCode.h"

#include <cstdio>
#include <string>
#include <vector>

// korvalin-cli check-catalogue [FILE]: one "FILE:LINE: device: problem" line per problem on
// out, then a count; CatalogueError on any error or when the file cannot be read. Without
// FILE it checks the catalogue the other commands would use.
ExitCode checkCatalogueCommand(const std::vector<std::string>& files, std::FILE* out, std::FILE* err);
