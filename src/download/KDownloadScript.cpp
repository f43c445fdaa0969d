#include "download/KDownloadScript.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include <QDir>
#include <QFile>
#include <QIODevice>

#include "download/DownloadLog.h"
#include "platform/TextCodec.h"

namespace orvane {

namespace {

// A failure while reading: the detail for the error record and the
// exception text the reader raised internally (logged only).
struct ParseFailure {
    QString detail;
    const char* message;
};

// Value of each character as a hexadecimal digit, or -1.
constexpr std::array<std::int8_t, 256> makeHexTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table) {
        v = -1;
    }
    for (int c = '0'; c <= '9'; ++c) {
        table[c] = static_cast<std::int8_t>(c - '0');
    }
    for (int c = 'A'; c <= 'F'; ++c) {
        table[c] = static_cast<std::int8_t>(c - 'A' + 10);
        table[c - 'A' + 'a'] = static_cast<std::int8_t>(c - 'A' + 10);
    }
    return table;
}
constexpr std::array<std::int8_t, 256> kHexValue = makeHexTable();

constexpr std::array<bool, 256> makeLineEndTable() {
    std::array<bool, 256> table{};
    table['\n'] = true;
    table['\r'] = true;
    return table;
}
constexpr std::array<bool, 256> kLineEnd = makeLineEndTable();

int hexValue(char c) {
    return kHexValue[static_cast<unsigned char>(c)];
}

// Tokens are bytes of a Windows-1252 file; details quote them as Latin-1,
// which is the same for every character a valid token may hold.
QString quoted(std::string_view token) {
    return QLatin1Char('"') +
           QString::fromLatin1(token.data(), static_cast<qsizetype>(token.size())) +
           QLatin1Char('"');
}

bool equalsLower(std::string_view token, std::string_view lowerWord) {
    if (token.size() != lowerWord.size()) {
        return false;
    }
    for (std::size_t i = 0; i < token.size(); ++i) {
        char c = token[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != lowerWord[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

// Lines of the script from a device, read in large blocks so that a long file
// costs no call per line. A line ends at LF, CR LF or CR; the line end is not
// part of the line.
class ScriptLineReader {
public:
    static constexpr qint64 kBlockSize = 64 * 1024;

    enum class Result { Line, TooLong, End };

    explicit ScriptLineReader(QIODevice& device)
        : m_device(device), m_block(static_cast<std::size_t>(kBlockSize)) {}

    bool atEnd() {
        if (m_pos == m_end && !fill()) {
            return true;
        }
        if (m_pendingCr) {
            // The CR that ended the previous line may be the first half of CR LF.
            m_pendingCr = false;
            if (m_block[m_pos] == '\n') {
                ++m_pos;
                if (m_pos == m_end && !fill()) {
                    return true;
                }
            }
        }
        return false;
    }

    // Copies the next line into out (no terminator). A line longer than
    // maxLength is reported as TooLong without reading the rest of it.
    Result readLine(char* out, int maxLength, int& length) {
        length = 0;
        if (atEnd()) {
            return Result::End;
        }
        for (;;) {
            if (m_pos == m_end && !fill()) {
                return Result::Line; // the last line has no line end
            }
            const char* begin = m_block.data() + m_pos;
            const char* end = m_block.data() + m_end;
            const char* stop = begin;
            while (stop != end && !kLineEnd[static_cast<unsigned char>(*stop)]) {
                ++stop;
            }
            const auto n = static_cast<int>(stop - begin);
            if (n > maxLength - length) {
                return Result::TooLong;
            }
            std::memcpy(out + length, begin, static_cast<std::size_t>(n));
            length += n;
            m_pos += n;
            if (stop != end) {
                m_pendingCr = *stop == '\r';
                ++m_pos;
                return Result::Line;
            }
        }
    }

private:
    bool fill() {
        const qint64 n = m_device.read(m_block.data(), kBlockSize);
        if (n < 0) {
            throw ParseFailure{m_device.errorString(), "File read error"};
        }
        m_pos = 0;
        m_end = n;
        return n > 0;
    }

    QIODevice& m_device;
    std::vector<char> m_block;
    qint64 m_pos = 0;
    qint64 m_end = 0;
    bool m_pendingCr = false;
};

// ---------------------------------------------------------------------------
// Statements

void TKProductStatement::Parse() {
    m_productId = Script().TakeRestOfLine();
}

void TKBeginStatement::Parse() {
    m_address = Script().TakeHexField();
    m_length = Script().TakeHexField();
}

void TKWriteStatement::Parse() {
    TKDownloadScript& script = Script();
    m_address = script.TakeHexField();
    m_count = script.TakeCount();
    // Reserve no more than a bounded amount ahead: the count is only a claim
    // until its bytes have been read.
    m_data.reserve(static_cast<std::size_t>(std::min(m_count, TKDownloadScript::kMaxDataReserve)));
    for (std::int32_t i = 0; i < m_count; ++i) {
        m_data.push_back(script.TakeDataByte());
    }
}

void TKEndStatement::Parse() {}

// ---------------------------------------------------------------------------
// Script

namespace {

// The kind of statement a command word names, without regard to letter case.
int commandKind(std::string_view word) {
    switch (word.size()) {
    case 3:
        return equalsLower(word, "end") ? 4 : 0;
    case 5:
        if (equalsLower(word, "begin")) {
            return 2;
        }
        return equalsLower(word, "write") ? 3 : 0;
    case 7:
        return equalsLower(word, "product") ? 1 : 0;
    default:
        return 0;
    }
}

std::string_view firstWord(const char* text, int length) {
    const void* space = std::memchr(text, ' ', static_cast<std::size_t>(length));
    const auto n = space ? static_cast<const char*>(space) - text : length;
    return {text, static_cast<std::size_t>(n)};
}

} // namespace

TKDownloadScript::TKDownloadScript() {
    Reset();
}

TKDownloadScript::~TKDownloadScript() {
    FreeStatements();
}

void TKDownloadScript::Reset() {
    FreeStatements();
    m_error.reset();
    m_line[0] = '\0';
    m_length = 0;
    m_textEnd = 0;
    m_cursor = 0;
    m_inStatement = skNone;
    m_lastKind = skNone;
    m_lineState = lsStart;
    m_lineNumber = 0;
    m_detail = QStringLiteral("No Error");
}

void TKDownloadScript::FreeStatements() {
    m_position.reset();
    m_statements.FreeObjectsAndClear();
}

int TKDownloadScript::Count() const {
    return m_statements.Count();
}

std::int64_t TKDownloadScript::WriteBytes() const {
    std::int64_t bytes = 0;
    for (auto it = m_statements.First(); it->IsValid(); it->Next()) {
        if (const auto* write =
                dynamic_cast<const TKWriteStatement*>(it->CurrentAs<TKStatement>())) {
            bytes += write->Count();
        }
    }
    return bytes;
}

TKStatement* TKDownloadScript::Next() {
    if (!m_position) {
        m_position = m_statements.First();
    } else if (m_position->IsValid()) {
        m_position->Next();
    }
    return m_position->CurrentAs<TKStatement>();
}

void TKDownloadScript::Load(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        throw Exception(QStringLiteral("Cannot open file \"%1\". %2")
                            .arg(QDir::toNativeSeparators(fileName), file.errorString()));
    }
    Load(file, fileName);
}

void TKDownloadScript::Load(QIODevice& device, const QString& fileName) {
    Reset();
    ScriptLineReader reader(device);
    m_reader = &reader;
    // The reader lives on this stack frame only, whatever leaves it.
    struct ReaderScope {
        ScriptLineReader*& slot;
        ~ReaderScope() { slot = nullptr; }
    } scope{m_reader};
    try {
        if (reader.atEnd()) {
            Fail(QStringLiteral("Script file is empty."), "Script file is empty.");
        }
        while (!reader.atEnd()) {
            ReadStatement();
        }
    } catch (const ParseFailure& failure) {
        m_inStatement = skNone;
        m_detail = failure.detail;
        m_error = std::make_unique<TKDownloadScriptError>(m_lineNumber, fileName, m_detail);
        qCInfo(lcDownload).noquote() << "Script" << fileName << "line" << m_lineNumber << ":"
                                     << failure.message << "-" << m_detail;
        throw Exception(QStringLiteral("Error in Script file read."));
    }
    qCDebug(lcDownload).noquote() << "Script" << fileName << "read:" << Count() << "statements in"
                                  << m_lineNumber << "lines";
}

void TKDownloadScript::Fail(const QString& detail, const char* message) {
    throw ParseFailure{detail, message};
}

bool TKDownloadScript::ReadLine() {
    int length = 0;
    const auto result = m_reader->readLine(m_line, kMaxLineLength, length);
    if (result == ScriptLineReader::Result::End) {
        return false;
    }
    ++m_lineNumber;
    // A NUL has no place in a text file: the file is not a script.
    if (result == ScriptLineReader::Result::TooLong ||
        std::memchr(m_line, '\0', static_cast<std::size_t>(length)) != nullptr) {
        m_length = 0;
        m_line[0] = '\0';
        Fail(QStringLiteral("Script File is corrupt"), "File is corrupt");
    }
    m_line[length] = '\0';
    m_length = length;
    m_textEnd = length;
    while (m_textEnd > 0 && m_line[m_textEnd - 1] == ' ') {
        --m_textEnd;
    }
    m_cursor = 0;
    m_lineState = lsStart;
    return true;
}

void TKDownloadScript::ReadStatement() {
    // Find the next statement line; blank, comment and indented lines between
    // statements hold none. A file that ends in such lines is complete.
    for (;;) {
        if (!ReadLine()) {
            return;
        }
        if (m_textEnd == 0 || m_line[0] == '/') {
            continue;
        }
        if (m_line[0] == ' ') {
            int start = 0;
            while (m_line[start] == ' ') {
                ++start;
            }
            if (commandKind(firstWord(m_line + start, m_textEnd - start)) != skNone) {
                Fail(QStringLiteral("Statement does not start at the beginning of the line."),
                     "Error with command");
            }
            continue;
        }
        break;
    }

    const std::string_view command = firstWord(m_line, m_length);
    const auto kind = static_cast<StatementKind>(commandKind(command));
    if (command.size() < static_cast<std::size_t>(m_length)) {
        m_cursor = static_cast<int>(command.size()) + 1;
        m_lineState = lsCommandRead;
    } else {
        m_cursor = m_length;
        m_lineState = lsUsedUp;
    }

    std::unique_ptr<TKStatement> statement;
    switch (kind) {
    case skProduct:
        CheckOrder(kind);
        statement = std::make_unique<TKProductStatement>(*this);
        break;
    case skBegin:
        CheckOrder(kind);
        statement = std::make_unique<TKBeginStatement>(*this);
        break;
    case skWrite:
        CheckOrder(kind);
        statement = std::make_unique<TKWriteStatement>(*this);
        break;
    case skEnd:
        CheckOrder(kind);
        statement = std::make_unique<TKEndStatement>(*this);
        break;
    case skNone:
        Fail(QStringLiteral("Command is not a valid command."), "Error with command");
    }
    m_inStatement = kind;
    statement->Parse();
    CheckLineUsedUp();
    m_inStatement = skNone;
    m_statements.Append(statement.release());
    m_lastKind = kind;
}

void TKDownloadScript::CheckOrder(StatementKind kind) {
    switch (kind) {
    case skProduct:
        if (m_lastKind != skNone) {
            Fail(QStringLiteral("Product command is not the first command."),
                 "Product state is incorrect");
        }
        break;
    case skBegin:
        if (m_lastKind == skNone) {
            Fail(QStringLiteral("Begin command is before product command."),
                 "Begin state is incorrect");
        }
        if (m_lastKind == skEnd) {
            Fail(QStringLiteral("Begin command is after end"), "Begin state is incorrect");
        }
        break;
    case skWrite:
        if (m_lastKind == skNone) {
            Fail(QStringLiteral("Write command is before product command and begin command."),
                 "Write state is incorrect");
        }
        if (m_lastKind == skProduct) {
            Fail(QStringLiteral("Write command is before begin command."),
                 "Write state is incorrect");
        }
        if (m_lastKind == skEnd) {
            Fail(QStringLiteral("Write command is after end"), "Write state is incorrect");
        }
        break;
    case skEnd:
        if (m_lastKind == skEnd) {
            Fail(QStringLiteral("Duplicate end statements"), "End state is incorrect");
        }
        break;
    case skNone:
        break;
    }
}

void TKDownloadScript::CheckLineUsedUp() {
    // One statement per line: anything but trailing spaces after the last
    // parameter would otherwise be read as a further statement or ignored.
    if (m_lineState != lsUsedUp && m_cursor < m_textEnd) {
        Fail(QStringLiteral("Unexpected text after the last parameter: %1.")
                 .arg(quoted({m_line + m_cursor, static_cast<std::size_t>(m_textEnd - m_cursor)})),
             "Too many parameters in statement");
    }
    m_lineState = lsUsedUp;
}

std::string_view TKDownloadScript::TakeParameter(WritePart part) {
    if (m_lineState == lsUsedUp || m_cursor >= m_textEnd) {
        if (m_inStatement != skWrite) {
            Fail(QStringLiteral("Parameter missing from line."),
                 "Not enough parameters in statement");
        }
        // The parameters of a write run on over the following lines; lines
        // that begin with a space or "/" among them are skipped. An empty
        // line, the end of the file or the next command means they ran out.
        const auto ranOut = [&] {
            if (part == WritePart::Bytes) {
                Fail(QStringLiteral("Write command has fewer data bytes than its count."),
                     "Not enough parameters in statement");
            }
            Fail(QStringLiteral("Parameter missing from line."),
                 "Not enough parameters in statement");
        };
        for (;;) {
            if (!ReadLine() || m_length == 0) {
                ranOut();
            }
            if (m_line[0] != ' ' && m_line[0] != '/') {
                break;
            }
        }
        if (commandKind(firstWord(m_line, m_textEnd)) != skNone) {
            ranOut();
        }
    }
    // Tokens are short: a plain loop beats a library search here.
    const char* start = m_line + m_cursor;
    const char* end = m_line + m_textEnd;
    const char* stop = start;
    while (stop != end && *stop != ' ') {
        ++stop;
    }
    if (stop != end) {
        m_cursor = static_cast<int>(stop - m_line) + 1;
        m_lineState = lsMoreText;
        return {start, static_cast<std::size_t>(stop - start)};
    }
    m_cursor = m_textEnd;
    m_lineState = lsUsedUp;
    return {start, static_cast<std::size_t>(end - start)};
}

QString TKDownloadScript::TakeRestOfLine() {
    if (m_lineState == lsUsedUp) {
        Fail(QStringLiteral("Parameter missing from line."), "Not enough parameters in statement");
    }
    const char* start = m_line + m_cursor;
    const auto size = static_cast<qsizetype>(m_length - m_cursor);
    m_cursor = m_length;
    m_lineState = lsUsedUp;
    return fromWindows1252(start, size);
}

std::uint32_t TKDownloadScript::TakeHexField() {
    const std::string_view token = TakeParameter();
    if (token.size() != 8) {
        Fail(QStringLiteral("Length of address incorrect"), "Length of address incorrect");
    }
    std::uint32_t value = 0;
    for (char c : token) {
        const int digit = hexValue(c);
        if (digit < 0) {
            Fail(QStringLiteral("%1 holds a character that is not a hexadecimal digit.")
                     .arg(quoted(token)),
                 "Invalid hexadecimal digit");
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::int32_t TKDownloadScript::TakeCount() {
    const std::string_view token = TakeParameter();
    // A decimal integer with an optional sign, as the system's integer
    // conversion reads it; anything else fails with that conversion's text.
    const auto notANumber = [&] {
        Fail(QStringLiteral("'%1' is not a valid integer value")
                 .arg(QString::fromLatin1(token.data(), static_cast<qsizetype>(token.size()))),
             "Invalid integer");
    };
    std::size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        negative = token[i] == '-';
        ++i;
    }
    if (i == token.size()) {
        notANumber();
    }
    std::int64_t value = 0;
    for (; i < token.size(); ++i) {
        const char c = token[i];
        if (c < '0' || c > '9') {
            notANumber();
        }
        value = value * 10 + (c - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) {
            notANumber();
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        notANumber();
    }
    if (value < 0) {
        Fail(QStringLiteral("Count of write command is negative."), "Invalid count");
    }
    return static_cast<std::int32_t>(value);
}

std::uint8_t TKDownloadScript::TakeDataByte() {
    const std::string_view token = TakeParameter(WritePart::Bytes);
    if (token.size() == 2) {
        const int high = hexValue(token[0]);
        const int low = hexValue(token[1]);
        if (high >= 0 && low >= 0) {
            return static_cast<std::uint8_t>((high << 4) | low);
        }
    }
    Fail(QStringLiteral("Data byte %1 is not two hexadecimal digits.").arg(quoted(token)),
         "Invalid data byte");
}

} // namespace orvane
