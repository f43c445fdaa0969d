#pragma once

// Text helpers of orvane-cli that need no server: names of item classes and
// data types, aligned tables, CSV fields, the comparison of a settings file's
// value with a control's value, and safe file names for controls.
// All functions are reentrant.

#include <QString>
#include <QStringList>
#include <vector>

#include "model/KIDuxlaneItem.h"
#include "platform/Csv.h"

namespace orvane::cli {

class Output;

QString ClassName(ItemClassType type);
QString DataTypeName(ItemDataType type);

// Columns padded to their widest cell, two spaces apart.
class TextTable {
public:
    explicit TextTable(QStringList header) : m_header(std::move(header)) {}
    void AddRow(const QStringList& row) { m_rows.push_back(row); }
    void Print(Output& out) const;
    QString Text() const;

private:
    QStringList m_header;
    std::vector<QStringList> m_rows;
};

// Whether a value of a settings file matches the control's value. Reals match
// when they differ by no more than half a unit of the file value's last
// decimal (a value written as 20.0 matches 20.04 but not 20.06); a text that
// is not a number compares exactly, as do values of every other type.
bool SettingsValuesMatch(const QString& fileValue, const QString& controlValue, ItemDataType type);

// A file name for a control of the network: characters that would reach
// another folder or are not allowed in file names ("/", "\", ":", control
// characters, ...) become "_", and names that are empty or only dots get a
// leading "_". Names already in `taken` (compared without letter case) get
// "~2", "~3", ... appended. The result is added to `taken`.
QString ControlFileName(const QString& identifier, QStringList& taken);

} // namespace orvane::cli
