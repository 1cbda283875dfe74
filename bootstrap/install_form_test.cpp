#include "bootstrap/install_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

#include "bootstrap/scripted_host.h"
#include "bootstrap/test_zip.h"
#include "host/exceptions.h"
#include "host/host.h"

namespace zipkit {
namespace {

using testing::TestZip;
using testing::TScriptedHost;
using testing::TTestEntry;

TEST(InstallNames, FileNamePartAndResellerTag) {
  struct Case {
    const char* path;
    const char* file;
    const char* tag;
  };
  const Case cases[] = {
      {"C:\\dist\\Setup-ABC.exe", "Setup-ABC.exe", "ABC"},
      {"C:\\dist\\Setup-ABC.new.exe", "Setup-ABC.new.exe", "ABC"},
      {"C:\\Setup.new-ABC.exe", "Setup.new-ABC.exe", ""},  // the first "." precedes the "-"
      {"C:Setup-.exe", "Setup-.exe", ""},
      {"\\\\server\\share\\Setup.exe", "Setup.exe", ""},
      {"A-B-C.exe", "A-B-C.exe", "B-C"},
      {"D:\\x.y\\-Z.exe", "-Z.exe", "Z"},
      {"C:\\dist\\Setup-ABC", "Setup-ABC", ""},  // no "." at all
      {"C:\\dist\\", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileNamePart(c.path), c.file);
    EXPECT_EQ(ResellerTagOf(c.file), c.tag);
  }
}

TEST(InstallNames, SystemRootKeyByPlatform) {
  EXPECT_EQ(SystemRootKeyFor(1), "\\Software\\Microsoft\\Windows\\CurrentVersion");
  EXPECT_EQ(SystemRootKeyFor(2), "\\Software\\Microsoft\\Windows NT\\CurrentVersion");
  EXPECT_EQ(SystemRootKeyFor(0), "");
  EXPECT_EQ(SystemRootKeyFor(3), "");
}

TEST(InstallNames, RegistryStringByType) {
  struct Case {
    TRegistryValue value;
    const char* text;  // nullptr: raises
  };
  const Case cases[] = {
      {{false, rvNone, ""}, ""},
      {{true, rvString, std::string("C:\\WINDOWS\0", 11)}, "C:\\WINDOWS"},
      {{true, rvString, std::string("C:\\A\0junk\0", 10)}, "C:\\A"},
      {{true, rvString, "C:\\NOTERM"}, "C:\\NOTERM"},
      {{true, rvExpandString, std::string("%SystemDrive%\\W\0", 16)}, "%SystemDrive%\\W"},
      {{true, rvString, ""}, ""},
      {{true, rvDWord, ""}, ""},  // size 0: empty before the type matters
      {{true, rvDWord, std::string("\x05\0\0\0", 4)}, nullptr},
      {{true, rvBinary, "C:\\W"}, nullptr},
      {{true, rvMultiString, std::string("C:\\W\0\0", 6)}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.DataType);
    if (c.text) {
      EXPECT_EQ(RegistryString(c.value, "SystemRoot"), c.text);
    } else {
      try {
        RegistryString(c.value, "SystemRoot");
        ADD_FAILURE() << "no exception";
      } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Invalid data type for 'SystemRoot'");
      }
    }
  }
}

TFormLayout InstallLayout() {
  std::ifstream in(ZIPKIT_SOURCE_DIR "/resources/install_form.layout", std::ios::binary);
  return TFormLayout::Parse(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

// The payload of most cases: a setup program, a text, a folder entry and a file inside it.
const std::vector<TTestEntry> kPayload = {
    {"SETUP.EXE", "MZ setup program", 0x4C41, 0x5861},
    {"README.TXT", "read me\r\n", 0x6000, 0x4F98},
    {"sub/", "", 0x6000, 0x4F98},
    {"sub/INFO.TXT", "information", 0x8C20, 0x5421},
};

// One scripted machine: a system root with the payload resource, and the install window built
// from its layout.
struct TMachine {
  explicit TMachine(const std::vector<TTestEntry>& Payload = kPayload) : form(host) {
    host.Registry[kNtKey + "\\SystemRoot"] = {true, rvString, SystemRoot() + std::string(1, '\0')};
    host.Resources["RESNAME"] = TestZip(Payload);
    std::filesystem::create_directory(TScriptedHost::Posix(SystemRoot()));
    form.LoadLayout(InstallLayout());
  }
  std::string SystemRoot() const { return host.Path("WINDOWS"); }
  std::string Temp() const { return SystemRoot() + "\\temp"; }
  std::string Reseller() const { return SystemRoot() + "\\m_reseller.bin"; }
  std::string Archive() const { return Temp() + "\\_Install.zip"; }
  std::string InTemp(const std::string& Name) const { return Temp() + "\\" + Name; }

  static inline const std::string kNtKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
  TScriptedHost host;
  TInstallForm form;
};

class InstallSequence : public ::testing::Test, public TMachine {};

// Every file entry of Payload is in the temp folder under its file part alone, with its data and
// its DOS time stamp; where two share a file part the later one wins; one with a bad CRC-32 is
// absent. No folder is made for the entries' folders.
void ExpectExtracted(const TMachine& m, const std::vector<TTestEntry>& Payload) {
  std::map<std::string, const TTestEntry*> last;
  for (const TTestEntry& e : Payload)
    if (!e.Name.ends_with("/")) last[e.Name.substr(e.Name.find_last_of('/') + 1)] = &e;
  for (const auto& [name, e] : last) {
    SCOPED_TRACE(name);
    const std::string path = m.InTemp(name);
    if (e->BadCrc) {
      EXPECT_FALSE(m.host.Exists(path));
      continue;
    }
    EXPECT_EQ(m.host.Contents(path), e->Data);
    EXPECT_EQ(host::FileAge(path), (int64_t(e->Date) << 16) | e->Time);
  }
  EXPECT_FALSE(m.host.Exists(m.InTemp("sub")));
  EXPECT_FALSE(m.host.Exists(m.Archive()));
}

TEST_F(InstallSequence, RunsEveryStepInOrder) {
  form.FormShow();

  ASSERT_EQ(host.RegistryReads.size(), 1u);
  EXPECT_EQ(host.RegistryReads[0].SubKey, "Software\\Microsoft\\Windows NT\\CurrentVersion");
  EXPECT_TRUE(host.RegistryReads[0].Create);
  EXPECT_EQ(host.RegistryReads[0].ValueName, "SystemRoot");

  EXPECT_EQ(form.ExecutableName, "Setup-ABC.exe");
  EXPECT_EQ(form.ResellerTag, "ABC");
  EXPECT_EQ(form.TargetDirectory, Temp() + "\\");
  EXPECT_EQ(form.ArchivePath, Archive());
  EXPECT_EQ(host.Contents(Reseller()), "ABC\r\n");
  ExpectExtracted(*this, kPayload);

  // Extraction runs between the change of folder and the deletion of the archive.
  const std::vector<std::string> events = {
      "mkdir " + Temp(),        "write " + Reseller(), "write " + Archive(),
      "chdir " + Temp() + "\\", "delete " + Archive(), "shell " + Temp() + "\\Setup.exe",
  };
  EXPECT_EQ(host.Events, events);
  ASSERT_EQ(host.ShellCalls.size(), 1u);
  const TScriptedHost::TShellCall& shell = host.ShellCalls[0];
  EXPECT_EQ(shell.Verb, "open");
  EXPECT_EQ(shell.Parameters, "");
  EXPECT_EQ(shell.Directory, "");
  EXPECT_EQ(shell.ShowCommand, 1);

  const std::vector<std::string> captions = {"Warte auf " + Archive(), "Unzip files...",
                                             "Starting Setup.exe...", "Installation running..."};
  EXPECT_EQ(host.Captions, captions);
  EXPECT_TRUE(host.Messages.empty());
  EXPECT_TRUE(host.TimerEnabled);

  EXPECT_FALSE(host.Terminated);
  form.Timer1Timer();
  EXPECT_TRUE(host.Terminated);
}

TEST_F(InstallSequence, ResellerFileFollowsTheProgramName) {
  struct Case {
    const char* module;
    const char* old_file;  // nullptr: none before the run
    const char* expected;  // nullptr: none after the run
  };
  const Case cases[] = {
      {"C:\\dist\\Setup-ABC.exe", nullptr, "ABC\r\n"},
      {"C:\\dist\\Setup-ABC.new.exe", "OLD\r\n", "ABC\r\n"},
      {"C:\\dist\\A-B-C.exe", "LONGER OLD TAG\r\n", "B-C\r\n"},
      {"C:\\dist\\Setup.new-ABC.exe", "OLD\r\n", nullptr},
      {"C:\\dist\\Setup-.exe", "OLD\r\n", nullptr},
      {"C:\\dist\\Setup.exe", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module);
    host.Module = c.module;
    std::filesystem::remove(TScriptedHost::Posix(Reseller()));
    if (c.old_file) host.Put(Reseller(), c.old_file);
    form.FormShow();
    if (c.expected)
      EXPECT_EQ(host.Contents(Reseller()), c.expected);
    else
      EXPECT_FALSE(host.Exists(Reseller()));
    EXPECT_TRUE(host.TimerEnabled);
  }
}

TEST_F(InstallSequence, OldResellerFileThatCannotBeDeleted) {
  host.FailDelete.insert(Reseller());
  host.Put(Reseller(), "OLD\r\n");
  host.Module = "C:\\Setup.exe";
  form.FormShow();  // no tag: the old file stays, and nothing is said
  EXPECT_EQ(host.Contents(Reseller()), "OLD\r\n");
  EXPECT_TRUE(host.Messages.empty());

  host.Module = "C:\\Setup-NEW.exe";
  form.FormShow();  // a tag: truncating replaces it
  EXPECT_EQ(host.Contents(Reseller()), "NEW\r\n");
}

TEST_F(InstallSequence, SystemRootWithTrailingBackslash) {
  host.Registry[kNtKey + "\\SystemRoot"] = {true, rvExpandString, SystemRoot() + "\\"};
  form.FormShow();
  EXPECT_EQ(form.TargetDirectory, Temp() + "\\");
  EXPECT_EQ(host.Contents(Reseller()), "ABC\r\n");
}

TEST_F(InstallSequence, ExistingTempFolderArchiveAndFilesAreOverwritten) {
  std::filesystem::create_directory(TScriptedHost::Posix(Temp()));
  host.Put(Archive(), std::string(5000, 'x'));  // a stale archive, longer than the payload
  host.Put(InTemp("README.TXT"), "an older read-me that is longer than the new one");
  host.Put(InTemp("KEEP.TXT"), "not in the payload");
  form.FormShow();
  EXPECT_EQ(std::count(host.Events.begin(), host.Events.end(), "mkdir " + Temp()), 0);
  ExpectExtracted(*this, kPayload);
  EXPECT_EQ(host.Contents(InTemp("KEEP.TXT")), "not in the payload");
  EXPECT_TRUE(host.TimerEnabled);
}

// What the payload holds decides what is left; a failing entry is not reported anywhere.
TEST(InstallPayload, EntriesAreExtractedByFilePart) {
  const struct {
    const char* what;
    std::vector<TTestEntry> payload;
  } cases[] = {
      {"bad CRC-32",
       {{"SETUP.EXE", "MZ"},
        {"BROKEN.DAT", "these bytes do not match", 0, 0x5861, true},
        {"AFTER.TXT", "after the broken one"}}},
      {"same file part twice",
       {{"one/DUP.TXT", "first"}, {"Setup.exe", "MZ"}, {"two/DUP.TXT", "second, later"}}},
      {"drive letter and parent steps", {{"C:/x/../../SETUP.EXE", "MZ"}, {"../UP.TXT", "up"}}},
      {"empty entry and only folders", {{"a/", ""}, {"a/b/", ""}, {"EMPTY.TXT", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TMachine m(c.payload);
    m.form.FormShow();
    ExpectExtracted(m, c.payload);
    EXPECT_FALSE(m.host.Exists(m.host.Path("UP.TXT")));
    EXPECT_TRUE(m.host.Messages.empty());
    EXPECT_EQ(m.host.ShellCalls.size(), 1u);
    EXPECT_TRUE(m.host.TimerEnabled);
  }
}

TEST(InstallPayload, WithoutSetupTheShellFailsAndTheTimerStillRuns) {
  TMachine m(std::vector<TTestEntry>{{"README.TXT", "no setup here"}});
  m.host.ShellResult = 2;  // what the shell answers for a missing file
  m.form.FormShow();
  EXPECT_EQ(m.host.Contents(m.InTemp("README.TXT")), "no setup here");
  EXPECT_EQ(m.host.Messages, std::vector<std::string>{"Unable to start setup.exe!"});
  EXPECT_TRUE(m.host.TimerEnabled);
}

TEST(InstallPayload, LayoutReplacesTheComponentDefaults) {
  TScriptedHost host;
  TInstallForm form(host);
  EXPECT_TRUE(form.AbZipKit1.ExtractOptions().Contains(eoCreateDirs));
  form.AbZipKit1.SetAutoSave(true);
  form.AbZipKit1.SetDOSMode(true);
  form.LoadLayout(InstallLayout());
  EXPECT_TRUE(form.AbZipKit1.ExtractOptions().Empty());
  EXPECT_FALSE(form.AbZipKit1.AutoSave());
  EXPECT_FALSE(form.AbZipKit1.DOSMode());
  EXPECT_EQ(form.AbZipKit1.FileName(), "");

  form.LoadLayout(TFormLayout::Parse(
      "[AbZipKit1]\nAutoSave=True\nDOSMode=False\nExtractOptions=eoRestorePath, eoCreateDirs"));
  EXPECT_TRUE(form.AbZipKit1.AutoSave());
  EXPECT_TRUE(form.AbZipKit1.ExtractOptions() == (TAbExtractOptions{eoCreateDirs, eoRestorePath}));
  EXPECT_THROW(form.LoadLayout(TFormLayout::Parse(
                   "[AbZipKit1]\nAutoSave=False\nDOSMode=False\nExtractOptions=eoOther")),
               Exception);
}

TEST_F(InstallSequence, WaitsUntilTheArchiveIsSeen) {
  host.MissingPolls = 2;
  form.FormShow();
  ASSERT_GE(host.Captions.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(host.Captions[i], "Warte auf " + Archive());
  EXPECT_EQ(host.Captions[3], "Unzip files...");
}

// The sequence ends early with a message; nothing is written and the timer stays off.
TEST_F(InstallSequence, NoSystemRootEndsWithAMessage) {
  const std::string& nt_key = kNtKey;
  struct Case {
    const char* what;
    uint32_t platform;
    bool unopenable;
    TRegistryValue value;
    const char* opened_key;
    bool create;
  };
  const Case cases[] = {
      {"95 family key lacks the value",
       1,
       false,
       {},
       "Software\\Microsoft\\Windows\\CurrentVersion",
       true},
      {"key cannot be opened", 2, true, {true, rvString, "C:\\W"}, nt_key.c_str(), true},
      {"value absent", 2, false, {}, nt_key.c_str(), true},
      {"value of size 0", 2, false, {true, rvString, ""}, nt_key.c_str(), true},
      {"value only a NUL", 2, false, {true, rvString, std::string(1, '\0')}, nt_key.c_str(), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TMachine m;
    TScriptedHost& host = m.host;
    host.Platform = c.platform;
    if (c.unopenable) host.UnopenableKeys.insert(c.opened_key);
    host.Registry.clear();
    if (c.value.Exists) host.Registry[std::string(c.opened_key) + "\\SystemRoot"] = c.value;
    m.form.FormShow();
    ASSERT_EQ(host.RegistryReads.size(), 1u);
    EXPECT_EQ(host.RegistryReads[0].SubKey, c.opened_key);
    EXPECT_EQ(host.RegistryReads[0].Create, c.create);
    EXPECT_EQ(host.Messages, std::vector<std::string>{"Unable to find Windows-Path!"});
    EXPECT_TRUE(host.Events.size() == 1 && host.Events[0].starts_with("message "));
    EXPECT_FALSE(host.TimerEnabled);
  }
}

TEST_F(InstallSequence, UnknownPlatformOpensTheMachineKeyItself) {
  host.Platform = 3;
  host.Registry.clear();
  form.FormShow();
  ASSERT_EQ(host.RegistryReads.size(), 1u);
  EXPECT_EQ(host.RegistryReads[0].SubKey, "");
  EXPECT_FALSE(host.RegistryReads[0].Create);
  EXPECT_EQ(host.Messages, std::vector<std::string>{"Unable to find Windows-Path!"});
}

TEST_F(InstallSequence, WrongTypeOfSystemRootEscapes) {
  host.Registry[kNtKey + "\\SystemRoot"] = {true, rvDWord, std::string("\x01\0\0\0", 4)};
  try {
    form.FormShow();
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'SystemRoot'");
  }
  EXPECT_TRUE(host.Events.empty());
  EXPECT_TRUE(host.Captions.empty());
  EXPECT_FALSE(host.TimerEnabled);
}

TEST_F(InstallSequence, TempFolderThatCannotBeCreated) {
  host.FailCreateDir.insert(Temp());
  form.FormShow();
  EXPECT_EQ(host.Messages, std::vector<std::string>{"Unable to create directory " + Temp()});
  EXPECT_FALSE(host.Exists(Reseller()));
  EXPECT_TRUE(host.Captions.empty());
  EXPECT_FALSE(host.TimerEnabled);
}

// Failures of the host leave the sequence as exceptions, at the step where they happen.
TEST_F(InstallSequence, HostFailuresEscapeAndLeaveTheirTraces) {
  struct Case {
    const char* what;
    void (*arrange)(TMachine&);
    const char* message;  // %s: the archive path, %r: the reseller file
    bool reseller_left;
    bool archive_left;
  };
  const Case cases[] = {
      {"reseller file cannot be created",
       [](TMachine& t) { t.host.FailCreateFile.insert(t.Reseller()); }, "Cannot create file %r",
       false, false},
      {"payload resource is missing", [](TMachine& t) { t.host.Resources.clear(); },
       "Resource RESNAME not found", true, false},
      {"archive cannot be created", [](TMachine& t) { t.host.FailCreateFile.insert(t.Archive()); },
       "Cannot create file %s", true, false},
      {"current folder cannot be changed",
       [](TMachine& t) { t.host.FailSetCurrentDir = t.Temp() + "\\"; }, "I/O error 3", true, true},
      {"payload is not a ZIP archive",
       [](TMachine& t) {
         t.host.Resources["RESNAME"] = {'n', 'o', 't', ' ', 'a', ' ', 'z', 'i', 'p'};
       },
       "Invalid file - not a PKZip file", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TMachine machine;
    TMachine* t = &machine;
    c.arrange(machine);
    std::string expected = c.message;
    if (const size_t at = expected.find("%s"); at != std::string::npos)
      expected.replace(at, 2, t->Archive());
    if (const size_t at = expected.find("%r"); at != std::string::npos)
      expected.replace(at, 2, t->Reseller());
    try {
      t->form.FormShow();
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), expected);
    }
    EXPECT_TRUE(t->host.DirectoryExists(t->Temp()));
    EXPECT_EQ(t->host.Exists(t->Reseller()), c.reseller_left);
    EXPECT_EQ(t->host.Exists(t->Archive()), c.archive_left);
    EXPECT_TRUE(t->host.Messages.empty());
    EXPECT_TRUE(t->host.ShellCalls.empty());
    EXPECT_FALSE(t->host.TimerEnabled);
  }
}

TEST_F(InstallSequence, ShellResultOf32OrLessIsAFailure) {
  const struct {
    uintptr_t result;
    bool failed;
  } cases[] = {{0, true}, {2, true}, {31, true}, {32, true}, {33, false}, {42, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    host.ShellResult = c.result;
    host.Messages.clear();
    host.Captions.clear();
    host.TimerEnabled = false;
    form.FormShow();
    EXPECT_EQ(host.Messages.size(), c.failed ? 1u : 0u);
    if (c.failed) {
      EXPECT_EQ(host.Messages[0], "Unable to start setup.exe!");
    }
    EXPECT_EQ(host.Captions.back(), "Installation running...");
    EXPECT_TRUE(host.TimerEnabled);
  }
}

}  // namespace
}  // namespace zipkit
