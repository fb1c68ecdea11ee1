// SPDX-License-Identifier: MIT
// korvalin-cli: the terminal front end. Same session code as the window, driven from a 10 ms
// loop, for scripts and production lines.
#include "cli/CheckCatalogue.h"
#include "cli/CliOptions.h"
#include "cli/CliRun.h"
#include "cli/ExitCode.h"
#include "cli/TerminalFrontend.h"

#include "operations/Texts.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

// The one value a signal handler may set; the run polls it between ticks.
volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void onInterrupt(int signal) { interruptSignal = signal; }

void installInterruptHandlers() {
    // No SA_RESTART: a blocking open or read returns at once with EINTR instead of waiting on.
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that goes away (`korvalin-cli program x.hex | head -1`) must not kill the run
    // half-way through a write; the lost output is all that is lost.
    std::signal(SIGPIPE, SIG_IGN);
}

// A standard descriptor left closed by the caller would be handed to the next file opened (the
// simulated chip's image, a trace), and status lines or a HEX text would land in that file.
// Returns whether standard output was open.
bool fillClosedStandardDescriptors() {
    bool outputOpen = true;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) outputOpen = false;
        const int opened = open("/dev/null", O_RDWR);
        if (opened != fd && opened >= 0) close(opened);
    }
    return outputOpen;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = "korvalin-cli";
    const bool outputOpen = fillClosedStandardDescriptors();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = parseArguments(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program.c_str(), parsed.error.c_str(),
                     program.c_str());
        return exitStatus(ExitCode::Usage);
    }
    if (parsed.options.help) {
        std::fputs(usageText(program).c_str(), stdout);
        return exitStatus(ExitCode::Success);
    }
    if (parsed.options.version) {
        // Only looked for, not read: --version answers at once, also on a broken install.
        std::printf("%s %s\n", program.c_str(), KORVALIN_VERSION);
        const std::vector<std::string> dirs = defaultCatalogueDirs();
        const std::string catalogue =
            parsed.options.catalogue.empty() ? locateCatalogue(dirs) : parsed.options.catalogue;
        std::error_code error;
        if (!catalogue.empty()) {
            std::printf("catalogue: %s%s\n", catalogue.c_str(),
                        std::filesystem::is_regular_file(catalogue, error) ? "" : " (not found)");
        } else {
            std::string where;
            for (const std::string& dir : dirs) where += (where.empty() ? "" : ", ") + dir;
            std::printf("catalogue: none found (looked in %s)\n", where.c_str());
        }
        return exitStatus(ExitCode::Success);
    }

    // Needs neither the programmer nor the settings.
    if (parsed.options.command == CliCommand::CheckCatalogue) {
        const std::string& file = parsed.options.file.empty() ? parsed.options.catalogue : parsed.options.file;
        return exitStatus(checkCatalogueCommand(file.empty() ? std::vector<std::string>{}
                                                             : std::vector<std::string>{file},
                                                stdout, stderr));
    }

    installInterruptHandlers();
    // A run is thousands of short exchanges and pauses; the kernel's default 50 us of slack on
    // each wake-up adds up to whole percent of a long write. The worker inherits this.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const CliOptions& options = parsed.options;
    const ProgressStyle progress =
        options.quiet ? ProgressStyle::None
                      : options.progress.value_or(isatty(STDERR_FILENO) ? ProgressStyle::Bar : ProgressStyle::None);
    // A HEX file read to standard output is the output: the status lines, which scripts find
    // on standard output otherwise, step aside to standard error.
    const bool hexToStdout = options.command == CliCommand::Read && options.file == "-";
    TerminalFrontend frontend(hexToStdout ? stderr : stdout, stderr, progress);
    if (hexToStdout && !outputOpen) {
        frontend.showMessage(texts::fileSaveFailed);
        frontend.printError("(standard output is closed: the HEX file would go nowhere)");
        return exitStatus(ExitCode::FileError);
    }
    CliRun run(parsed.options, frontend, interruptSignal);
    const ExitCode code = run.run();
    // A signal also breaks a wait that is not the chain's (opening a FIFO, reading a file): the
    // call fails with EINTR and the run ends with some other error, which is not what happened.
    // Ctrl-C at the prompt between chips is the operator's way to stop, and was answered.
    if (interruptSignal != 0 && !run.interruptAnswered()) return 128 + static_cast<int>(interruptSignal);
    return exitStatus(code);
}
