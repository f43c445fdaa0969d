#include "download/KIControlAppDownload.h"

#include "download/DownloadLog.h"
#include "download/KDownloadScript.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIStatusPanel.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/WaitCursorScope.h"

namespace orvane {

namespace {

const QString kReadingText = QStringLiteral("Reading in file.");
const QString kNotActiveText = QStringLiteral("Not Active.");
const QString kActiveText = QStringLiteral("Active.");
const QString kLockQuestion =
    QStringLiteral("The I/O on the control must be locked in order to download software. Do you "
                   "want to continue the download?");

} // namespace

TKIControlAppDownload::TKIControlAppDownload(TComponent* owner)
    : TComponent(owner), m_statusPanel(std::make_unique<TKIStatusPanel>(this)) {}

TKIControlAppDownload::~TKIControlAppDownload() {
    SetDevice(nullptr);
}

void TKIControlAppDownload::SetDevice(TKIDuxlaneControl* device) {
    if (device == m_device) {
        return;
    }
    if (m_device != nullptr) {
        RemoveFreeNotification(m_device);
    }
    m_device = device;
    if (m_device != nullptr) {
        FreeNotification(m_device);
        m_controlName = m_device->Identifier();
    }
}

void TKIControlAppDownload::SetStatusText(const QString& text) {
    m_statusPanel->SetText(text);
}

void TKIControlAppDownload::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != opRemove) {
        return;
    }
    if (m_device != nullptr && component == static_cast<TComponent*>(m_device)) {
        m_device = nullptr;
        if (m_dialog) {
            m_dialog->ForgetDevice();
        }
    }
    m_statusPanel->Notification(component, operation);
}

QString TKIControlAppDownload::ControlName() const {
    return m_device != nullptr ? m_device->Identifier() : m_controlName;
}

bool TKIControlAppDownload::Download(const QString& fileName) {
    m_outcome = TKProgressDialog::Outcome::Running;
    m_inProgramming = false;
    m_bytes = 0;
    m_stateText.clear();

    TWaitCursorScope cursor;
    m_dialog = std::make_unique<TKProgressDialog>();
    auto script = std::make_unique<TKDownloadScript>();

    SetStatusText(kReadingText);
    try {
        script->Load(fileName);
    } catch (const Exception& error) {
        cursor.Restore();
        const TKDownloadScriptError* record = script->Error();
        // A file that cannot be opened at all has no error record: its own
        // reason is the message.
        showError(record != nullptr
                      ? QStringLiteral("Error in file: ") + fileName + QStringLiteral(" on line ") +
                            QString::number(record->LineNumber) + QStringLiteral(".  Error: ") +
                            record->Message
                      : error.message());
        m_dialog.reset();
        return false;
    }

    if (messageDlg(kLockQuestion, mtWarning, mbYesNo) != mrYes) {
        m_dialog.reset();
        return false;
    }
    if (m_device == nullptr) {
        m_dialog.reset();
        throw Exception(QStringLiteral("Control has not been connected."));
    }

    try {
        m_device->Shutdown();
    } catch (const Exception& error) {
        // The download goes on: programming mode refuses an unlocked control
        // with a message of its own.
        qCWarning(lcDownload).noquote()
            << "I/O lock before the download failed:" << error.message();
    }
    SetStatusText(kNotActiveText);

    m_dialog->Setup(fileName, m_device, script.get());
    m_dialog->exec();
    m_outcome = m_dialog->GetOutcome();
    m_inProgramming = m_dialog->InProgrammingMode();
    m_bytes = m_dialog->BytesDownloaded();
    m_progressPosition = m_dialog->Position();
    m_progressMaximum = m_dialog->Maximum();
    m_dialog.reset();
    SetStatusText(kActiveText);
    cursor.Restore();

    const QString name = ControlName();
    if (m_outcome != TKProgressDialog::Outcome::Completed) {
        m_stateText =
            m_inProgramming
                ? QStringLiteral("The download into control %1 did not finish after %2 bytes. The "
                                 "control may still be in programming mode with an incomplete "
                                 "application, and its I/O is locked.")
                      .arg(name)
                      .arg(m_bytes)
                : QStringLiteral("The download into control %1 ended before programming began. "
                                 "The control's application is unchanged and its I/O is locked.")
                      .arg(name);
    }
    qCInfo(lcDownload).noquote() << "Download of" << fileName << "into" << name << "ended with"
                                 << m_bytes << "bytes";
    return true;
}

} // namespace orvane
