#include "SimControl.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QDateTime>
#include <QPointer>
#include <QTime>

#include "ServerLog.h"
#include "ServerNames.h"
#include "ValueStore.h"

namespace orvane::server {

namespace {

const char* const kSpecialNames[] = {
    names::kTopicItemList,   names::kMutableItemList, names::kProtocolId,
    names::kSystemId,        names::kApplicationId,   names::kProductId,
    names::kConfigurationId, names::kRunMode,         names::kControlStatus,
};

std::uint32_t crc32(const char* data, qsizetype size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (qsizetype i = 0; i < size; ++i) {
        crc ^= static_cast<std::uint8_t>(data[i]);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

// A decimal unsigned 32-bit number, digits only.
bool parseU32(QStringView text, std::uint32_t* out) {
    if (text.isEmpty() || text.size() > 10) {
        return false;
    }
    std::uint64_t v = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
        v = v * 10 + static_cast<std::uint64_t>(c.unicode() - '0');
    }
    if (v > 0xFFFFFFFFull) {
        return false;
    }
    *out = static_cast<std::uint32_t>(v);
    return true;
}

} // namespace

QString commandName(Command command) {
    return QLatin1String(names::kCommands[static_cast<int>(command)]);
}

SimControl::SimControl(ControlDefinition definition, ValueStore* store, Timing timing,
                       QObject* parent)
    : QObject(parent), m_def(std::move(definition)), m_store(store), m_timing(timing),
      m_random(static_cast<std::uint32_t>(qHash(m_def.topic))) {
    const int n = variableCount();
    m_values.resize(static_cast<size_t>(n));
    m_state.resize(static_cast<size_t>(n));
    m_direction.assign(static_cast<size_t>(n), 1.0);
    m_index.reserve(slotCount());
    QStringList all;
    QStringList mutableNames;
    QHash<QString, QString> storedNames;
    for (int i = 0; i < n; ++i) {
        const ItemDefinition& item = m_def.items[static_cast<size_t>(i)];
        m_index.insert(item.name.toUpper(), i);
        m_values[static_cast<size_t>(i)] = item.value;
        m_state[static_cast<size_t>(i)] = values::toNumber(item.kind, item.value).value_or(0);
        all.push_back(item.name);
        if (item.itemClass != ItemClass::Monitor) {
            mutableNames.push_back(item.name);
            m_saved.insert(item.name.toUpper(), item.value);
        }
    }
    for (int s = 0; s < SpecialCount; ++s) {
        m_index.insert(slotName(n + s).toUpper(), n + s);
    }
    m_live.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const ItemDefinition& item = m_def.items[static_cast<size_t>(i)];
        if (item.live.kind == LiveBehaviour::Kind::None) {
            continue;
        }
        LiveLimits& limits = m_live[static_cast<size_t>(i)];
        limits.lo = values::toNumber(item.kind, item.minText).value_or(-1e300);
        limits.hi = values::toNumber(item.kind, item.maxText).value_or(1e300);
        limits.base = values::toNumber(item.kind, item.value).value_or(0);
        limits.setPoint =
            item.live.kind == LiveBehaviour::Kind::Follow ? find(item.live.setPoint) : -1;
        m_liveItems.push_back(i);
    }
    m_topicItemList = all.join(QLatin1Char('\t'));
    m_mutableItemList = mutableNames.join(QLatin1Char('\t'));
    m_applicationId = m_def.applicationId;
    m_memory.resize(m_def.programBlocks.size());
    m_written.resize(m_def.programBlocks.size());

    if (m_store) {
        if (const auto stored = m_store->loadControl(m_def.topic)) {
            if (!stored->applicationId.isEmpty()) {
                m_applicationId = stored->applicationId;
            }
            for (auto it = stored->values.constBegin(); it != stored->values.constEnd(); ++it) {
                const int slot = m_index.value(it.key(), -1);
                if (!isVariable(slot) ||
                    m_def.items[static_cast<size_t>(slot)].itemClass == ItemClass::Monitor) {
                    continue; // an item the network file no longer has
                }
                QString canonical;
                if (values::normalize(m_def.items[static_cast<size_t>(slot)], it.value(),
                                      &canonical) != values::Check::Ok) {
                    qCWarning(lcServer) << "Saved value" << it.value() << "of" << it.key() << "in"
                                        << m_def.topic << "no longer fits the item; ignored";
                    continue;
                }
                m_values[static_cast<size_t>(slot)] = canonical;
                m_saved.insert(it.key(), canonical);
            }
        }
    }

    m_resetTimer.setSingleShot(true);
    m_eraseTimer.setSingleShot(true);
    connect(&m_resetTimer, &QTimer::timeout, this, &SimControl::finishReset);
    connect(&m_eraseTimer, &QTimer::timeout, this, [this] {
        m_erasing = false;
        emit valueChanged(specialSlot(ControlStatus));
    });
}

SimControl::~SimControl() = default;

int SimControl::find(const QString& name) const {
    return m_index.value(name.toUpper(), -1);
}

QString SimControl::slotName(int slot) const {
    if (isVariable(slot)) {
        return m_def.items[static_cast<size_t>(slot)].name;
    }
    const int s = slot - variableCount();
    if (s >= 0 && s < ResetResult) {
        return QLatin1String(kSpecialNames[s]);
    }
    if (s >= ResetResult && s < SpecialCount) {
        return commandName(Command(s - ResetResult)) + QLatin1String(names::kResultSuffix);
    }
    return QString();
}

QString SimControl::value(int slot) const {
    if (isVariable(slot)) {
        return m_values[static_cast<size_t>(slot)];
    }
    switch (slot - variableCount()) {
    case TopicItemList:
        return m_topicItemList;
    case MutableItemList:
        return m_mutableItemList;
    case ProtocolId:
        return m_def.protocolId;
    case SystemId:
        return m_def.systemId;
    case ApplicationId:
        return m_applicationId;
    case ProductId:
        return m_def.productId;
    case ConfigurationId:
        return m_def.configurationId;
    case RunMode:
        return m_ioLocked ? QStringLiteral("1") : QStringLiteral("0");
    case ControlStatus:
        return isOnLine() ? QStringLiteral("1") : QStringLiteral("0");
    default:
        break;
    }
    const int result = slot - specialSlot(ResetResult);
    if (result >= 0 && result < kCommandCount) {
        return m_resultValues[result];
    }
    return QString();
}

QByteArray SimControl::attributes(int slot) const {
    QByteArray out;
    if (isVariable(slot)) {
        const ItemDefinition& item = m_def.items[static_cast<size_t>(slot)];
        out += static_cast<char>(item.itemClass);
        out += static_cast<char>(item.typeCode);
        out += item.minText.toLatin1();
        out += '\0';
        out += item.maxText.toLatin1();
        out += '\0';
        return out;
    }
    // The control's own items read as monitored texts, except Run Mode and
    // Control Status (booleans) and the result codes (integers).
    const int s = slot - variableCount();
    out += static_cast<char>(ItemClass::Monitor);
    if (s == RunMode || s == ControlStatus) {
        out += static_cast<char>(kTypeCodeBoolean);
        out += QByteArray("0\0"
                          "1\0",
                          4);
    } else if (s >= ResetResult) {
        out += static_cast<char>(kTypeCodeInteger16);
        out += QByteArray("0\0"
                          "255\0",
                          6);
    } else {
        out += static_cast<char>(kTypeCodeString);
        out += QByteArray("\0\0", 2);
    }
    return out;
}

bool SimControl::isOnLine() const {
    return !m_stuckOffLine && !m_resetting && !m_erasing;
}

void SimControl::setStuckOffLine(bool stuck) {
    m_stuckOffLine = stuck;
    emit valueChanged(specialSlot(ControlStatus));
}

void SimControl::setValue(int slot, const QString& text) {
    if (m_values[static_cast<size_t>(slot)] == text) {
        return;
    }
    m_values[static_cast<size_t>(slot)] = text;
    emit valueChanged(slot);
}

SimControl::PokeResult SimControl::poke(int slot, const QString& text) {
    if (!isVariable(slot)) {
        return slot < 0 ? PokeResult::UnknownItem : PokeResult::ReadOnly;
    }
    const ItemDefinition& item = m_def.items[static_cast<size_t>(slot)];
    if (item.itemClass == ItemClass::Monitor) {
        return PokeResult::ReadOnly;
    }
    if (!isOnLine()) {
        return PokeResult::OffLine;
    }
    if (item.itemClass == ItemClass::Configure && !m_ioLocked) {
        return PokeResult::NeedsIoLock;
    }
    QString canonical;
    switch (values::normalize(item, text, &canonical)) {
    case values::Check::Ok:
        break;
    case values::Check::BadForm:
        return PokeResult::BadValue;
    case values::Check::OutOfRange:
        return PokeResult::OutOfRange;
    case values::Check::TooLong:
        return PokeResult::TooLong;
    }
    m_state[static_cast<size_t>(slot)] = values::toNumber(item.kind, canonical).value_or(0);
    setValue(slot, canonical);
    return PokeResult::Ok;
}

QString SimControl::describe(PokeResult result) {
    switch (result) {
    case PokeResult::Ok:
        return QStringLiteral("accepted");
    case PokeResult::UnknownItem:
        return QStringLiteral("no such item");
    case PokeResult::ReadOnly:
        return QStringLiteral("the item cannot be written");
    case PokeResult::NeedsIoLock:
        return QStringLiteral("configure items take values only while I/O is locked");
    case PokeResult::BadValue:
        return QStringLiteral("the text is not a value of the item's type");
    case PokeResult::OutOfRange:
        return QStringLiteral("the value is outside the item's limits");
    case PokeResult::TooLong:
        return QStringLiteral("the text is longer than the item allows");
    case PokeResult::OffLine:
        return QStringLiteral("the control is off line");
    }
    return QString();
}

std::optional<Command> SimControl::commandOf(const QString& text) {
    const QString t = text.trimmed();
    for (int c = 0; c < kCommandCount; ++c) {
        const QLatin1String name(names::kCommands[c]);
        if (t.startsWith(name, Qt::CaseInsensitive) &&
            (t.size() == name.size() || t[name.size()] == QLatin1Char('('))) {
            return Command(c);
        }
    }
    return std::nullopt;
}

bool SimControl::execute(const QString& text, QString* why) {
    if (text.size() > kMaxCommandLength) {
        *why =
            QStringLiteral("the command text is longer than %1 characters").arg(kMaxCommandLength);
        return false;
    }
    const QString t = text.trimmed();
    const auto command = commandOf(t);
    if (!command) {
        *why = QStringLiteral("'%1' is not a command of the control").arg(t.left(60));
        return false;
    }
    if (m_resetting) {
        *why = QStringLiteral("the control is off line while it resets");
        return false;
    }
    const QString name = commandName(*command);
    const QStringView rest = QStringView(t).mid(name.size());
    QStringView args;
    const bool takesArgs =
        *command == Command::BeginProgramming || *command == Command::WriteMemory;
    if (takesArgs) {
        if (rest.size() < 2 || rest.front() != QLatin1Char('(') ||
            rest.back() != QLatin1Char(')')) {
            *why = QStringLiteral("%1 takes its arguments in parentheses").arg(name);
            return false;
        }
        args = rest.mid(1, rest.size() - 2);
    } else if (!rest.isEmpty() && rest != QLatin1String("()")) {
        *why = QStringLiteral("%1 takes no arguments").arg(name);
        return false;
    }

    int code = codes::kSuccess;
    switch (*command) {
    case Command::Reset:
        if (!m_ioLocked) {
            code = codes::kNotLocked;
            break;
        }
        // Off line at once; the result follows while the control restarts.
        m_resetting = true;
        m_program = {};
        emit valueChanged(specialSlot(ControlStatus));
        m_resetTimer.start(resetTimeMs());
        break;
    case Command::Shutdown:
        if (!m_ioLocked) {
            m_ioLocked = true;
            emit valueChanged(specialSlot(RunMode));
        }
        break;
    case Command::SaveValues:
        code = saveValues();
        break;
    case Command::BeginProgramming: {
        const qsizetype semi = args.indexOf(QLatin1Char(';'));
        std::uint32_t address = 0;
        std::uint32_t length = 0;
        if (semi < 0 || !parseU32(args.left(semi), &address) ||
            !parseU32(args.mid(semi + 1), &length)) {
            *why = QStringLiteral("BeginProgrammingMode takes (address;length) in decimal");
            return false;
        }
        code = beginProgramming(address, length);
        break;
    }
    case Command::WriteMemory: {
        const qsizetype semi = args.indexOf(QLatin1Char(';'));
        std::uint32_t address = 0;
        if (semi < 0 || !parseU32(args.left(semi), &address)) {
            *why = QStringLiteral("WriteProgramMemory takes (address;byte TAB byte ...)");
            return false;
        }
        // A download sends thousands of these: the bytes are read in place.
        QByteArray bytes;
        const QStringView data = args.mid(semi + 1);
        if (!data.isEmpty()) {
            bytes.reserve(data.size() / 2 + 1);
            qsizetype from = 0;
            for (;;) {
                const qsizetype tab = data.indexOf(QLatin1Char('\t'), from);
                const QStringView part = data.mid(from, tab < 0 ? data.size() - from : tab - from);
                std::uint32_t b = 0;
                if (!parseU32(part, &b) || b > 255) {
                    *why = QStringLiteral("WriteProgramMemory: '%1' is not a byte from 0 to 255")
                               .arg(part.left(20));
                    return false;
                }
                bytes += static_cast<char>(b);
                if (tab < 0) {
                    break;
                }
                from = tab + 1;
            }
        }
        code = writeMemory(address, bytes);
        break;
    }
    case Command::EndProgramming:
        code = endProgramming();
        break;
    }
    pushResult(*command, code);
    return true;
}

void SimControl::pushResult(Command command, int code) {
    const int index = static_cast<int>(command);
    // The old result is gone as soon as a new command is taken, so that nobody
    // mistakes it for the answer to this one.
    clearResult(command);
    QTimer::singleShot(std::max(0, m_timing.commandLatencyMs), this, [this, index, code] {
        m_resultValues[index] = QString::number(code);
        emit valueChanged(specialSlot(Special(ResetResult + index)));
    });
}

void SimControl::clearResult(Command command) {
    m_resultValues[static_cast<int>(command)].clear();
}

int SimControl::resetTimeMs() const {
    return m_timing.resetTimeMs >= 0 ? m_timing.resetTimeMs : m_def.resetTimeMs;
}

int SimControl::eraseTimeMs() const {
    return m_timing.eraseTimeMs >= 0 ? m_timing.eraseTimeMs : m_def.eraseTimeMs;
}

void SimControl::finishReset() {
    m_resetting = false;
    m_ioLocked = false;
    m_erasing = false;
    m_eraseTimer.stop();
    for (int i = 0; i < variableCount(); ++i) {
        const ItemDefinition& item = m_def.items[static_cast<size_t>(i)];
        if (item.itemClass == ItemClass::Monitor) {
            continue;
        }
        const QString saved = m_saved.value(item.name.toUpper(), item.value);
        m_state[static_cast<size_t>(i)] = values::toNumber(item.kind, saved).value_or(0);
        setValue(i, saved);
    }
    qCInfo(lcServer) << "Control" << m_def.topic << "is back after its reset";
    emit valueChanged(specialSlot(RunMode));
    emit valueChanged(specialSlot(ControlStatus));
}

int SimControl::saveValues() {
    if (!m_def.saveValuesSupported) {
        return codes::kUnsupported;
    }
    ValueStore::ControlState state;
    QHash<QString, QString> names;
    for (int i = 0; i < variableCount(); ++i) {
        const ItemDefinition& item = m_def.items[static_cast<size_t>(i)];
        if (item.itemClass != ItemClass::Monitor) {
            state.values.insert(item.name.toUpper(), m_values[static_cast<size_t>(i)]);
            names.insert(item.name.toUpper(), item.name);
        }
    }
    if (m_applicationId != m_def.applicationId) {
        state.applicationId = m_applicationId;
    }
    if (m_store) {
        QString error;
        if (!m_store->saveControl(m_def.topic, state, names, &error)) {
            qCWarning(lcServer).noquote() << "SaveValues of" << m_def.topic << "failed:" << error;
            return codes::kMemoryError;
        }
    }
    m_saved = state.values;
    return codes::kSuccess;
}

int SimControl::beginProgramming(std::uint32_t address, std::uint32_t length) {
    if (m_def.programBlocks.empty()) {
        return codes::kUnsupported;
    }
    if (m_def.securityLocked) {
        return codes::kSecurityLockout;
    }
    if (!m_ioLocked) {
        return codes::kProgramLockout;
    }
    if (address % 2) {
        return codes::kAddressNotEven;
    }
    if (length % 2) {
        return codes::kLengthNotEven;
    }
    int block = -1;
    for (size_t b = 0; b < m_def.programBlocks.size(); ++b) {
        const ProgramBlock& pb = m_def.programBlocks[b];
        if (address >= pb.address && address - pb.address < pb.length) {
            block = static_cast<int>(b);
        }
    }
    if (block < 0) {
        return codes::kInvalidAddress;
    }
    const ProgramBlock& pb = m_def.programBlocks[static_cast<size_t>(block)];
    const std::uint64_t end = std::uint64_t(address) + length;
    if (end > std::uint64_t(pb.address) + pb.length) {
        return codes::kLengthBeyondBlock;
    }
    QByteArray& memory = m_memory[static_cast<size_t>(block)];
    QBitArray& written = m_written[static_cast<size_t>(block)];
    if (memory.isEmpty()) {
        memory = QByteArray(static_cast<qsizetype>(pb.length), '\xFF');
        written = QBitArray(static_cast<qsizetype>(pb.length));
    }
    const qsizetype from = address - pb.address;
    std::fill(memory.begin() + from, memory.begin() + from + length, '\xFF');
    written.fill(false, from, from + static_cast<qsizetype>(length));
    m_program = {true, block, address, static_cast<std::uint32_t>(end)};
    // Erasing takes the control off line for a moment; the download waits for
    // "Control Status" to read "1" again before it writes.
    if (eraseTimeMs() > 0) {
        m_erasing = true;
        emit valueChanged(specialSlot(ControlStatus));
        m_eraseTimer.start(eraseTimeMs());
    }
    return codes::kSuccess;
}

int SimControl::writeMemory(std::uint32_t address, const QByteArray& bytes) {
    if (m_def.programBlocks.empty()) {
        return codes::kUnsupported;
    }
    if (m_def.securityLocked) {
        return codes::kSecurityLockout;
    }
    if (!m_ioLocked) {
        return codes::kProgramLockout;
    }
    if (!m_program.open || m_erasing) {
        return codes::kNotErased;
    }
    if (address % 2) {
        return codes::kAddressNotEven;
    }
    if (bytes.size() % 2) {
        return codes::kLengthNotEven;
    }
    if (address < m_program.start || address >= m_program.end) {
        return codes::kOutsideBlock;
    }
    if (std::uint64_t(address) + std::uint64_t(bytes.size()) > m_program.end) {
        return codes::kLengthBeyondBlock;
    }
    const ProgramBlock& pb = m_def.programBlocks[static_cast<size_t>(m_program.block)];
    QByteArray& memory = m_memory[static_cast<size_t>(m_program.block)];
    QBitArray& written = m_written[static_cast<size_t>(m_program.block)];
    const qsizetype from = address - pb.address;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (written.testBit(from + i)) {
            return codes::kNotErased; // flash is written once per erase
        }
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        memory[from + i] = bytes[i];
        written.setBit(from + i);
    }
    return codes::kSuccess;
}

int SimControl::endProgramming() {
    if (!m_program.open) {
        return codes::kNotProgramming;
    }
    const ProgramBlock& pb = m_def.programBlocks[static_cast<size_t>(m_program.block)];
    const QByteArray& memory = m_memory[static_cast<size_t>(m_program.block)];
    const qsizetype from = m_program.start - pb.address;
    const std::uint32_t crc = crc32(memory.constData() + from, m_program.end - m_program.start);
    m_program = {};
    setApplicationId(QStringLiteral("APP-%1").arg(crc, 8, 16, QLatin1Char('0')).toUpper());
    return codes::kSuccess;
}

void SimControl::setApplicationId(const QString& id) {
    if (id == m_applicationId) {
        return;
    }
    m_applicationId = id;
    qCInfo(lcServer).noquote() << "Control" << m_def.topic << "now runs application" << id;
    if (m_store) {
        // A downloaded application stays in the control over a restart, with
        // the values saved so far.
        ValueStore::ControlState state =
            m_store->loadControl(m_def.topic).value_or(ValueStore::ControlState{});
        state.applicationId = id;
        QHash<QString, QString> names;
        for (const ItemDefinition& item : m_def.items) {
            names.insert(item.name.toUpper(), item.name);
        }
        QString error;
        if (!m_store->saveControl(m_def.topic, state, names, &error)) {
            qCWarning(lcServer).noquote()
                << "Cannot store the application of" << m_def.topic << ":" << error;
        }
    }
    emit valueChanged(specialSlot(ApplicationId));
}

double SimControl::liveValue(int index, double dt, double now) {
    const ItemDefinition& item = m_def.items[static_cast<size_t>(index)];
    const LiveBehaviour& live = item.live;
    double& state = m_state[static_cast<size_t>(index)];
    const LiveLimits& limits = m_live[static_cast<size_t>(index)];
    const double lo = limits.lo;
    const double hi = limits.hi;
    const double base = limits.base;
    double v = state;
    switch (live.kind) {
    case LiveBehaviour::Kind::None:
    case LiveBehaviour::Kind::Cycle:
        return state;
    case LiveBehaviour::Kind::Noise:
        v = base;
        break;
    case LiveBehaviour::Kind::Sine:
        v = base + live.amplitude * std::sin(2 * std::numbers::pi * m_elapsed / live.period);
        break;
    case LiveBehaviour::Kind::Ramp: {
        double& dir = m_direction[static_cast<size_t>(index)];
        state += dir * live.rate * dt;
        if (state >= hi) {
            state = hi;
            dir = -1;
        } else if (state <= lo) {
            state = lo;
            dir = 1;
        }
        v = state;
        break;
    }
    case LiveBehaviour::Kind::Follow: {
        const int sp = limits.setPoint;
        if (sp < 0) {
            v = state; // a definition not checked by the parser: stand still
            break;
        }
        const double setPoint =
            values::toNumber(m_def.items[static_cast<size_t>(sp)].kind, m_values[size_t(sp)])
                .value_or(0);
        const double target = setPoint * live.gain + live.offset;
        state += (target - state) * (1 - std::exp(-dt / live.tau));
        v = state;
        break;
    }
    case LiveBehaviour::Kind::Counter:
        state += live.rate * dt;
        if (state > hi) {
            state = lo;
        }
        v = state;
        break;
    case LiveBehaviour::Kind::Clock:
        return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    case LiveBehaviour::Kind::Toggle:
        return std::fmod(std::floor(m_elapsed / live.period), 2.0);
    }
    if (live.noise > 0) {
        std::uniform_real_distribution<double> noise(-live.noise, live.noise);
        v += noise(m_random);
    }
    Q_UNUSED(now);
    return std::clamp(v, lo, hi);
}

void SimControl::advance(double dtSeconds, double nowSeconds) {
    if (!isOnLine() && m_resetting) {
        return; // a control that restarts reports nothing new
    }
    m_elapsed += dtSeconds;
    for (const int i : m_liveItems) {
        const ItemDefinition& item = m_def.items[static_cast<size_t>(i)];
        if (item.live.kind == LiveBehaviour::Kind::Cycle) {
            const auto n = static_cast<qsizetype>(item.live.texts.size());
            const auto k = static_cast<qsizetype>(std::floor(m_elapsed / item.live.period)) % n;
            setValue(i, item.live.texts[k]);
            continue;
        }
        setValue(i, values::fromNumber(item, liveValue(i, dtSeconds, nowSeconds)));
    }
}

} // namespace orvane::server
