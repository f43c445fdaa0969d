// orvane-cli: the service tool from a terminal and from scripts. See
// docs/cli.md and `orvane-cli --help`.

#include <cstdio>

#include <QCoreApplication>

#include "cli/CliCommand.h"
#include "cli/CliDialogService.h"
#include "cli/CliRun.h"

int main(int argc, char** argv) {
    // Results and messages only: the libraries' logging (and that of a server
    // program started from here, which inherits the setting) stays off unless
    // asked for; whatever the engineer must know arrives as a message.
    if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES")) {
        qputenv("QT_LOGGING_RULES", "*.debug=false\n*.info=false\norvane.*.warning=false");
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANE_VERSION));
    using namespace orvane::cli;
    Invocation invocation;
    try {
        invocation = ParseCommandLine(QCoreApplication::arguments().mid(1));
    } catch (const CliError& error) {
        Message(error.message());
        return error.Status();
    }
    DialogAnswers answers;
    answers.yes = invocation.yes;
    answers.yesToAll = invocation.yesToAll;
    answers.ignoreProduct = invocation.ignoreProduct;
    answers.networkFile = invocation.network;
    CliDialogService dialogs(answers);
    orvane::DialogServiceScope scope(&dialogs);
    Output out(stdout);
    const int status = RunInvocation(invocation, dialogs, out);
    std::fflush(stdout);
    return status;
}
