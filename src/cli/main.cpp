// vantrel-scan: the command-line analyzer. Maps an image file, a block device
// or one partition of a disk image to a drive letter (on Windows, PATH may
// also be a drive such as E:), runs the very analysis the window runs and
// prints the report (cli/run.cpp).
//
// Exit status: 0 when the walk completed, 1 when the analysis ended on an
// error or its output could not be written, 2 for a usage error or a volume
// that cannot be opened or prepared.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/run.h"

namespace {

// Standard output and standard error are flushed and checked at the end, as
// GNU tools do: output that could not be written (a full disk, a closed pipe)
// ends the run with exit status 1 and one message, instead of a success that
// wrote nothing. A run that failed already keeps its status.
int FinishOutput(int status)
{
    errno = 0;
    const bool outFailed = fflush(stdout) != 0 || ferror(stdout);
    const int outError = errno;
    // A failed standard error has nowhere left to say so.
    const bool errFailed = fflush(stderr) != 0 || ferror(stderr);
    if (outFailed && outError != 0)
        fprintf(stderr, "vantrel-scan: write error: %s\n", strerror(outError));
    else if (outFailed)
        fprintf(stderr, "vantrel-scan: write error\n");
    if (!outFailed && !errFailed)
        return status;
    return status == 0 ? 1 : status;
}

}  // namespace

int main(int argc, char **argv)
{
#ifdef SIGPIPE
    // A closed pipe is a write error reported like any other, not a signal.
    signal(SIGPIPE, SIG_IGN);
#endif
    PrepareConsole();
    // The options keep pointers into `arguments`, which lives to the end.
    std::vector<std::string> arguments = Utf8Arguments(argc, argv);
    std::vector<char *> pointers;
    for (std::string &argument : arguments)
        pointers.push_back(&argument[0]);
    pointers.push_back(nullptr);
    Options options;
    const std::string fault = ParseOptions((int)arguments.size(), pointers.data(), &options);
    if (!fault.empty()) {
        if (options.json)
            PrintJsonError("usage", fault, nullptr, nullptr, {});
        fprintf(stderr, "vantrel-scan: %s\n%sTry 'vantrel-scan --help' for more information.\n", fault.c_str(),
                kUsage);
        return FinishOutput(2);
    }
    if (options.help) {
        printf("%s%s", kUsage, kHelp);
        return FinishOutput(0);
    }
    if (options.version) {
        printf("%s\n", kVersion);
        return FinishOutput(0);
    }
    return FinishOutput(Run(options).Execute());
}
