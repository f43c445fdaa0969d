#include "ddelink/ExeMod.h"

#include <cerrno>

#include "ddelink/DdeLinkLog.h"
#include "ddelink/KIDdeClientConv.h"
#include "ddelink/ServerInterface.h"
#include "platform/Process.h"
#include "platform/WindowClass.h"

namespace orvane {

TExeModuleThread::TExeModuleThread(QObject* parent) : QThread(parent) {}

TExeModuleThread::~TExeModuleThread() {
    Stop();
    wait();
}

void TExeModuleThread::run() {
    const TExeModule::Timing timing = TExeModule::timing();
    const int attempts = timing.waitAttempts;
    const int interval = timing.waitIntervalMs;
    for (int i = 0; i < attempts && !m_stop; ++i) {
        if (m_process == nullptr || m_process->waitForExit(interval)) {
            Stop();
        }
    }
}

TExeModule::TExeModule(QObject* parent) : QObject(parent), m_thread(new TExeModuleThread(this)) {
    // The end of the wait is handled where the launcher lives, never on the
    // waiting thread.
    connect(m_thread, &QThread::finished, this, &TExeModule::ThreadDone, Qt::QueuedConnection);
}

TExeModule::~TExeModule() {
    // Stop waiting (at most one interval) before the process goes; the
    // program itself keeps running and is reaped when it ends.
    m_thread->Stop();
    m_thread->wait();
    m_thread->SetProcess(nullptr);
}

bool TExeModule::ServerAnswers() const {
    TKIDdeClientConv probe;
    return probe.Connect(QString::fromLatin1(duxlane::kGenericService),
                         QString::fromLatin1(duxlane::kSystemTopic));
}

void TExeModule::Run(const QString& executablePath, int showWindow,
                     const TExeModuleEvent& onStarted) {
    m_serverWindow = FindWindow(duxlane::kWindowClass, nullptr);
    if (m_serverWindow != 0) {
        if (ServerAnswers()) {
            qCDebug(lcDdeLink) << "server already running, window" << m_serverWindow;
            m_state = TExeModuleState::Running;
            onStarted(this);
            return;
        }
        qCInfo(lcDdeLink) << "server window" << m_serverWindow
                          << "does not answer; starting a new server";
        m_serverWindow = 0;
    }
    if (m_state == TExeModuleState::Starting) {
        return;
    }
    m_onStarted = onStarted;
    if (m_state == TExeModuleState::Running) {
        Close();
    }
    m_state = TExeModuleState::Starting;

    // The program runs in its own folder; a bare name runs in ours.
    const int slash = executablePath.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash >= 0 ? executablePath.left(slash) : QString();
    int error = 0;
    std::unique_ptr<Process> process = Process::start(
        executablePath, slash == 0 ? QStringLiteral("/") : folder, showWindow, &error);
    if (!process) {
        m_state = TExeModuleState::Stopped;
        qCWarning(lcDdeLink) << "cannot start" << executablePath << ":" << systemErrorText(error);
        throw ExeModuleException(systemErrorText(error));
    }
    m_thread->Stop();
    m_thread->wait(); // a previous wait has ended; its completion may still be queued
    m_process = std::move(process);
    m_processHandleHeld = true;
    m_processId = m_process->processId();
    qCInfo(lcDdeLink) << "started" << executablePath << "as process" << m_processId;
    m_thread->SetProcess(m_process.get());
    m_thread->start();
}

void TExeModule::ThreadDone() {
    if (m_thread->isRunning() || !m_processHandleHeld) {
        return; // a completion of an earlier wait, overtaken by a new launch
    }
    m_thread->SetProcess(nullptr);
    m_processHandleHeld = false;
    m_state = TExeModuleState::Running;
    m_onStarted(this);
}

void TExeModule::Close() {
    if (m_state == TExeModuleState::Running && m_serverWindow == 0 && m_process) {
        qCInfo(lcDdeLink) << "asking process" << m_processId << "to close";
        m_process->requestClose();
        m_process.reset(); // reaped in the background once it has ended
        m_processId = 0;
    }
    m_state = TExeModuleState::Stopped;
}

} // namespace orvane
