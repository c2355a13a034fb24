#include "Bytes.h"
#include "ScopedEnv.h"
#include "vcl/IniFiles.h"
#include "vcl/Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

using tavtest::ReadFile;

class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "tavlin-ini-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string& name) const { return (fs::path(path_) / name).string(); }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

void Spit(const std::string& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
}

} // namespace

TEST(IniFile, ReadsWithProfileRules) {
    TempDir dir;
    std::string f = dir.File("langs.dat");
    Spit(f, "; translators: keep the keys\r\n"
            "[English]\r\n"
            "  Greeting =  Hello world  \r\n"
            "Quoted=\" spaced \"\r\n"
            "greeting=second copy\r\n"
            "Number=$1F\r\n"
            "Bad=12x\r\n"
            "a line without equals\r\n"
            "[Русский]\r\n"
            "Greeting=Привет\r\n"
            "[english]\r\n"
            "Greeting=never seen\r\n");
    TIniFile ini(f);
    EXPECT_EQ(ini.ReadString(u"ENGLISH", u"GREETING", u"x"), u"Hello world"); // first match, trimmed
    EXPECT_EQ(ini.ReadString(u"English", u"Quoted", u""), u" spaced ");
    EXPECT_EQ(ini.ReadString(u"English", u"Missing", u"def"), u"def");
    EXPECT_EQ(ini.ReadString(u"Nowhere", u"Greeting", u"def"), u"def");
    EXPECT_EQ(ini.ReadString(u"русский", u"greeting", u""), u"Привет");
    EXPECT_EQ(ini.ReadInteger(u"English", u"Number", 0), 31);
    EXPECT_EQ(ini.ReadInteger(u"English", u"Bad", 7), 7);
    EXPECT_TRUE(ini.ReadBool(u"English", u"Number", false));
    EXPECT_TRUE(ini.ValueExists(u"english", u"quoted"));
    EXPECT_FALSE(ini.ValueExists(u"english", u"a line without equals"));
    EXPECT_TRUE(ini.SectionExists(u"RUSSKIY") == false && ini.SectionExists(u"РУССКИЙ"));

    auto sections = ini.ReadSections();
    ASSERT_EQ(sections.size(), 2u); // the duplicate section is listed once, in file order
    EXPECT_EQ(sections[0], u"English");
    EXPECT_EQ(sections[1], u"Русский");
    auto keys = ini.ReadSection(u"English");
    std::vector<std::u16string> expected{u"Greeting", u"Quoted", u"Number", u"Bad"};
    EXPECT_EQ(keys, expected);

    // Missing file: defaults, nothing created by reading.
    TIniFile none(dir.File("none.ini"));
    EXPECT_EQ(none.ReadString(u"A", u"B", u"d"), u"d");
    EXPECT_TRUE(none.ReadSections().empty());
    EXPECT_FALSE(fs::exists(dir.File("none.ini")));
}

TEST(IniFile, WritesInPlaceAppendsAndKeepsEverythingElse) {
    TempDir dir;
    std::string f = dir.File("langs.dat");
    Spit(f, "\xEF\xBB\xBF; comment kept\r\n"
            "[One]\r\n"
            "A=1\r\n"
            "junk line\r\n"
            "b=2\r\n"
            "\r\n"
            "; about Two\r\n"
            "[Two]\r\n"
            "C=3\r\n");
    TIniFile ini(f);
    ini.WriteString(u"ONE", u"B", u"two"); // in place, keeping the file's spelling of the key
    ini.WriteString(u"One", u"New", u"n"); // appended after the section's last entry
    ini.WriteInteger(u"Three", u"D", -4);  // new section at the end
    ini.WriteBool(u"Two", u"Flag", true);
    EXPECT_EQ(ReadFile(f), "\xEF\xBB\xBF; comment kept\r\n"
                           "[One]\r\n"
                           "A=1\r\n"
                           "junk line\r\n"
                           "b=two\r\n"
                           "New=n\r\n"
                           "\r\n"
                           "; about Two\r\n"
                           "[Two]\r\n"
                           "C=3\r\n"
                           "Flag=1\r\n"
                           "[Three]\r\n"
                           "D=-4\r\n");
    EXPECT_EQ(ini.ReadInteger(u"three", u"d", 0), -4);

    ini.DeleteKey(u"one", u"a");
    ini.EraseSection(u"TWO");
    EXPECT_EQ(ReadFile(f), "\xEF\xBB\xBF; comment kept\r\n"
                           "[One]\r\n"
                           "junk line\r\n"
                           "b=two\r\n"
                           "New=n\r\n"
                           "\r\n"
                           "; about Two\r\n"
                           "[Three]\r\n"
                           "D=-4\r\n");

    // Keys or values that would split the line are refused, the file untouched.
    std::string before = ReadFile(f);
    EXPECT_THROW(ini.WriteString(u"One", u"x\nInjected", u"1"), EIniFileException);
    EXPECT_THROW(ini.WriteString(u"One", u"k", u"v\r\n[Evil]"), EIniFileException);
    EXPECT_THROW(ini.WriteString(u"One", u"k=v", u"1"), EIniFileException);
    EXPECT_THROW(ini.WriteString(u"Bad]", u"k", u"1"), EIniFileException);
    EXPECT_EQ(ReadFile(f), before);
}

TEST(IniFile, CreatedOnFirstWriteAndFailuresRaise) {
    TempDir dir;
    std::string f = dir.File("new.ini");
    TIniFile ini(f);
    ini.WriteString(u"English", u"STR_X", u"Ünïcode text");
    EXPECT_EQ(ReadFile(f), "[English]\nSTR_X=Ünïcode text\n");
    // No temporary files are left behind.
    int count = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(dir.Path()))
        ++count;
    EXPECT_EQ(count, 1);

    // A folder that cannot exist (its parent is a file): the write raises with the path.
    Spit(dir.File("plain"), "x");
    TIniFile bad(dir.File("plain/sub.ini"));
    try {
        bad.WriteString(u"A", u"B", u"C");
        FAIL() << "write into a non-folder succeeded";
    } catch (const EIniFileException& e) {
        EXPECT_NE(std::string(e.what()).find("plain/sub.ini"), std::string::npos) << e.what();
    }
    EXPECT_EQ(bad.ReadString(u"A", u"B", u"d"), u"d");
}

namespace {

class RegistryDir : public TempDir {
public:
    RegistryDir() : env_("TAVLIN_REGISTRY_DIR", File("registry")) {}

private:
    tavtest::ScopedEnv env_;
};

} // namespace

TEST(Registry, KeysOpenOnlyWhenPresentAndWritesCreateThem) {
    RegistryDir dir;
    EXPECT_EQ(RegistryHiveFile(HKEY_CURRENT_USER), dir.File("registry") + "/HKEY_CURRENT_USER.ini");

    TRegistry reg;
    EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
    EXPECT_FALSE(reg.OpenKey(u"SOFTWARE\\Maker\\Settings", false));
    EXPECT_FALSE(reg.KeyExists(u"SOFTWARE"));
    EXPECT_FALSE(fs::exists(dir.File("registry"))); // reading creates nothing
    EXPECT_THROW(reg.ReadString(u"Path"), ERegistryException);

    ASSERT_TRUE(reg.OpenKey(u"\\SOFTWARE\\Maker\\Settings\\", true));
    EXPECT_EQ(reg.CurrentPath(), u"SOFTWARE\\Maker\\Settings");
    reg.WriteString(u"Password", u"  secret \"quoted\" ");
    reg.WriteString(u"Path", u"/data/station.fdb");
    reg.WriteInteger(u"Count", 42);
    reg.CloseKey();

    TRegistry again(HKEY_CURRENT_USER);
    EXPECT_TRUE(again.KeyExists(u"software\\maker")); // a parent of an existing key exists
    ASSERT_TRUE(again.OpenKeyReadOnly(u"software\\MAKER\\settings"));
    EXPECT_EQ(again.ReadString(u"password"), u"  secret \"quoted\" ");
    EXPECT_EQ(again.ReadString(u"PATH"), u"/data/station.fdb");
    EXPECT_EQ(again.ReadString(u"Absent"), u"");
    EXPECT_FALSE(again.ValueExists(u"Absent"));
    EXPECT_TRUE(again.ValueExists(u"Count"));
    EXPECT_EQ(again.ReadInteger(u"Count"), 42);
    EXPECT_THROW(again.ReadInteger(u"Path"), ERegistryException);
    EXPECT_THROW(again.ReadInteger(u"Absent"), ERegistryException);
    EXPECT_THROW(again.WriteString(u"Path", u"x"), ERegistryException); // read-only

    // Relative paths go below the open key; the hives are separate.
    ASSERT_TRUE(again.OpenKey(u"Sub", true));
    EXPECT_TRUE(IniSameText(again.CurrentPath(), u"SOFTWARE\\Maker\\Settings\\Sub"));
    TRegistry machine(HKEY_LOCAL_MACHINE);
    EXPECT_FALSE(machine.KeyExists(u"SOFTWARE\\Maker\\Settings"));

    EXPECT_TRUE(again.DeleteKey(u"\\SOFTWARE\\Maker"));
    EXPECT_FALSE(again.KeyExists(u"\\SOFTWARE\\Maker\\Settings\\Sub"));
    EXPECT_FALSE(again.DeleteKey(u"\\SOFTWARE\\Maker"));
}

TEST(Registry, UnwritableStoreRaisesAClearMessage) {
    RegistryDir dir;
    Spit(dir.File("registry"), "not a folder");
    TRegistry reg;
    try {
        reg.OpenKey(u"SOFTWARE\\Maker\\Settings", true);
        FAIL() << "creating a key in an unusable store succeeded";
    } catch (const ERegistryException& e) {
        std::string msg = e.what();
        EXPECT_NE(msg.find("HKEY_CURRENT_USER.ini"), std::string::npos) << msg;
    }
    EXPECT_FALSE(reg.OpenKey(u"SOFTWARE\\Maker\\Settings", false));
}
