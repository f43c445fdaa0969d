#include "settings/KIDuxlaneConfig.h"

#include <chrono>
#include <exception>
#include <thread>

#include <QFile>
#include <QSaveFile>

#include "ddelink/KIDdeClientConv.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIDuxlaneItem.h"
#include "model/KIItem.h"
#include "model/KIStatusPanel.h"
#include "platform/DialogService.h"
#include "platform/Exception.h"
#include "platform/TextCodec.h"
#include "settings/KConfigureProgress.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLog.h"

namespace orvane {

namespace {

int g_itemPauseMs = kItemPauseMs;

const QString kWritingStatus = QStringLiteral("Writing configuration values...");
const QString kParsingStatus = QStringLiteral("Parsing configuration file...");
const QString kConfiguringStatus = QStringLiteral("Configuring control...");
const QString kReportStatus = QStringLiteral("Creating Report...");
const QString kReportCaption = QStringLiteral("Creating Report");

ItemDataType DataTypeOf(TKIItem* item) {
    // The device makes TKIDuxlaneItem items; anything else has no attributes
    // and its value is taken as text.
    auto* duxlaneItem = dynamic_cast<TKIDuxlaneItem*>(item);
    return duxlaneItem != nullptr ? duxlaneItem->DataType() : vdtString;
}

} // namespace

// Shows a status text for the life of the scope and then the panel's earlier
// text again (earlier with Restore()).
class TKIDuxlaneConfig::StatusScope {
public:
    StatusScope(TKIDuxlaneConfig& engine, const QString& text) : m_engine(engine) {
        m_engine.SetStatus(text);
    }
    ~StatusScope() { Restore(); }
    void Restore() {
        if (!m_restored) {
            m_restored = true;
            m_engine.RestoreStatus();
        }
    }

private:
    TKIDuxlaneConfig& m_engine;
    bool m_restored = false;
};

// The progress window of one operation, freed when the operation ends however
// it ends.
class TKIDuxlaneConfig::ProgressScope {
public:
    explicit ProgressScope(TKIDuxlaneConfig& engine)
        : m_engine(engine), m_window(std::make_unique<TKConfigProgress>()) {
        m_engine.m_progress = m_window.get();
    }
    ~ProgressScope() { m_engine.m_progress = nullptr; }
    TKConfigProgress* operator->() const { return m_window.get(); }

private:
    TKIDuxlaneConfig& m_engine;
    std::unique_ptr<TKConfigProgress> m_window;
};

TKIDuxlaneConfig::TKIDuxlaneConfig(TComponent* owner)
    : TComponent(owner), m_statusPanel(std::make_unique<TKIStatusPanel>(this)) {
    const QChar separator = systemDecimalSeparator();
    if (separator == QLatin1Char(',')) {
        m_localSeparator = QLatin1Char(',');
        m_foreignSeparator = QLatin1Char('.');
    } else if (separator == QLatin1Char('.')) {
        m_localSeparator = QLatin1Char('.');
        m_foreignSeparator = QLatin1Char(',');
    } else {
        throw Exception(QStringLiteral("Internal error: unrecognized DecimalSeparator"));
    }
}

TKIDuxlaneConfig::~TKIDuxlaneConfig() {
    NotifyDestruction();
    m_statusPanel.reset();
}

void TKIDuxlaneConfig::SetDevice(TKIDuxlaneControl* device) {
    if (device == m_device) {
        return;
    }
    if (m_device != nullptr) {
        RemoveFreeNotification(m_device);
    }
    m_device = device;
    if (m_device != nullptr) {
        FreeNotification(m_device);
    }
}

void TKIDuxlaneConfig::Notification(TComponent* component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation != opRemove) {
        return;
    }
    if (m_device != nullptr && component == static_cast<TComponent*>(m_device)) {
        m_device = nullptr;
    }
    if (m_statusPanel) {
        m_statusPanel->Notification(component, operation);
    }
}

QString TKIDuxlaneConfig::FileTitle() const {
    const qsizetype slash = std::max(m_fileName.lastIndexOf(QLatin1Char('\\')),
                                     m_fileName.lastIndexOf(QLatin1Char('/')));
    return m_fileName.mid(slash + 1);
}

void TKIDuxlaneConfig::SetItemPauseMsForTesting(int ms) {
    g_itemPauseMs = ms;
}

int TKIDuxlaneConfig::ItemPauseMs() {
    return g_itemPauseMs;
}

void TKIDuxlaneConfig::SetStatus(const QString& text) {
    if (m_statusPanel) {
        m_savedStatus = m_statusPanel->Text();
        m_statusPanel->SetText(text);
    }
}

void TKIDuxlaneConfig::RestoreStatus() {
    if (m_statusPanel) {
        m_statusPanel->SetText(m_savedStatus);
    }
}

void TKIDuxlaneConfig::CheckDevice() const {
    // The control can go away while an operation waits for it.
    // A control whose conversation has gone takes no more values: the load
    // stops rather than ask about every remaining item.
    if (m_device == nullptr || m_device->Conversation() == nullptr ||
        !m_device->Conversation()->IsConnected()) {
        throw Exception(QStringLiteral("Control has not been connected."));
    }
}

void TKIDuxlaneConfig::SaveToFile(const QString& fileName) {
    WriteItems(fileName, kWritingStatus, QString(), false, 0);
}

void TKIDuxlaneConfig::CreateReport(const QString& fileName, int decimalPlaces) {
    WriteItems(fileName, kReportStatus, kReportCaption, true, decimalPlaces);
}

QString TKIDuxlaneConfig::ItemLine(TKIItem* item, bool report, int decimalPlaces) {
    if (report && DataTypeOf(item) == vdtReal) {
        const double value =
            SettingsTextToReal(item->Value().toString(), m_localSeparator, m_foreignSeparator);
        return SettingsLine(item->Name(), FormatReportReal(value, decimalPlaces, m_localSeparator));
    }
    return SettingsLine(item->Name(), item->Value().toString());
}

void TKIDuxlaneConfig::WriteItems(const QString& fileName, const QString& status,
                                  const QString& caption, bool report, int decimalPlaces) {
    m_fileName = fileName;
    // The earlier file stays until the new one is complete.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        throw Exception(
            QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()));
    }
    StatusScope statusScope(*this, status);
    if (m_device != nullptr) {
        const QStringList names = m_device->GetMutableItemList();
        ProgressScope progress(*this);
        if (caption.isEmpty()) {
            progress->InitProgress(static_cast<int>(names.size()), FileTitle());
        } else {
            progress->InitProgress(static_cast<int>(names.size()), FileTitle(), caption);
        }
        progress->ShowCentred();
        for (const QString& name : names) {
            CheckDevice();
            // The claim stays with the device, which keeps the item (and its
            // attributes) for the next use.
            TKIItem* item = m_device->AcquireItem(name);
            if (!report) {
                // A line that would not read back the same is refused before
                // the file is replaced: the earlier file stays as it was.
                const QString value = item->Value().toString();
                const QString problem = SettingsLineProblem(item->Name(), value);
                if (!problem.isEmpty()) {
                    throw Exception(QStringLiteral("%1 cannot be saved to the settings file: %2.")
                                        .arg(item->Name(), problem));
                }
            }
            if (!writeTextLine(file, ItemLine(item, report, decimalPlaces))) {
                break; // commit() reports the write error
            }
            progress->Step();
        }
    }
    if (!file.commit()) {
        throw Exception(
            QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, file.errorString()));
    }
    qCDebug(lcSettings) << "wrote" << fileName;
}

void TKIDuxlaneConfig::Parse(TSettingsLines& lines) {
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Exception(
            QStringLiteral("Cannot open file \"%1\". %2").arg(m_fileName, file.errorString()));
    }
    StatusScope statusScope(*this, kParsingStatus);
    ParseSettings(file, m_fileName, lines);
}

void TKIDuxlaneConfig::WriteValue(TKIItem* item, const QString& text) {
    QString value = text;
    if (value.isEmpty() && DataTypeOf(item) != vdtString) {
        throw TKIItemException(QStringLiteral("The value of %1 is empty.").arg(item->Name()));
    }
    if (value.contains(m_foreignSeparator) && DataTypeOf(item) == vdtReal) {
        value = ReplaceFirstSeparator(value, m_foreignSeparator, m_localSeparator);
    }
    // Refused whole, never cut: a shortened value would be a different setting.
    if (value.size() > kPokeBufferChars) {
        throw TKIItemException(QStringLiteral("The value of %1 is longer than %2 characters.")
                                   .arg(item->Name())
                                   .arg(kPokeBufferChars));
    }
    item->SetValueAndWait(QVariant(value));
}

void TKIDuxlaneConfig::LoadFromFile(const QString& fileName) {
    m_fileName = fileName;
    TSettingsLines lines;
    std::exception_ptr parseFailure;
    QString parseMessage;
    try {
        Parse(lines);
    } catch (const Exception& error) {
        parseFailure = std::current_exception();
        parseMessage = error.message();
    }
    if (parseFailure) {
        qCInfo(lcSettings) << "not loaded:" << parseMessage;
        messageDlg(QStringLiteral("Configuration Error: %1\r\nConfiguration is not loaded.")
                       .arg(parseMessage),
                   mtError, mbOK);
        std::rethrow_exception(parseFailure);
    }
    if (m_device == nullptr) {
        return;
    }

    ProgressScope progress(*this);
    progress->InitProgress(static_cast<int>(lines.size()) + 2, FileTitle());
    progress->ShowCentred();
    StatusScope statusScope(*this, kConfiguringStatus);
    m_device->Shutdown();

    bool yesToAll = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        CheckDevice();
        TKIItem* item = m_device->AcquireItem(lines.names[i]);
        const QString itemName = item->Name();
        const auto releaseClaim = [&] {
            if (m_device != nullptr) {
                m_device->ReleaseItem(itemName);
            }
        };
        std::exception_ptr failure;
        try {
            WriteValue(item, lines.values[i]);
        } catch (const Exception& error) {
            failure = std::current_exception();
            qCInfo(lcSettings) << "item" << itemName << "not loaded:" << error.message();
        }
        if (failure && !yesToAll) {
            const TModalResult answer =
                messageDlg(QStringLiteral("Configuration Error: %1 does not exist or the value "
                                          "being loaded is invalid.  Continue loading?")
                               .arg(lines.names[i]),
                           mtWarning, mbYesNoYesToAll);
            if (answer == mrNo) {
                releaseClaim();
                std::rethrow_exception(failure);
            }
            if (answer == mrYesToAll) {
                yesToAll = true;
            }
        }
        if (g_itemPauseMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(g_itemPauseMs));
        }
        releaseClaim();
        progress->Step();
    }

    CheckDevice();
    m_device->SaveValues();
    progress->Step();
    statusScope.Restore();
    progress->Step();
}

} // namespace orvane
