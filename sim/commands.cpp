// The stand-ins for wmic, netsh and ipconfig: one program,
// installed under each of these names, that acts by the name it is run as.
// The same code serves the simulated machine and the Windows machine under
// Wine; standinplatform.h is all that differs.
#include "machinecommands.h"
#include "simregistry.h"
#include "standin.h"
#include "standinplatform.h"

#include <QStringList>
#include <cstdio>

namespace {

// Reads standard input to its end, as the real wmic does before it answers:
// a caller that leaves the input open waits into its timeout.
void readInputToEnd()
{
    char buffer[4096];
    while (std::fread(buffer, 1, sizeof(buffer), stdin) > 0) {
    }
}

int answer(const CommandAnswer &answer)
{
    writeToStandardOutput(answer.output);
    return answer.exitCode;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments = standinCommandLine(argc, argv);
    const QString name = arguments.takeFirst();

    const QString root = SimRegistry::rootFromEnvironment();
    appendToJournal(root, name, arguments);
    if (name == QLatin1String("wmic"))
        readInputToEnd();

    const QString action = faultAction(root, name, arguments);
    if (action == QLatin1String("fail"))
        return answer(failedWith("The requested operation failed."));
    if (action == QLatin1String("hang"))
        return hang(root);
    if (action == QLatin1String("crash"))
        crash();
    if (action == QLatin1String("noop"))
        return 0;
    return answer(answerCommand(name, MachineRegistry(root), arguments, action));
}
