#pragma once

// The naming scheme of control variables. A variable's full item name (the
// DDE item under which the server offers it) is built from a category, a
// block and a field, and split again into those three parts for the
// inspector's columns:
//
//   category "<<Service>>"     -> "Service: " + block + "." + field
//   category "<<Configure>>"   -> "Configure: " + block + "." + field
//   category "<<no category>>" -> block + "." + field
//   any other category         -> category + "." + block + "." + field
//
// where a block "<<no block>>" is left out with its dot in the last two forms.
// Markers and prefixes are matched exactly, letter case included, so an
// upper-cased "SERVICE: SPEED.GAIN" splits with an empty category.
//
// Length: a name of any length is split whole. The parts are held as
// positions into a private copy of the name, so no name, however long, can
// run past a buffer or be cut (the DDE library refuses item names longer than
// the server accepts; splitting never has to).
//
// Main thread only. A TVariableName is a small value-like parser: the last
// name built or assigned determines Kind and the three parts.

#include <QString>

namespace orvane {

class TVariableName {
public:
    // The four markers and two prefixes of the naming scheme.
    static const QString ServiceMarker;    // "<<Service>>"
    static const QString ConfigureMarker;  // "<<Configure>>"
    static const QString NoCategoryMarker; // "<<no category>>"
    static const QString NoBlockMarker;    // "<<no block>>"
    static const QString ServicePrefix;    // "Service: "
    static const QString ConfigurePrefix;  // "Configure: "

    enum Kind : unsigned char { KindService = 0, KindConfigure = 1, KindOther = 2 };

    TVariableName() = default;

    // Builds FullName from the three parts by the table above and splits it
    // again as SetFullName does.
    void BuildName(const QString& category, const QString& block, const QString& field);

    // Stores name as FullName and splits it into its parts.
    void SetFullName(const QString& name);

    const QString& FullName() const { return m_fullName; }
    Kind NameKind() const { return m_kind; }

    // "<<Service>>" or "<<Configure>>" for those headers, else the category
    // text (empty when the name has none).
    QString Category() const;
    // The block text (empty when the name has none).
    QString Block() const;
    // The field text (the whole name when it has no dot).
    QString Field() const;

private:
    struct Span {
        qsizetype start = -1; // -1: the part is absent
        qsizetype length = 0;
    };
    QString part(Span span) const;

    QString m_fullName;
    Kind m_kind = KindOther;
    Span m_category;
    Span m_block;
    Span m_field;
};

// The one shared instance of the program, used by the inspector's variables
// to split names for display. Lives from first use until exit.
TVariableName& SharedVariableName();

} // namespace orvane
