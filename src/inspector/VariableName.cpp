#include "inspector/VariableName.h"

namespace orvane {

const QString TVariableName::ServiceMarker = QStringLiteral("<<Service>>");
const QString TVariableName::ConfigureMarker = QStringLiteral("<<Configure>>");
const QString TVariableName::NoCategoryMarker = QStringLiteral("<<no category>>");
const QString TVariableName::NoBlockMarker = QStringLiteral("<<no block>>");
const QString TVariableName::ServicePrefix = QStringLiteral("Service: ");
const QString TVariableName::ConfigurePrefix = QStringLiteral("Configure: ");

void TVariableName::BuildName(const QString& category, const QString& block, const QString& field) {
    QString name;
    if (category == ServiceMarker) {
        name = ServicePrefix + block + QLatin1Char('.');
    } else if (category == ConfigureMarker) {
        name = ConfigurePrefix + block + QLatin1Char('.');
    } else {
        if (category != NoCategoryMarker) {
            name = category + QLatin1Char('.');
        }
        if (block != NoBlockMarker) {
            name += block + QLatin1Char('.');
        }
    }
    name += field;
    SetFullName(name);
}

void TVariableName::SetFullName(const QString& name) {
    m_fullName = name;
    m_kind = KindOther;
    m_category = {};
    m_block = {};

    // The field is what follows the last dot; the block what lies between the
    // last two dots; everything before that is the category (which may itself
    // hold dots: 'Tables.Curve 1.X.3' has the category 'Tables.Curve 1').
    const qsizetype fieldDot = name.lastIndexOf(QLatin1Char('.'));
    if (fieldDot < 0) {
        m_field = {0, name.size()};
        return;
    }
    m_field = {fieldDot + 1, name.size() - fieldDot - 1};

    const qsizetype blockDot = fieldDot > 0 ? name.lastIndexOf(QLatin1Char('.'), fieldDot - 1) : -1;
    if (blockDot >= 0) {
        m_block = {blockDot + 1, fieldDot - blockDot - 1};
        m_category = {0, blockDot};
        return;
    }

    // One dot only: the beginning is a header block, possibly with the
    // service or configure prefix.
    const QStringView rest = QStringView(name).left(fieldDot);
    if (rest.startsWith(ServicePrefix)) {
        m_kind = KindService;
        m_block = {ServicePrefix.size(), fieldDot - ServicePrefix.size()};
    } else if (rest.startsWith(ConfigurePrefix)) {
        m_kind = KindConfigure;
        m_block = {ConfigurePrefix.size(), fieldDot - ConfigurePrefix.size()};
    } else {
        m_block = {0, fieldDot};
    }
}

QString TVariableName::part(Span span) const {
    return span.start < 0 ? QString() : m_fullName.mid(span.start, span.length);
}

QString TVariableName::Category() const {
    switch (m_kind) {
    case KindService:
        return ServiceMarker;
    case KindConfigure:
        return ConfigureMarker;
    case KindOther:
        break;
    }
    return part(m_category);
}

QString TVariableName::Block() const {
    return part(m_block);
}

QString TVariableName::Field() const {
    return part(m_field);
}

TVariableName& SharedVariableName() {
    static TVariableName instance;
    return instance;
}

} // namespace orvane
