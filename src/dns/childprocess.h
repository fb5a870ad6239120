#pragma once

#include <QObject>
#include <QProcess>

// Runs one system command at a time without waiting for it, and reports its
// end through processFinished. The tool runs no event loop, so the end is
// seen while something waits: at the latest the destructor, which waits up to
// 10000 ms for a command still running.
class ChildProcess : public QObject
{
    Q_OBJECT

public:
    explicit ChildProcess(QObject *parent = nullptr);
    ~ChildProcess() override;

    // Starts the program; a command still running is killed first.
    void start(const QString &program, const QStringList &arguments);

signals:
    // True only for a normal exit with exit code 0.
    void processFinished(bool success);

protected slots:
    void onErrorOccurred(QProcess::ProcessError error);
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    QProcess process;
};
