// SPDX-License-Identifier: MIT
#include "cli/CheckCatalogue.h"

#include "cli/CliRun.h"
#include "device/CatalogueCheck.h"
#include "operations/Texts.h"

ExitCode checkCatalogueCommand(const std::vector<std::string>& files, std::FILE* out, std::FILE* err) {
    if (files.size() > 1) {
        std::fprintf(err, "korvalin-cli: check-catalogue takes one catalogue file at most\n");
        return ExitCode::Usage;
    }
    const std::string path = files.empty() ? locateCatalogue(defaultCatalogueDirs()) : files.front();
    const CatalogueCheck check = path.empty() ? CatalogueCheck{} : checkCatalogueFile(path);
    if (!check.opened) {
        std::fprintf(err, "%s\n(%s)\n", texts::catalogueMissing,
                     path.empty() ? texts::catalogueFileName : path.c_str());
        return ExitCode::CatalogueError;
    }
    for (const CatalogueProblem& problem : check.problems)
        std::fprintf(out, "%s\n", formatCatalogueProblem(path, problem).c_str());
    const int errors = check.errorCount();
    const int warnings = static_cast<int>(check.problems.size()) - errors;
    std::fprintf(out, "%s: %d device lines, %d errors, %d warnings\n", path.c_str(), check.deviceLines,
                 errors, warnings);
    std::fflush(out);
    return errors > 0 ? ExitCode::CatalogueError : ExitCode::Success;
}
