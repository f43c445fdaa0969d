#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace orvane;

namespace {

// Points the registry at a fresh folder for one test and restores the
// environment afterwards.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_saved = qgetenv("ORVANE_REGISTRY_DIR");
        qputenv("ORVANE_REGISTRY_DIR", m_dir.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("ORVANE_REGISTRY_DIR", m_saved); }

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QByteArray fileText(HKEY root) const {
        QFile f(registryFileOf(root));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeFile(HKEY root, const QByteArray& text) const {
        QFile f(registryFileOf(root));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    QTemporaryDir m_dir;
    QByteArray m_saved;
};

} // namespace

TEST_F(RegistryTest, FolderComesFromTheEnvironment) {
    EXPECT_EQ(registryFolder(), m_dir.path());
    TRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("Software\\Kestova\\Orvane"), true));
    reg.WriteInteger(QStringLiteral("Left"), 10);
    EXPECT_TRUE(QFile::exists(path("HKEY_LOCAL_MACHINE.reg")));
    EXPECT_FALSE(QFile::exists(path("HKEY_CURRENT_USER.reg"))) << "roots are kept apart";

    // Without the program's own variable the XDG folder is used.
    const QByteArray savedXdg = qgetenv("XDG_CONFIG_HOME");
    qunsetenv("ORVANE_REGISTRY_DIR");
    qputenv("XDG_CONFIG_HOME", path("xdg").toLocal8Bit());
    EXPECT_EQ(registryFolder(), path("xdg") + QStringLiteral("/kestova"));
    TRegistry elsewhere(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(elsewhere.KeyExists(QStringLiteral("Software\\Kestova\\Orvane")));
    qputenv("XDG_CONFIG_HOME", savedXdg);
    if (savedXdg.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
    }
}

TEST_F(RegistryTest, KeysOpenCreateAndEnumerateWithoutRegardToCase) {
    TRegistry reg(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(reg.OpenKey(QStringLiteral("SOFTWARE\\Kestova"), false));
    EXPECT_FALSE(reg.OpenKeyReadOnly(QStringLiteral("SOFTWARE")));
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("SOFTWARE\\Kestova\\DDE Servers\\UPCIDuxlane"), true));
    reg.CloseKey();
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\software\\KESTOVA\\Orvane"), true));
    reg.CreateKey(QStringLiteral("Inner\\Deep")); // relative to the open key
    EXPECT_TRUE(fileText(HKEY_LOCAL_MACHINE).contains("[SOFTWARE\\Kestova\\Orvane\\Inner\\Deep]"))
        << "a new key takes the spelling of its existing parents";
    EXPECT_TRUE(reg.KeyExists(QStringLiteral("\\SOFTWARE\\Kestova\\Orvane\\inner\\deep")));

    reg.CloseKey();
    EXPECT_EQ(reg.GetKeyNames(), QStringList{QStringLiteral("SOFTWARE")});
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("Software")));
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("kestova"))); // relative
    EXPECT_EQ(reg.GetKeyNames(),
              (QStringList{QStringLiteral("DDE Servers"), QStringLiteral("Orvane")}));
    EXPECT_TRUE(reg.HasSubKeys());
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("DDE Servers\\UPCIDuxlane")));
    EXPECT_FALSE(reg.HasSubKeys());

    TRegistry other(HKEY_LOCAL_MACHINE);
    EXPECT_TRUE(other.DeleteKey(QStringLiteral("SOFTWARE\\Kestova\\Orvane")));
    EXPECT_FALSE(other.KeyExists(QStringLiteral("SOFTWARE\\Kestova\\Orvane\\Inner")));
    EXPECT_TRUE(other.KeyExists(QStringLiteral("SOFTWARE\\Kestova\\DDE Servers")));
    EXPECT_FALSE(other.DeleteKey(QStringLiteral("SOFTWARE\\Kestova\\Orvane")));
}

TEST_F(RegistryTest, ValuesReadBackWithTheirTypes) {
    TRegistry writer(HKEY_CURRENT_USER);
    ASSERT_TRUE(writer.OpenKey(QStringLiteral("Software\\Kestova\\Orvane"), true));
    writer.WriteInteger(QStringLiteral("Decimal Places"), 2);
    writer.WriteInteger(QStringLiteral("Left"), -8);
    writer.WriteInteger(QStringLiteral("Big"), INT32_MIN);
    writer.WriteString(QString(), QStringLiteral("C:\\Program Files\\\"x\"\nline 2"));
    writer.WriteString(QStringLiteral("Name"), QStringLiteral("first"));
    writer.WriteString(QStringLiteral("NAME"), QStringLiteral("second"));

    // A second object reads what the first wrote.
    TRegistry reader(HKEY_CURRENT_USER);
    ASSERT_TRUE(reader.OpenKeyReadOnly(QStringLiteral("SOFTWARE\\KESTOVA\\ORVANE")));
    EXPECT_EQ(reader.ReadInteger(QStringLiteral("decimal places")), 2);
    EXPECT_EQ(reader.ReadInteger(QStringLiteral("Left")), -8);
    EXPECT_EQ(reader.ReadInteger(QStringLiteral("Big")), INT32_MIN);
    EXPECT_EQ(reader.ReadString(QString()), QStringLiteral("C:\\Program Files\\\"x\"\nline 2"));
    EXPECT_EQ(reader.ReadString(QStringLiteral("name")), QStringLiteral("second"));
    EXPECT_EQ(reader.GetValueNames(),
              (QStringList{QStringLiteral("Decimal Places"), QStringLiteral("Left"),
                           QStringLiteral("Big"), QString(), QStringLiteral("Name")}));
    EXPECT_TRUE(reader.ValueExists(QString()));
    EXPECT_EQ(reader.GetDataType(QStringLiteral("Left")), rdInteger);
    EXPECT_EQ(reader.GetDataType(QStringLiteral("Name")), rdString);

    EXPECT_TRUE(writer.DeleteValue(QStringLiteral("left")));
    EXPECT_FALSE(reader.ValueExists(QStringLiteral("Left")));
    EXPECT_FALSE(writer.DeleteValue(QStringLiteral("left")));

    EXPECT_THROW(reader.WriteInteger(QStringLiteral("Top"), 1), ERegistryException)
        << "a key opened read-only refuses writes";
}

TEST_F(RegistryTest, MissingAndNonIntegerValuesAreReportedSoCallersUseDefaults) {
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("Software\\Kestova\\Orvane"), true));
    reg.WriteString(QStringLiteral("Width"), QStringLiteral("790"));
    EXPECT_EQ(reg.TryReadInteger(QStringLiteral("Left")), std::nullopt);
    EXPECT_EQ(reg.TryReadInteger(QStringLiteral("Width")), std::nullopt);
    EXPECT_EQ(reg.ReadString(QStringLiteral("Missing")), QString());
    try {
        reg.ReadInteger(QStringLiteral("Left"));
        ADD_FAILURE() << "no error for a missing value";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Failed to get data for 'Left'"));
    }
    try {
        reg.ReadInteger(QStringLiteral("Width"));
        ADD_FAILURE() << "no error for a string value";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Invalid data type for 'Width'"));
    }
    reg.WriteInteger(QStringLiteral("Width"), 790);
    EXPECT_EQ(reg.TryReadInteger(QStringLiteral("Width")), 790);
    EXPECT_THROW(reg.ReadString(QStringLiteral("Width")), ERegistryException);
}

TEST_F(RegistryTest, HandEditedFileKeepsWhatItDoesNotUnderstand) {
    writeFile(HKEY_CURRENT_USER, "; my notes\r\n"
                                 "[Software\\Kestova\\Orvane]\r\n"
                                 "\"Left\"=dword:zz\r\n"
                                 "\"Top\"=dword:123456789\r\n"
                                 "\"Width\"=dword:316\r\n"
                                 "garbage without equals\r\n"
                                 "\"Unclosed=\"x\r\n"
                                 "[broken header\r\n");
    TRegistry reg(HKEY_CURRENT_USER);
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("Software\\Kestova\\Orvane"), false));
    EXPECT_EQ(reg.TryReadInteger(QStringLiteral("Left")), std::nullopt);
    EXPECT_EQ(reg.TryReadInteger(QStringLiteral("Top")), std::nullopt) << "more than 32 bits";
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Width")), 0x316);
    EXPECT_EQ(reg.GetDataType(QStringLiteral("Left")), rdUnknown);

    reg.WriteInteger(QStringLiteral("Top"), 5);
    const QByteArray text = fileText(HKEY_CURRENT_USER);
    EXPECT_TRUE(text.startsWith("; my notes\n"));
    for (const char* kept : {"\"Left\"=dword:zz", "garbage without equals", "\"Unclosed=\"x",
                             "[broken header", "\"Top\"=dword:00000005"}) {
        EXPECT_TRUE(text.contains(kept)) << kept << " missing from\n" << text.constData();
    }
    EXPECT_EQ(reg.ReadInteger(QStringLiteral("Top")), 5);
}

TEST_F(RegistryTest, WritesLeaveNoTemporaryOrHalfWrittenFile) {
    TRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("Software\\Kestova\\Orvane"), true));
    for (int i = 0; i < 20; ++i) {
        reg.WriteInteger(QStringLiteral("Left"), i);
    }
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("HKEY_LOCAL_MACHINE.reg")});

    // A folder that cannot be made: the write fails with the system's text
    // and nothing is left behind.
    const QByteArray before = fileText(HKEY_LOCAL_MACHINE);
    QFile blocker(path("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("ORVANE_REGISTRY_DIR", path("blocker/sub").toLocal8Bit());
    try {
        reg.WriteInteger(QStringLiteral("Top"), 1);
        ADD_FAILURE() << "no error for an unwritable folder";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Failed to set data for 'Top'"));
    }
    EXPECT_FALSE(TRegistry(HKEY_LOCAL_MACHINE).OpenKey(QStringLiteral("X"), true));
    qputenv("ORVANE_REGISTRY_DIR", m_dir.path().toLocal8Bit());
    EXPECT_EQ(fileText(HKEY_LOCAL_MACHINE), before);
}

TEST_F(RegistryTest, RegisterToolRecordsTheServerPath) {
    const QString tool = QStringLiteral(ORVANE_BINARY_DIR "/Orvane/orvane-register");
    if (!QFile::exists(tool)) {
        GTEST_SKIP() << "orvane-register not built";
    }
    QProcess process;
    process.start(tool, {QStringLiteral("/opt/Duxlane Server/duxlane-server")});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();

    TRegistry reg(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("SOFTWARE\\Kestova\\DDE Servers")));
    EXPECT_EQ(reg.GetKeyNames(), QStringList{QStringLiteral("UPCIDuxlane")});
    ASSERT_TRUE(reg.OpenKeyReadOnly(QStringLiteral("UPCIDuxlane")));
    EXPECT_EQ(reg.ReadString(QString()), QStringLiteral("/opt/Duxlane Server/duxlane-server"));

    process.start(tool, QStringList{});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 2);
}
