#include "NetworkFile.h"

#include <cmath>
#include <limits>

#include <QFile>
#include <QHash>
#include <QSet>

#include "ServerNames.h"

namespace orvane::server {

QString NetworkFileError::toString() const {
    if (line <= 0) {
        return message;
    }
    return QStringLiteral("line %1: %2").arg(line).arg(message);
}

namespace values {

bool isNumeric(ValueKind kind) {
    return kind == ValueKind::Integer || kind == ValueKind::Real || kind == ValueKind::Boolean ||
           kind == ValueKind::Time || kind == ValueKind::Timer;
}

QString kindName(ValueKind kind) {
    switch (kind) {
    case ValueKind::String:
        return QStringLiteral("string");
    case ValueKind::Boolean:
        return QStringLiteral("boolean");
    case ValueKind::Integer:
        return QStringLiteral("integer");
    case ValueKind::Real:
        return QStringLiteral("real");
    case ValueKind::Time:
        return QStringLiteral("time");
    case ValueKind::Timer:
        return QStringLiteral("timer");
    }
    return QString();
}

QString className(ItemClass itemClass) {
    switch (itemClass) {
    case ItemClass::Monitor:
        return QStringLiteral("monitor");
    case ItemClass::Tunable:
        return QStringLiteral("tunable");
    case ItemClass::Configure:
        return QStringLiteral("configure");
    }
    return QString();
}

QString formatTime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        seconds = 0;
    }
    const long long centis = std::llround(seconds * 100.0);
    const long long hours = centis / 360000;
    const long long minutes = (centis / 6000) % 60;
    const double secs = static_cast<double>(centis % 6000) / 100.0;
    return QStringLiteral("%1:%2:%3")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(secs, 5, 'f', 2, QLatin1Char('0'));
}

namespace {

std::optional<double> parseReal(QString text) {
    text = text.trimmed();
    // Either separator is taken as the decimal one, but only one of them:
    // "1,234.5" or "1.234,5" is a number with digit groups, and reading a
    // part of it would store a wrong value.
    if (text.count(QLatin1Char(',')) + text.count(QLatin1Char('.')) > 1) {
        return std::nullopt;
    }
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        text[comma] = QLatin1Char('.');
    }
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

std::optional<long long> parseInteger(const QString& text) {
    bool ok = false;
    const long long v = text.trimmed().toLongLong(&ok, 10);
    if (!ok) {
        return std::nullopt;
    }
    return v;
}

std::optional<bool> parseBoolean(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("-1") ||
        t == QLatin1String("yes") || t == QLatin1String("on")) {
        return true;
    }
    if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("no") ||
        t == QLatin1String("off")) {
        return false;
    }
    return std::nullopt;
}

bool hasControlCharacters(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u > 0xFF) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<double> parseTime(const QString& text) {
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() == 1) {
        const auto secs = parseReal(parts[0]);
        if (!secs || *secs < 0) {
            return std::nullopt;
        }
        return secs;
    }
    if (parts.size() != 3) {
        return std::nullopt;
    }
    const auto hours = parseInteger(parts[0]);
    const auto minutes = parseInteger(parts[1]);
    const auto secs = parseReal(parts[2]);
    if (!hours || !minutes || !secs || *hours < 0 || *hours > 1000000 || *minutes < 0 ||
        *minutes > 59 || *secs < 0 || *secs >= 60) {
        return std::nullopt;
    }
    return static_cast<double>(*hours) * 3600.0 + static_cast<double>(*minutes) * 60.0 + *secs;
}

std::optional<double> toNumber(ValueKind kind, const QString& text) {
    switch (kind) {
    case ValueKind::Boolean: {
        const auto b = parseBoolean(text);
        if (!b) {
            return std::nullopt;
        }
        return *b ? 1.0 : 0.0;
    }
    case ValueKind::Integer: {
        const auto v = parseInteger(text);
        if (!v) {
            return std::nullopt;
        }
        return static_cast<double>(*v);
    }
    case ValueKind::Real:
        return parseReal(text);
    case ValueKind::Time:
    case ValueKind::Timer:
        return parseTime(text);
    case ValueKind::String:
        break;
    }
    return std::nullopt;
}

QString fromNumber(const ItemDefinition& item, double value) {
    switch (item.kind) {
    case ValueKind::Boolean:
        return value >= 0.5 ? QStringLiteral("1") : QStringLiteral("0");
    case ValueKind::Integer:
        return QString::number(std::llround(value));
    case ValueKind::Real: {
        QString text = QString::number(value, 'f', item.decimals);
        if (text.startsWith(QLatin1Char('-')) && text.toDouble() == 0.0) {
            text.remove(0, 1); // no "-0.00" from noise around zero
        }
        return text;
    }
    case ValueKind::Time:
    case ValueKind::Timer:
        return formatTime(value);
    case ValueKind::String:
        break;
    }
    return QString::number(value);
}

Check normalize(const ItemDefinition& item, const QString& text, QString* canonical) {
    if (text.size() > kMaxStringLength) {
        return Check::TooLong;
    }
    if (item.kind == ValueKind::String) {
        if (text.size() > item.maxLength) {
            return Check::TooLong;
        }
        if (hasControlCharacters(text)) {
            return Check::BadForm;
        }
        *canonical = text;
        return Check::Ok;
    }
    // Integers must be written as integers: "12.5" is refused, not rounded.
    const std::optional<double> value = toNumber(item.kind, text);
    if (!value) {
        return Check::BadForm;
    }
    double v = *value;
    if (item.kind == ValueKind::Real) {
        // The control stores what it shows: round before the limits are checked,
        // so that the stored text always lies within them.
        v = fromNumber(item, v).toDouble();
    }
    const auto lo = toNumber(item.kind, item.minText);
    const auto hi = toNumber(item.kind, item.maxText);
    if ((lo && v < *lo) || (hi && v > *hi)) {
        return Check::OutOfRange;
    }
    *canonical = fromNumber(item, v);
    return Check::Ok;
}

} // namespace values

namespace {

struct Token {
    QString text;
    bool quoted = false;
};

// Splits one line into tokens: bare words, or double-quoted texts with the
// escapes \" \\ \t \n. A # outside quotes starts a comment.
bool tokenize(const QString& line, std::vector<Token>* tokens, QString* error) {
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        const QChar c = line[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('#')) {
            break;
        }
        Token token;
        if (c == QLatin1Char('"')) {
            token.quoted = true;
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar d = line[i++];
                if (d == QLatin1Char('"')) {
                    closed = true;
                    break;
                }
                if (d == QLatin1Char('\\')) {
                    if (i >= n) {
                        break;
                    }
                    const QChar e = line[i++];
                    if (e == QLatin1Char('t')) {
                        token.text += QLatin1Char('\t');
                    } else if (e == QLatin1Char('n')) {
                        token.text += QLatin1Char('\n');
                    } else if (e == QLatin1Char('"') || e == QLatin1Char('\\')) {
                        token.text += e;
                    } else {
                        *error = QStringLiteral("unknown escape \\%1 in a quoted text").arg(e);
                        return false;
                    }
                    continue;
                }
                token.text += d;
            }
            if (!closed) {
                *error = QStringLiteral("quoted text is not closed");
                return false;
            }
            if (i < n && line[i] != QLatin1Char(' ') && line[i] != QLatin1Char('\t') &&
                line[i] != QLatin1Char('#')) {
                *error = QStringLiteral("a quoted text must be followed by a blank");
                return false;
            }
        } else {
            while (i < n && line[i] != QLatin1Char(' ') && line[i] != QLatin1Char('\t')) {
                if (line[i] == QLatin1Char('"')) {
                    *error = QStringLiteral("stray double quote in '%1'").arg(token.text);
                    return false;
                }
                token.text += line[i++];
            }
        }
        tokens->push_back(std::move(token));
    }
    return true;
}

bool parseUnsigned(const QString& text, std::uint32_t* out) {
    bool ok = false;
    qulonglong v = 0;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        v = text.mid(2).toULongLong(&ok, 16);
    } else {
        v = text.toULongLong(&ok, 10);
    }
    if (!ok || v > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    *out = static_cast<std::uint32_t>(v);
    return true;
}

bool parseDouble(const QString& text, double* out) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v)) {
        return false;
    }
    *out = v;
    return true;
}

bool isPrintableName(const QString& name) {
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u > 0xFF) {
            return false;
        }
    }
    return true;
}

struct TypeName {
    const char* name;
    ValueKind kind;
    std::uint8_t code;
};

constexpr TypeName kTypeNames[] = {
    {"string", ValueKind::String, kTypeCodeString},
    {"boolean", ValueKind::Boolean, kTypeCodeBoolean},
    {"integer", ValueKind::Integer, kTypeCodeInteger32},
    {"int16", ValueKind::Integer, kTypeCodeInteger16},
    {"int32", ValueKind::Integer, kTypeCodeInteger32},
    {"uint16", ValueKind::Integer, 0x83},
    {"uint32", ValueKind::Integer, 0x84},
    {"real", ValueKind::Real, kTypeCodeReal64},
    {"real32", ValueKind::Real, kTypeCodeReal32},
    {"real64", ValueKind::Real, kTypeCodeReal64},
    {"fixed16", ValueKind::Real, 0x30},
    {"fixed32", ValueKind::Real, 0x31},
    {"time", ValueKind::Time, kTypeCodeTime},
    {"timer", ValueKind::Timer, kTypeCodeTimer},
};

void defaultLimits(const QString& typeName, ValueKind kind, QString* lo, QString* hi) {
    switch (kind) {
    case ValueKind::String:
        *lo = QString();
        *hi = QString();
        return;
    case ValueKind::Boolean:
        *lo = QStringLiteral("0");
        *hi = QStringLiteral("1");
        return;
    case ValueKind::Integer:
        if (typeName == QLatin1String("int16")) {
            *lo = QStringLiteral("-32768");
            *hi = QStringLiteral("32767");
        } else if (typeName == QLatin1String("uint16")) {
            *lo = QStringLiteral("0");
            *hi = QStringLiteral("65535");
        } else if (typeName == QLatin1String("uint32")) {
            *lo = QStringLiteral("0");
            *hi = QStringLiteral("4294967295");
        } else {
            *lo = QStringLiteral("-2147483648");
            *hi = QStringLiteral("2147483647");
        }
        return;
    case ValueKind::Real:
        *lo = QStringLiteral("-1000000");
        *hi = QStringLiteral("1000000");
        return;
    case ValueKind::Time:
        *lo = values::formatTime(0);
        *hi = values::formatTime(86399.99);
        return;
    case ValueKind::Timer:
        *lo = values::formatTime(0);
        *hi = values::formatTime(99999 * 3600 + 3599.99);
        return;
    }
}

class Parser {
public:
    std::optional<NetworkDefinition> run(const QByteArray& bytes, NetworkFileError* error);

private:
    bool fail(const QString& message) {
        m_error.line = m_line;
        m_error.message = message;
        return false;
    }
    bool parseLine(const std::vector<Token>& t);
    bool parseControlLine(const std::vector<Token>& t);
    bool parseItem(const std::vector<Token>& t);
    bool parseLive(const std::vector<Token>& t, size_t at, ItemDefinition* item);
    bool finishControl();
    bool expectCount(const std::vector<Token>& t, size_t count) {
        if (t.size() != count) {
            return fail(QStringLiteral("'%1' takes %2 value(s)").arg(t[0].text).arg(count - 1));
        }
        return true;
    }

    NetworkDefinition m_network;
    NetworkFileError m_error;
    int m_line = 0;
    bool m_sawHeader = false;
    ControlDefinition* m_control = nullptr;
    QHash<QString, int> m_itemIndex; // upper-cased name -> index, current control
    std::vector<int> m_itemLines;    // line of each item of the current control
    int m_controlLine = 0;
    QSet<QString> m_topics;
};

std::optional<NetworkDefinition> Parser::run(const QByteArray& bytes, NetworkFileError* error) {
    auto failed = [&]() -> std::optional<NetworkDefinition> {
        if (error) {
            *error = m_error;
        }
        return std::nullopt;
    };
    if (bytes.size() > kMaxFileBytes) {
        m_error = {0, QStringLiteral("the file is larger than %1 bytes").arg(kMaxFileBytes)};
        return failed();
    }
    if (bytes.contains('\0')) {
        m_error = {0, QStringLiteral("the file holds a zero byte; it is not a text file")};
        return failed();
    }
    const QString text = QString::fromUtf8(bytes);
    qsizetype start = 0;
    while (start <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0) {
            end = text.size();
        }
        QString line = text.mid(start, end - start);
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        ++m_line;
        std::vector<Token> tokens;
        QString why;
        if (!tokenize(line, &tokens, &why)) {
            fail(why);
            return failed();
        }
        if (!tokens.empty() && !parseLine(tokens)) {
            return failed();
        }
        start = end + 1;
    }
    if (!m_sawHeader) {
        m_error = {0,
                   QStringLiteral("not a network definition file (no 'duxlane-network 1' line)")};
        return failed();
    }
    if (m_control) {
        m_error = {m_controlLine,
                   QStringLiteral("control '%1' has no 'end'").arg(m_control->topic)};
        return failed();
    }
    return std::move(m_network);
}

bool Parser::parseLine(const std::vector<Token>& t) {
    const QString& key = t[0].text;
    if (!m_sawHeader) {
        if (key != QLatin1String("duxlane-network") || t.size() != 2) {
            return fail(
                QStringLiteral("a network definition file starts with 'duxlane-network 1'"));
        }
        if (t[1].text != QLatin1String("1")) {
            return fail(QStringLiteral("format version %1 is not known (1 is)").arg(t[1].text));
        }
        m_sawHeader = true;
        return true;
    }
    if (m_control) {
        return parseControlLine(t);
    }
    if (key == QLatin1String("name")) {
        if (!expectCount(t, 2)) {
            return false;
        }
        m_network.name = t[1].text;
        return true;
    }
    if (key == QLatin1String("control")) {
        if (!expectCount(t, 2)) {
            return false;
        }
        const QString topic = t[1].text;
        if (topic.isEmpty() || topic.size() > kMaxNameLength || !isPrintableName(topic)) {
            return fail(QStringLiteral("a control's topic must be 1 to %1 printable characters")
                            .arg(kMaxNameLength));
        }
        if (topic.compare(QLatin1String(names::kSystemTopic), Qt::CaseInsensitive) == 0) {
            return fail(QStringLiteral("'%1' is the server's own topic").arg(topic));
        }
        if (m_topics.contains(topic.toUpper())) {
            return fail(QStringLiteral("control '%1' is defined twice").arg(topic));
        }
        if (static_cast<int>(m_network.controls.size()) >= kMaxControls) {
            return fail(QStringLiteral("more than %1 controls").arg(kMaxControls));
        }
        m_topics.insert(topic.toUpper());
        m_network.controls.emplace_back();
        m_control = &m_network.controls.back();
        m_control->topic = topic;
        m_controlLine = m_line;
        m_itemIndex.clear();
        m_itemLines.clear();
        return true;
    }
    return fail(QStringLiteral("'%1' is not known outside a control").arg(key));
}

bool Parser::parseControlLine(const std::vector<Token>& t) {
    const QString& key = t[0].text;
    ControlDefinition& c = *m_control;
    struct TextField {
        const char* key;
        QString ControlDefinition::*field;
    };
    static const TextField textFields[] = {
        {"description", &ControlDefinition::description},
        {"protocol-id", &ControlDefinition::protocolId},
        {"system-id", &ControlDefinition::systemId},
        {"application-id", &ControlDefinition::applicationId},
        {"product-id", &ControlDefinition::productId},
        {"configuration-id", &ControlDefinition::configurationId},
    };
    for (const TextField& f : textFields) {
        if (key == QLatin1String(f.key)) {
            if (!expectCount(t, 2)) {
                return false;
            }
            if (t[1].text.size() > kMaxNameLength || !isPrintableName(t[1].text)) {
                return fail(QStringLiteral("'%1' must be at most %2 printable characters")
                                .arg(key)
                                .arg(kMaxNameLength));
            }
            c.*(f.field) = t[1].text;
            return true;
        }
    }
    if (key == QLatin1String("reset-time") || key == QLatin1String("erase-time")) {
        if (!expectCount(t, 2)) {
            return false;
        }
        std::uint32_t ms = 0;
        if (!parseUnsigned(t[1].text, &ms) || ms > 3600000) {
            return fail(QStringLiteral("'%1' takes milliseconds from 0 to 3600000").arg(key));
        }
        (key == QLatin1String("reset-time") ? c.resetTimeMs : c.eraseTimeMs) = static_cast<int>(ms);
        return true;
    }
    if (key == QLatin1String("save-values") || key == QLatin1String("security-lock")) {
        if (!expectCount(t, 2)) {
            return false;
        }
        if (t[1].text != QLatin1String("yes") && t[1].text != QLatin1String("no")) {
            return fail(QStringLiteral("'%1' takes yes or no").arg(key));
        }
        const bool yes = t[1].text == QLatin1String("yes");
        (key == QLatin1String("save-values") ? c.saveValuesSupported : c.securityLocked) = yes;
        return true;
    }
    if (key == QLatin1String("program-block")) {
        if (!expectCount(t, 3)) {
            return false;
        }
        ProgramBlock b;
        if (!parseUnsigned(t[1].text, &b.address) || !parseUnsigned(t[2].text, &b.length)) {
            return fail(QStringLiteral("'program-block' takes an address and a length"));
        }
        if (b.length == 0 || b.length > kMaxProgramBlockBytes || b.address % 2 || b.length % 2) {
            return fail(QStringLiteral("a program block has an even address and an even length "
                                       "of 2 to %1 bytes")
                            .arg(kMaxProgramBlockBytes));
        }
        if (static_cast<std::uint64_t>(b.address) + b.length > 0x100000000ULL) {
            return fail(QStringLiteral("the program block goes beyond the 32-bit address space"));
        }
        for (const ProgramBlock& other : c.programBlocks) {
            if (b.address < other.address + other.length && other.address < b.address + b.length) {
                return fail(QStringLiteral("the program block overlaps another"));
            }
        }
        c.programBlocks.push_back(b);
        return true;
    }
    if (key == QLatin1String("item")) {
        return parseItem(t);
    }
    if (key == QLatin1String("end")) {
        if (!expectCount(t, 1)) {
            return false;
        }
        return finishControl();
    }
    return fail(QStringLiteral("'%1' is not known inside a control").arg(key));
}

bool Parser::parseItem(const std::vector<Token>& t) {
    if (t.size() < 4) {
        return fail(QStringLiteral("an item line reads: item \"name\" class type [key value]..."));
    }
    if (static_cast<int>(m_control->items.size()) >= kMaxItemsPerControl) {
        return fail(QStringLiteral("more than %1 items in one control").arg(kMaxItemsPerControl));
    }
    ItemDefinition item;
    item.name = t[1].text;
    if (item.name.isEmpty() || item.name.size() > kMaxNameLength || !isPrintableName(item.name)) {
        return fail(QStringLiteral("an item name must be 1 to %1 printable characters")
                        .arg(kMaxNameLength));
    }
    if (names::isReservedItem(item.name)) {
        return fail(QStringLiteral("'%1' is a name the server answers itself").arg(item.name));
    }
    const QString key = item.name.toUpper();
    if (m_itemIndex.contains(key)) {
        return fail(QStringLiteral("item '%1' is defined twice (names are compared without regard "
                                   "to letter case)")
                        .arg(item.name));
    }
    const QString& cls = t[2].text;
    if (cls == QLatin1String("monitor")) {
        item.itemClass = ItemClass::Monitor;
    } else if (cls == QLatin1String("tunable")) {
        item.itemClass = ItemClass::Tunable;
    } else if (cls == QLatin1String("configure")) {
        item.itemClass = ItemClass::Configure;
    } else {
        return fail(
            QStringLiteral("item class '%1' is not monitor, tunable or configure").arg(cls));
    }
    const QString typeName = t[3].text;
    bool typeFound = false;
    for (const TypeName& tn : kTypeNames) {
        if (typeName == QLatin1String(tn.name)) {
            item.kind = tn.kind;
            item.typeCode = tn.code;
            typeFound = true;
        }
    }
    if (!typeFound) {
        return fail(QStringLiteral("data type '%1' is not known").arg(typeName));
    }
    defaultLimits(typeName, item.kind, &item.minText, &item.maxText);
    std::optional<QString> initial;
    size_t i = 4;
    while (i < t.size()) {
        const QString& k = t[i].text;
        if (k == QLatin1String("live")) {
            if (!parseLive(t, i + 1, &item)) {
                return false;
            }
            break;
        }
        if (i + 1 >= t.size()) {
            return fail(QStringLiteral("'%1' needs a value").arg(k));
        }
        const QString& v = t[i + 1].text;
        if (k == QLatin1String("min") || k == QLatin1String("max")) {
            if (item.kind == ValueKind::String || item.kind == ValueKind::Boolean) {
                return fail(
                    QStringLiteral("a %1 item has no limits").arg(values::kindName(item.kind)));
            }
            const auto n = values::toNumber(item.kind, v);
            if (!n) {
                return fail(
                    QStringLiteral("'%1' is not a %2 limit").arg(v, values::kindName(item.kind)));
            }
            QString text = item.kind == ValueKind::Time || item.kind == ValueKind::Timer
                               ? values::formatTime(*n)
                               : v;
            (k == QLatin1String("min") ? item.minText : item.maxText) = text;
        } else if (k == QLatin1String("value")) {
            initial = v;
        } else if (k == QLatin1String("decimals")) {
            bool ok = false;
            const int d = v.toInt(&ok);
            if (!ok || d < 0 || d > kMaxDecimals) {
                return fail(QStringLiteral("'decimals' takes 0 to %1").arg(kMaxDecimals));
            }
            item.decimals = d;
        } else if (k == QLatin1String("maxlen")) {
            bool ok = false;
            const int m = v.toInt(&ok);
            if (!ok || m < 1 || m > kMaxStringLength) {
                return fail(QStringLiteral("'maxlen' takes 1 to %1").arg(kMaxStringLength));
            }
            item.maxLength = m;
        } else if (k == QLatin1String("code")) {
            std::uint32_t code = 0;
            if (!parseUnsigned(v, &code) || code == 0 || code > 255) {
                return fail(QStringLiteral("'code' takes a type code from 1 to 255"));
            }
            item.typeCode = static_cast<std::uint8_t>(code);
        } else {
            return fail(QStringLiteral("'%1' is not known on an item line").arg(k));
        }
        i += 2;
    }
    if (values::isNumeric(item.kind)) {
        const auto lo = values::toNumber(item.kind, item.minText);
        const auto hi = values::toNumber(item.kind, item.maxText);
        if (lo && hi && *lo > *hi) {
            return fail(QStringLiteral("the minimum of '%1' is above its maximum").arg(item.name));
        }
    }
    if (!initial) {
        if (item.kind == ValueKind::String) {
            initial = QString();
        } else {
            const double lo = values::toNumber(item.kind, item.minText).value_or(0);
            const double hi = values::toNumber(item.kind, item.maxText).value_or(0);
            initial = values::fromNumber(item, std::clamp(0.0, lo, hi));
        }
    }
    switch (values::normalize(item, *initial, &item.value)) {
    case values::Check::Ok:
        break;
    case values::Check::BadForm:
        return fail(QStringLiteral("the value '%1' is not a %2")
                        .arg(*initial, values::kindName(item.kind)));
    case values::Check::OutOfRange:
        return fail(QStringLiteral("the value '%1' is outside the limits %2 to %3")
                        .arg(*initial, item.minText, item.maxText));
    case values::Check::TooLong:
        return fail(QStringLiteral("the value is longer than the item allows"));
    }
    m_itemIndex.insert(key, static_cast<int>(m_control->items.size()));
    m_itemLines.push_back(m_line);
    m_control->items.push_back(std::move(item));
    return true;
}

bool Parser::parseLive(const std::vector<Token>& t, size_t at, ItemDefinition* item) {
    if (item->itemClass != ItemClass::Monitor) {
        return fail(QStringLiteral("only monitor items move by themselves"));
    }
    if (at >= t.size()) {
        return fail(QStringLiteral("'live' needs a behaviour"));
    }
    LiveBehaviour& live = item->live;
    const QString kind = t[at].text;
    size_t i = at + 1;
    auto number = [&](double* out, const char* what) {
        if (i >= t.size() || !parseDouble(t[i].text, out)) {
            return fail(QStringLiteral("'%1' needs %2").arg(kind, QLatin1String(what)));
        }
        ++i;
        return true;
    };
    auto positive = [&](double* out, const char* what) {
        if (!number(out, what)) {
            return false;
        }
        if (*out <= 0) {
            return fail(QStringLiteral("'%1' needs %2 above zero").arg(kind, QLatin1String(what)));
        }
        return true;
    };
    const bool numericValue = item->kind == ValueKind::Integer || item->kind == ValueKind::Real;
    auto needs = [&](bool ok) {
        if (!ok) {
            return fail(QStringLiteral("'%1' does not suit a %2 item")
                            .arg(kind, values::kindName(item->kind)));
        }
        return true;
    };
    if (kind == QLatin1String("noise")) {
        live.kind = LiveBehaviour::Kind::Noise;
        if (!needs(numericValue) || !number(&live.noise, "an amplitude")) {
            return false;
        }
    } else if (kind == QLatin1String("sine")) {
        live.kind = LiveBehaviour::Kind::Sine;
        if (!needs(numericValue) || !number(&live.amplitude, "an amplitude") ||
            !positive(&live.period, "a period")) {
            return false;
        }
    } else if (kind == QLatin1String("ramp")) {
        live.kind = LiveBehaviour::Kind::Ramp;
        if (!needs(numericValue) || !positive(&live.rate, "a rate")) {
            return false;
        }
    } else if (kind == QLatin1String("counter")) {
        live.kind = LiveBehaviour::Kind::Counter;
        if (!needs(numericValue || item->kind == ValueKind::Timer) ||
            !positive(&live.rate, "a rate")) {
            return false;
        }
    } else if (kind == QLatin1String("clock")) {
        live.kind = LiveBehaviour::Kind::Clock;
        if (!needs(item->kind == ValueKind::Time)) {
            return false;
        }
    } else if (kind == QLatin1String("toggle")) {
        live.kind = LiveBehaviour::Kind::Toggle;
        if (!needs(item->kind == ValueKind::Boolean) || !positive(&live.period, "a period")) {
            return false;
        }
    } else if (kind == QLatin1String("cycle")) {
        live.kind = LiveBehaviour::Kind::Cycle;
        if (!needs(item->kind == ValueKind::String) || !positive(&live.period, "a period")) {
            return false;
        }
        for (; i < t.size(); ++i) {
            QString canonical;
            if (values::normalize(*item, t[i].text, &canonical) != values::Check::Ok) {
                return fail(QStringLiteral("'%1' is not a value of this item").arg(t[i].text));
            }
            live.texts.push_back(canonical);
        }
        if (live.texts.isEmpty()) {
            return fail(QStringLiteral("'cycle' needs at least one text"));
        }
        return true;
    } else if (kind == QLatin1String("follow")) {
        live.kind = LiveBehaviour::Kind::Follow;
        if (!needs(numericValue)) {
            return false;
        }
        if (i >= t.size()) {
            return fail(QStringLiteral("'follow' needs the name of a set point item"));
        }
        live.setPoint = t[i++].text;
        while (i < t.size() && t[i].text != QLatin1String("noise")) {
            const QString k = t[i++].text;
            if (k == QLatin1String("tau")) {
                if (!positive(&live.tau, "a time constant")) {
                    return false;
                }
            } else if (k == QLatin1String("gain")) {
                if (!number(&live.gain, "a gain")) {
                    return false;
                }
            } else if (k == QLatin1String("offset")) {
                if (!number(&live.offset, "an offset")) {
                    return false;
                }
            } else {
                return fail(QStringLiteral("'%1' is not known after 'follow'").arg(k));
            }
        }
    } else {
        return fail(QStringLiteral("live behaviour '%1' is not known").arg(kind));
    }
    if (i < t.size()) {
        if (t[i].text != QLatin1String("noise") || live.kind == LiveBehaviour::Kind::Noise) {
            return fail(QStringLiteral("unexpected '%1' after the live behaviour").arg(t[i].text));
        }
        ++i;
        if (!needs(numericValue) || !number(&live.noise, "an amplitude")) {
            return false;
        }
        if (i < t.size()) {
            return fail(QStringLiteral("unexpected '%1' at the end of the line").arg(t[i].text));
        }
    }
    if (live.noise < 0) {
        return fail(QStringLiteral("a noise amplitude cannot be negative"));
    }
    return true;
}

bool Parser::finishControl() {
    ControlDefinition& c = *m_control;
    for (size_t i = 0; i < c.items.size(); ++i) {
        const LiveBehaviour& live = c.items[i].live;
        if (live.kind != LiveBehaviour::Kind::Follow) {
            continue;
        }
        const auto it = m_itemIndex.constFind(live.setPoint.toUpper());
        if (it == m_itemIndex.constEnd() || !values::isNumeric(c.items[*it].kind) ||
            c.items[*it].kind == ValueKind::Boolean) {
            m_line = m_itemLines[i];
            return fail(QStringLiteral("the set point '%1' is not a numeric item of control '%2'")
                            .arg(live.setPoint, c.topic));
        }
    }
    m_control = nullptr;
    return true;
}

QString quote(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (c == QLatin1Char('\t')) {
            out += QLatin1String("\\t");
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\\n");
        } else {
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QString typeNameOf(const ItemDefinition& item) {
    for (const TypeName& tn : kTypeNames) {
        if (tn.kind == item.kind && tn.code == item.typeCode) {
            return QLatin1String(tn.name);
        }
    }
    // An odd code is kept with the kind's plain name and an explicit code.
    return values::kindName(item.kind) + QStringLiteral(" code %1").arg(item.typeCode);
}

QString number(double v) {
    return QString::number(v, 'g', 12);
}

} // namespace

std::optional<NetworkDefinition> NetworkFile::parse(const QByteArray& text,
                                                    NetworkFileError* error) {
    Parser parser;
    return parser.run(text, error);
}

std::optional<NetworkDefinition> NetworkFile::load(const QString& path, NetworkFileError* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) {
            *error = {0, QStringLiteral("cannot read %1: %2").arg(path, file.errorString())};
        }
        return std::nullopt;
    }
    if (file.size() > kMaxFileBytes) {
        if (error) {
            *error = {0, QStringLiteral("%1 is larger than %2 bytes").arg(path).arg(kMaxFileBytes)};
        }
        return std::nullopt;
    }
    return parse(file.readAll(), error);
}

QByteArray NetworkFile::write(const NetworkDefinition& network) {
    QString out;
    out += QLatin1String("duxlane-network 1\n");
    if (!network.name.isEmpty()) {
        out += QLatin1String("name ") + quote(network.name) + QLatin1Char('\n');
    }
    for (const ControlDefinition& c : network.controls) {
        out += QLatin1String("\ncontrol ") + quote(c.topic) + QLatin1Char('\n');
        auto field = [&](const char* key, const QString& value) {
            out += QLatin1String("    ") + QLatin1String(key) + QLatin1Char(' ') + quote(value) +
                   QLatin1Char('\n');
        };
        if (!c.description.isEmpty()) {
            field("description", c.description);
        }
        field("protocol-id", c.protocolId);
        field("system-id", c.systemId);
        field("application-id", c.applicationId);
        field("product-id", c.productId);
        field("configuration-id", c.configurationId);
        out += QStringLiteral("    reset-time %1\n    erase-time %2\n")
                   .arg(c.resetTimeMs)
                   .arg(c.eraseTimeMs);
        out += QStringLiteral("    save-values %1\n")
                   .arg(c.saveValuesSupported ? QLatin1String("yes") : QLatin1String("no"));
        if (c.securityLocked) {
            out += QLatin1String("    security-lock yes\n");
        }
        for (const ProgramBlock& b : c.programBlocks) {
            out += QStringLiteral("    program-block 0x%1 0x%2\n")
                       .arg(b.address, 8, 16, QLatin1Char('0'))
                       .arg(b.length, 8, 16, QLatin1Char('0'));
        }
        for (const ItemDefinition& item : c.items) {
            out += QLatin1String("    item ") + quote(item.name) + QLatin1Char(' ') +
                   values::className(item.itemClass) + QLatin1Char(' ') + typeNameOf(item);
            if (values::isNumeric(item.kind) && item.kind != ValueKind::Boolean) {
                out += QLatin1String(" min ") + quote(item.minText) + QLatin1String(" max ") +
                       quote(item.maxText);
            }
            if (item.kind == ValueKind::Real) {
                out += QStringLiteral(" decimals %1").arg(item.decimals);
            }
            if (item.kind == ValueKind::String && item.maxLength != kDefaultStringLength) {
                out += QStringLiteral(" maxlen %1").arg(item.maxLength);
            }
            out += QLatin1String(" value ") + quote(item.value);
            const LiveBehaviour& l = item.live;
            switch (l.kind) {
            case LiveBehaviour::Kind::None:
                break;
            case LiveBehaviour::Kind::Noise:
                out += QLatin1String(" live noise ") + number(l.noise);
                break;
            case LiveBehaviour::Kind::Sine:
                out += QLatin1String(" live sine ") + number(l.amplitude) + QLatin1Char(' ') +
                       number(l.period);
                break;
            case LiveBehaviour::Kind::Ramp:
                out += QLatin1String(" live ramp ") + number(l.rate);
                break;
            case LiveBehaviour::Kind::Counter:
                out += QLatin1String(" live counter ") + number(l.rate);
                break;
            case LiveBehaviour::Kind::Clock:
                out += QLatin1String(" live clock");
                break;
            case LiveBehaviour::Kind::Toggle:
                out += QLatin1String(" live toggle ") + number(l.period);
                break;
            case LiveBehaviour::Kind::Follow:
                out += QLatin1String(" live follow ") + quote(l.setPoint) + QLatin1String(" tau ") +
                       number(l.tau) + QLatin1String(" gain ") + number(l.gain) +
                       QLatin1String(" offset ") + number(l.offset);
                break;
            case LiveBehaviour::Kind::Cycle:
                out += QLatin1String(" live cycle ") + number(l.period);
                for (const QString& text : l.texts) {
                    out += QLatin1Char(' ') + quote(text);
                }
                break;
            }
            if (l.noise > 0 && l.kind != LiveBehaviour::Kind::Noise &&
                l.kind != LiveBehaviour::Kind::Cycle) {
                out += QLatin1String(" noise ") + number(l.noise);
            }
            out += QLatin1Char('\n');
        }
        out += QLatin1String("end\n");
    }
    return out.toUtf8();
}

} // namespace orvane::server
