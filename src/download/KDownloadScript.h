#pragma once

// Reader of application script files (*.scp): the image of an application to
// be written into a control's program memory, one statement per line.
//
//     // comment
//     product <identifier, the rest of the line, spaces included>
//     begin <address: 8 hex digits> <length: 8 hex digits>
//     write <address: 8 hex digits> <count: decimal> <byte> <byte> ...
//     <byte> <byte> ...        (the bytes of a write may run on over lines)
//     end
//
// docs/script-format.md describes the format in full. The rules that guard the
// control's program memory against a malformed file:
// - Hexadecimal digits are 0-9, A-F and a-f (letter case does not matter, as
//   for the command words). Any other character is refused, never converted.
// - A data byte is exactly two hexadecimal digits; an empty, short or long
//   token is refused.
// - One statement per line: text after a statement's last parameter is
//   refused, except spaces at the end of the line (a product identifier keeps
//   them, being the whole rest of its line). A parameter is always a
//   parameter: a token that spells a command word is validated like any other
//   and so refused where a number is expected.
// - The count of a write is a decimal number from 0 to 2147483647; when the
//   bytes run out first (an empty line, the next command or the end of the
//   file) the load fails.
// - A line that begins with a space is skipped, except that at the place of a
//   statement one whose first word is a command word is refused as an
//   indented statement (it would otherwise be dropped without notice).
//
// Not thread-safe; a script belongs to the thread that loads it. Memory grows
// only with the bytes actually present in the file, never with a count.

#include "platform/Exception.h"
#include "platform/KContainer.h"
#include "platform/Object.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include <QString>

class QIODevice;

namespace orvane {

class TKDownloadScript;
class ScriptLineReader;

// One statement of a script. Plain object, created and owned by its script and
// freed with it.
class TKStatement : public TObject {
public:
    explicit TKStatement(TKDownloadScript& script) : m_script(&script) {}
    ~TKStatement() override = default;
    TKStatement(const TKStatement&) = delete;
    TKStatement& operator=(const TKStatement&) = delete;

    // Reads the statement's parameters from the script's current line (and,
    // for a write, the lines its bytes run on to). Throws the script's private
    // parse failure; only TKDownloadScript calls it.
    virtual void Parse() = 0;

protected:
    TKDownloadScript& Script() const { return *m_script; }

private:
    TKDownloadScript* m_script; // the owning script
};

// "product <identifier>": the product the image is for.
class TKProductStatement : public TKStatement {
public:
    using TKStatement::TKStatement;
    void Parse() override;

    // The whole rest of the line after "product ", untrimmed, decoded from
    // Windows-1252.
    const QString& ProductID() const { return m_productId; }

private:
    QString m_productId;
};

// "begin <address> <length>": opens a block of program memory.
class TKBeginStatement : public TKStatement {
public:
    using TKStatement::TKStatement;
    void Parse() override;

    std::uint32_t Address() const { return m_address; }
    std::uint32_t Length() const { return m_length; }

private:
    std::uint32_t m_address = 0;
    std::uint32_t m_length = 0;
};

// "write <address> <count> <bytes...>": bytes to write at an address.
class TKWriteStatement : public TKStatement {
public:
    using TKStatement::TKStatement;
    void Parse() override;

    std::uint32_t Address() const { return m_address; }
    // Number of data bytes, 0 or more; always Data().size().
    std::int32_t Count() const { return m_count; }
    const std::vector<std::uint8_t>& Data() const { return m_data; }

private:
    std::uint32_t m_address = 0;
    std::int32_t m_count = 0;
    std::vector<std::uint8_t> m_data;
};

// "end": ends programming mode.
class TKEndStatement : public TKStatement {
public:
    using TKStatement::TKStatement;
    void Parse() override;
};

// Where and why a load failed: the file, the number of the last line read
// (0 when the file was empty) and the detail text.
class TKDownloadScriptError {
public:
    TKDownloadScriptError(std::int32_t lineNumber, QString fileName, QString message)
        : LineNumber(lineNumber), FileName(std::move(fileName)), Message(std::move(message)) {}

    std::int32_t LineNumber;
    QString FileName;
    QString Message;
};

// An application script read into its statements, in file order.
// Use once: create, Load, then walk the statements with Next. The script owns
// its statements and error record and frees them when destroyed.
class TKDownloadScript {
public:
    static constexpr int kMaxLineLength = 500;             // characters, line end not counted
    static constexpr int kLineBufferSize = 504;            // the line plus its terminator
    static constexpr std::int32_t kMaxDataReserve = 65536; // bytes reserved ahead of a write

    TKDownloadScript();
    ~TKDownloadScript();
    TKDownloadScript(const TKDownloadScript&) = delete;
    TKDownloadScript& operator=(const TKDownloadScript&) = delete;

    // Reads and checks the whole file. On a parse failure fills Error() and
    // throws Exception("Error in Script file read."); the statements read
    // before the failing one stay in the list. A file that cannot be opened
    // throws Exception with the system's reason and sets no error record.
    // Loading again starts afresh.
    void Load(const QString& fileName);

    // The same reading from an open device (a file, a buffer); fileName only
    // names the source in the error record.
    void Load(QIODevice& device, const QString& fileName);

    // The error record of a failed load, or null.
    const TKDownloadScriptError* Error() const { return m_error.get(); }

    // Number of statements read.
    int Count() const;
    // Sum of the byte counts of every write statement read.
    std::int64_t WriteBytes() const;

    // The statements one after the other in file order, then null on every
    // further call. The script keeps ownership.
    TKStatement* Next();

private:
    friend class TKProductStatement;
    friend class TKBeginStatement;
    friend class TKWriteStatement;
    friend class TKEndStatement;

    enum StatementKind : std::uint8_t { skNone = 0, skProduct, skBegin, skWrite, skEnd };
    enum LineState : std::uint8_t { lsStart = 0, lsCommandRead, lsMoreText, lsUsedUp };
    // What a write is reading when its line runs out, for the detail text.
    enum class WritePart { Header, Bytes };

    void Reset();
    void FreeStatements();
    void ReadStatement();
    bool ReadLine();
    void CheckOrder(StatementKind kind);
    void CheckLineUsedUp();

    // Parameter readers used by the statements.
    std::string_view TakeParameter(WritePart part = WritePart::Header);
    QString TakeRestOfLine();
    std::uint32_t TakeHexField();
    std::int32_t TakeCount();
    std::uint8_t TakeDataByte();

    [[noreturn]] void Fail(const QString& detail, const char* message);

    ScriptLineReader* m_reader = nullptr; // borrowed during Load only
    char m_line[kLineBufferSize];         // the current line, zero-terminated
    int m_length = 0;                     // characters in m_line
    int m_textEnd = 0;                    // m_length without trailing spaces
    int m_cursor = 0;                     // where the next parameter starts
    StatementKind m_inStatement = skNone; // the statement reading its parameters
    StatementKind m_lastKind = skNone;
    LineState m_lineState = lsStart;
    TKListOfObject m_statements; // owning: TKStatement objects in file order
    std::int32_t m_lineNumber = 0;
    QString m_detail;
    std::unique_ptr<TKDownloadScriptError> m_error;
    std::unique_ptr<TKListIteratorObj> m_position; // created by the first Next
};

} // namespace orvane
