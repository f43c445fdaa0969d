#include "inspector/InspectorFile.h"

#include <utility>

#include <QFile>
#include <QSaveFile>

#include "inspector/InspectorLog.h"
#include "platform/Exception.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {

constexpr QChar kTab = QLatin1Char('\t');

bool failNextWrite = false;

// The five window-settings lines are decimal 32-bit integers; anything else
// (also a line missing at the end of the file) is the conversion error that
// the application's general error report shows.
int toWindowSetting(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok) {
        throw Exception(TInspectorFile::ConversionErrorText(text));
    }
    return value;
}

} // namespace

TInspectorFile::TInspectorFile() = default;
TInspectorFile::~TInspectorFile() = default;

QString TInspectorFile::FormatErrorText() {
    return QStringLiteral("The file format is incorrect and it cannot be opened.");
}

QString TInspectorFile::ConversionErrorText(const QString& text) {
    return QStringLiteral("'%1' is not a valid integer value").arg(text);
}

bool TInspectorFile::Open(const QString& path) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        qCInfo(lcInspector) << "cannot open inspector file" << path << file->errorString();
        m_ownedDevice.reset();
        m_device = nullptr;
        return false;
    }
    m_ownedDevice = std::move(file);
    m_device = m_ownedDevice.get();
    m_state = StateBeforeFirstRecord;
    m_lineNumber = 0;
    return true;
}

void TInspectorFile::OpenDevice(QIODevice* device) {
    m_ownedDevice.reset();
    m_device = device;
    m_state = StateBeforeFirstRecord;
    m_lineNumber = 0;
}

bool TInspectorFile::atEnd() const {
    return m_device == nullptr || m_device->atEnd();
}

QString TInspectorFile::readLine() {
    QString line;
    if (m_device != nullptr && readTextLine(*m_device, line)) {
        ++m_lineNumber;
    }
    return line;
}

void TInspectorFile::ReadWindowSettings(TInspectorWindowSettings& settings) {
    if (readLine() != QLatin1String(kWindowSettingsTag)) {
        settings = TInspectorWindowSettings{};
        if (m_device != nullptr) {
            m_device->seek(0);
        }
        m_lineNumber = 0;
        return;
    }
    settings.Top = toWindowSetting(readLine());
    settings.Width = toWindowSetting(readLine());
    settings.Left = toWindowSetting(readLine());
    settings.Height = toWindowSetting(readLine());
    settings.State = toWindowSetting(readLine());
}

TInspectorFile::Record TInspectorFile::Next() {
    if (atEnd()) {
        return RecordEnd;
    }
    QString line = readLine();
    while (line.isEmpty() && !atEnd()) {
        line = readLine();
        m_state = StateSheetNameExpected;
    }
    if (m_state == StateBeforeFirstRecord) {
        m_state = StateSheetNameExpected;
    }
    if (line.isEmpty() && atEnd()) {
        return RecordEnd;
    }

    if (m_state == StateSheetNameExpected) {
        const qsizetype tab = line.indexOf(kTab);
        m_sheetName = tab < 0 ? line : line.left(tab);
        if (m_sheetName.size() > kMaxSheetNameLength) {
            qCWarning(lcInspector) << "sheet name on line" << m_lineNumber << "cut to"
                                   << kMaxSheetNameLength << "characters";
            m_sheetName.truncate(kMaxSheetNameLength);
        }
        m_state = StateInSheet;
        return RecordSheet;
    }

    // A missing TAB leaves the field before it empty; the description is
    // everything after the second TAB, TABs included.
    const qsizetype firstTab = line.indexOf(kTab);
    const qsizetype secondTab = firstTab < 0 ? -1 : line.indexOf(kTab, firstTab + 1);
    if (firstTab < 0) {
        m_deviceName.clear();
        m_itemName.clear();
        m_description.clear();
    } else {
        m_deviceName = line.left(firstTab);
        if (secondTab < 0) {
            m_itemName.clear();
            m_description.clear();
        } else {
            m_itemName = line.mid(firstTab + 1, secondTab - firstTab - 1);
            m_description = line.mid(secondTab + 1);
        }
    }
    if (m_deviceName.isEmpty() || m_itemName.isEmpty()) {
        qCInfo(lcInspector) << "malformed variable line" << m_lineNumber;
        return RecordError;
    }
    return RecordVariable;
}

TInspectorFileWriter::TInspectorFileWriter(const TInspectorWindowSettings& settings) {
    addLine(QLatin1String(kWindowSettingsTag));
    for (const int value :
         {settings.Top, settings.Width, settings.Left, settings.Height, settings.State}) {
        addLine(QString::number(value));
    }
}

void TInspectorFileWriter::addLine(const QString& line) {
    // A line break inside a field (a pasted description) would split the
    // record on reading; it is written as a blank.
    QString text = line;
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_bytes += toWindows1252(text);
    m_bytes += "\r\n";
}

void TInspectorFileWriter::AddSheet(const QString& name) {
    addLine(QString());
    addLine(name);
}

void TInspectorFileWriter::AddVariable(const QString& deviceName, const QString& itemName,
                                       const QString& description) {
    addLine(deviceName + kTab + itemName + kTab + description);
}

void TInspectorFileWriter::FailNextWriteForTesting() {
    failNextWrite = true;
}

bool TInspectorFileWriter::SaveTo(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcInspector) << "cannot create inspector file" << path << file.errorString();
        return false;
    }
    const bool fail = std::exchange(failNextWrite, false);
    const QByteArray bytes = fail ? m_bytes.left(m_bytes.size() / 2) : m_bytes;
    if (file.write(bytes) != m_bytes.size()) {
        qCWarning(lcInspector) << "cannot write inspector file" << path << file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        qCWarning(lcInspector) << "cannot complete inspector file" << path << file.errorString();
        return false;
    }
    return true;
}

} // namespace orvane
