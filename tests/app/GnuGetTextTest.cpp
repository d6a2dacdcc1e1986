#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "GetTextTestUtil.h"
#include "app/GnuGetText.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

const std::string Po = PoText({
    {"No duplicates", "Brak duplikatów"},
    {"Total time: %8.2n sec", "Całkowity czas: %8.2n s"},
    {"two\nlines", "zwei\nZeilen"},
}) + "\nmsgid \"file\"\nmsgid_plural \"files\"\nmsgstr[0] \"Datei\"\nmsgstr[1] \"Dateien\"\n"
     "\nmsgctxt \"menu\"\nmsgid \"Open\"\nmsgstr \"Öffnen\"\n";

void PutWord(std::string& mo, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) mo[at + i] = static_cast<char>(v >> (8 * i));
}

uint32_t GetWord(const std::string& mo, size_t at) {
  uint32_t v = 0;
  for (size_t i = 4; i-- > 0;) v = v << 8 | static_cast<unsigned char>(mo[at + i]);
  return v;
}

TEST(MoFile, ReadsCataloguesOfMsgfmtInEitherByteOrder) {
  for (const char* order : {"--endianness=little", "--endianness=big"}) {
    TMoFile mo(Msgfmt(Po, order));
    ASSERT_NE(mo.Lookup("No duplicates"), nullptr) << order;
    EXPECT_EQ(*mo.Lookup("No duplicates"), "Brak duplikatów");
    EXPECT_EQ(*mo.Lookup("Total time: %8.2n sec"), "Całkowity czas: %8.2n s");
    EXPECT_EQ(*mo.Lookup("two\nlines"), "zwei\nZeilen");
    // A plural entry answers its singular with the first form.
    EXPECT_EQ(*mo.Lookup("file"), "Datei");
    // Texts of a context, unknown texts and the header are no entries.
    EXPECT_EQ(mo.Lookup("Open"), nullptr);
    EXPECT_EQ(mo.Lookup("no such text"), nullptr);
    EXPECT_EQ(mo.Lookup(""), nullptr);
    EXPECT_EQ(mo.Count(), 4u);
    EXPECT_NE(mo.Header().find("charset=UTF-8"), std::string::npos);
  }
}

TEST(MoFile, RefusesEveryTruncation) {
  const std::string mo = Msgfmt(Po);
  for (size_t n = 0; n < mo.size(); ++n) EXPECT_THROW(TMoFile(mo.substr(0, n)), EMoFileError) << n;
}

TEST(MoFile, RefusesMalformedHeadersAndTables) {
  const std::string good = Msgfmt(Po);
  const uint32_t originals = GetWord(good, 12);
  struct TCase {
    const char* What;
    size_t At;
    uint32_t Value;
  };
  const TCase cases[] = {
      {"magic", 0, 0x12345678},
      {"major revision 2", 4, 2u << 16},
      {"count beyond the file", 8, 0xFFFFFFFF},
      {"originals beyond the file", 12, 0xFFFFFFF0},
      {"translations beyond the file", 16, static_cast<uint32_t>(good.size()) - 4},
      {"string length wraps", originals, 0xFFFFFFFF},
      {"string beyond the file", originals + 4, static_cast<uint32_t>(good.size())},
      {"string without its NUL", originals, GetWord(good, originals) + 1},
  };
  for (const TCase& c : cases) {
    std::string bad = good;
    PutWord(bad, c.At, c.Value);
    EXPECT_THROW(TMoFile{bad}, EMoFileError) << c.What;
  }
  // Minor revisions and the system-dependent tables of revision 1 do not matter.
  std::string rev1 = good;
  PutWord(rev1, 4, 1u << 16 | 1);
  EXPECT_EQ(TMoFile(rev1).Count(), 4u);
}

TEST(MoFile, SurvivesEveryDamagedByte) {
  const std::string good = Msgfmt(Po);
  for (size_t at = 0; at < good.size(); ++at)
    for (char value : {'\0', '\x7f', '\xff'}) {
      std::string bad = good;
      bad[at] = value;
      try {
        TMoFile mo(bad);
        (void)mo.Lookup("No duplicates");
      } catch (const EMoFileError&) {
      }
    }
}

// A program image with its record in the middle: text, record, more text.
std::string FakeProgram() {
  std::string program(1000, 'x');
  program += EmbeddedMarker();
  program.append(8, '\0');
  program += std::string(500, 'y');
  return program;
}

uint64_t TableOffset(const std::string& file) {
  std::string bytes = ReadBytes(file);
  uint64_t record = FindEmbeddedRecord(bytes);
  uint64_t v = 0;
  for (size_t i = 8; i-- > 0;) v = v << 8 | static_cast<unsigned char>(bytes[record + EmbeddedMarkerSize + i]);
  return v;
}

TEST(EmbeddedFiles, AppendedFilesAreFoundAndAppendingAgainLeavesOneTable) {
  TScratchDir dir;
  const std::string file = dir.Path + "/program";
  const std::string program = FakeProgram();
  WriteBytes(file, program);

  AppendEmbeddedFiles(file, {{"locale/de/LC_MESSAGES/default.mo", "german"}, {"locale/pl/LC_MESSAGES/default.mo", "polish!"}});
  const std::string once = ReadBytes(file);
  ASSERT_EQ(once.size(), program.size() + 13 + 2 * EmbeddedEntrySize + 8);
  EXPECT_EQ(once.substr(0, 1000), program.substr(0, 1000));
  EXPECT_EQ(once.substr(1044, 500), program.substr(1044, 500));
  const uint64_t table = TableOffset(file);
  EXPECT_EQ(table, program.size() + 13);

  TFileByteSource source(file);
  std::vector<TEmbeddedFile> files = ReadEmbeddedTable(source, table);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].Name, "locale/de/LC_MESSAGES/default.mo");
  EXPECT_EQ(files[0].Offset, program.size());
  EXPECT_EQ(files[1].Size, 7u);
  EXPECT_EQ(ReadEmbeddedFile(source, table, "locale/pl/LC_MESSAGES/default.mo"), "polish!");
  EXPECT_EQ(ReadEmbeddedFile(source, table, "locale/fr/LC_MESSAGES/default.mo"), std::nullopt);
  // Names are padded with blanks; a name longer than its field is refused.
  EXPECT_EQ(once.substr(table + 24 + 32, EmbeddedNameSize - 32), std::string(EmbeddedNameSize - 32, ' '));
  EXPECT_THROW(AppendEmbeddedFiles(file, {{std::string(EmbeddedNameSize + 1, 'n'), "x"}}), EEmbeddedTableError);

  // Again with other data: the old area goes, the image stays.
  AppendEmbeddedFiles(file, {{"a", "1"}});
  const std::string other = ReadBytes(file);
  EXPECT_EQ(other.size(), program.size() + 1 + EmbeddedEntrySize + 8);
  TFileByteSource source2(file);
  EXPECT_EQ(ReadEmbeddedFile(source2, TableOffset(file), "a"), "1");
  EXPECT_EQ(ReadEmbeddedFile(source2, TableOffset(file), "locale/pl/LC_MESSAGES/default.mo"), std::nullopt);

  // The same files twice give the same file as once; none give the image.
  for (int i = 0; i < 2; ++i)
    AppendEmbeddedFiles(file, {{"locale/de/LC_MESSAGES/default.mo", "german"}, {"locale/pl/LC_MESSAGES/default.mo", "polish!"}});
  EXPECT_EQ(ReadBytes(file), once);
  AppendEmbeddedFiles(file, {});
  EXPECT_EQ(ReadBytes(file), program);
}

TEST(EmbeddedFiles, TheRecordMustStandOnce) {
  EXPECT_THROW(FindEmbeddedRecord(std::string(100, 'x')), EEmbeddedTableError);
  std::string twice = FakeProgram() + FakeProgram();
  EXPECT_THROW(FindEmbeddedRecord(twice), EEmbeddedTableError);
  // A marker at the very end, without room for its offset.
  EXPECT_THROW(FindEmbeddedRecord(std::string(10, 'x') + std::string(EmbeddedMarker())), EEmbeddedTableError);
  EXPECT_EQ(FindEmbeddedRecord(FakeProgram()), 1000u);
}

std::string Entry(uint64_t next, uint64_t offset, uint64_t size, const std::string& name) {
  std::string e(EmbeddedEntrySize, ' ');
  for (size_t i = 0; i < 8; ++i) {
    e[i] = static_cast<char>(next >> (8 * i));
    e[8 + i] = static_cast<char>(offset >> (8 * i));
    e[16 + i] = static_cast<char>(size >> (8 * i));
  }
  e.replace(24, name.size(), name);
  return e;
}

TEST(EmbeddedFiles, DamagedTablesAreRefused) {
  const std::string program = FakeProgram();
  const uint64_t t = program.size();
  const uint64_t end = t + EmbeddedEntrySize;
  struct TCase {
    const char* What;
    std::string Bytes;
    uint64_t Table;
  };
  const TCase cases[] = {
      {"table beyond the file", program, t + 1},
      {"table at the last bytes", program, t - 4},
      {"entry cut by the end", program + Entry(end, 0, 1, "a").substr(0, 100), t},
      {"next entry beyond the file", program + Entry(end + 8, 0, 1, "a"), t},
      {"data beyond the file", program + Entry(end, t - 10, 19 + EmbeddedEntrySize, "a") + std::string(8, '\0'), t},
      {"data size wraps", program + Entry(end, 10, ~uint64_t(0), "a") + std::string(8, '\0'), t},
      {"data offset beyond", program + Entry(end, ~uint64_t(0) - 4, 5, "a") + std::string(8, '\0'), t},
      {"a looping chain", program + Entry(t, 0, 1, "a"), t},
  };
  for (const TCase& c : cases) {
    TMemoryByteSource source(c.Bytes);
    EXPECT_THROW(ReadEmbeddedTable(source, c.Table), EEmbeddedTableError) << c.What;
  }
  // A good table of one entry, for contrast.
  std::string good = program + Entry(end, 0, 4, "a") + std::string(8, '\0');
  TMemoryByteSource source(good);
  EXPECT_EQ(ReadEmbeddedFile(source, t, "a"), program.substr(0, 4));

  // The build step does not cut a program whose table it cannot read.
  TScratchDir dir;
  std::string damaged = program + Entry(end + 8, 0, 1, "a");
  for (size_t i = 0; i < 8; ++i) damaged[1036 + i] = static_cast<char>(t >> (8 * i));
  WriteBytes(dir.Path + "/program", damaged);
  EXPECT_THROW(AppendEmbeddedFiles(dir.Path + "/program", {{"b", "2"}}), EEmbeddedTableError);
  EXPECT_EQ(ReadBytes(dir.Path + "/program"), damaged);
}

// --- The build step on a real program ----------------------------------------

TEST(EmbeddedFiles, TheBuildStepAppendsTheCataloguesToTheProgram) {
  // The probe was linked with the catalogues appended, and none beside it.
  EXPECT_EQ(RunCommand(std::string(CATALOGUE_PROBE) + " de_DE pl en"),
            "table\nde_DE: Keine Duplikate\npl: Brak duplikatów\nen: No duplicates\n");

  // Appending again to a copy changes nothing.
  TScratchDir dir;
  const std::string copy = dir.Path + "/probe";
  std::filesystem::copy_file(CATALOGUE_PROBE, copy);
  const std::string built = ReadBytes(copy);
  const std::string step = std::string(EMBED_TOOL) + " " + copy + " " + CATALOGUE_DIR +
                           " locale/de/LC_MESSAGES/default.mo locale/pl/LC_MESSAGES/default.mo";
  int status = 0;
  RunCommand(step, &status);
  ASSERT_EQ(status, 0);
  RunCommand(step, &status);
  EXPECT_EQ(ReadBytes(copy), built);
  EXPECT_EQ(RunCommand(copy + " pl_PL"), "table\npl_PL: Brak duplikatów\n");

  // Without the table, catalogues beside the program serve.
  RunCommand(std::string(EMBED_TOOL) + " " + copy + " " + CATALOGUE_DIR, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(RunCommand(copy + " de"), "no table\nde: No duplicates\n");
  WriteBytes(dir.Path + "/locale/de/LC_MESSAGES/default.mo",
             ReadBytes(std::string(CATALOGUE_DIR) + "/locale/de/LC_MESSAGES/default.mo"));
  EXPECT_EQ(RunCommand(copy + " de"), "no table\nde: Keine Duplikate\n");
}

// --- The current language --------------------------------------------------

class Languages : public ::testing::Test {
protected:
  void SetUp() override {
    WriteBytes(Dir.Path + "/locale/pl/LC_MESSAGES/default.mo", Msgfmt(PoText({{"No duplicates", "Brak duplikatów"}})));
    WriteBytes(Dir.Path + "/locale/de_AT/LC_MESSAGES/default.mo", Msgfmt(PoText({{"No duplicates", "Koane Duplikate"}})));
    WriteBytes(Dir.Path + "/locale/de/LC_MESSAGES/default.mo", Msgfmt(PoText({{"No duplicates", "Keine Duplikate"}})));
    Location.ProgramDir = Dir.Path + "/";
  }
  void TearDown() override {
    SetCatalogueLocation(TCatalogueLocation::OwnProgram());
    SetLanguageChangedHook(nullptr);
    SelectLanguage("en");
  }

  std::string Shown(const std::string& language) {
    auto mo = LoadCatalogue(Location, language);
    const std::string* text = mo ? mo->Lookup("No duplicates") : nullptr;
    return text ? *text : "-";
  }

  TScratchDir Dir;
  TCatalogueLocation Location;
};

TEST_F(Languages, ACodeFallsBackToItsFirstTwoLetters) {
  EXPECT_EQ(Shown("pl_PL"), "Brak duplikatów");
  EXPECT_EQ(Shown("pl"), "Brak duplikatów");
  EXPECT_EQ(Shown("de_AT"), "Koane Duplikate");
  EXPECT_EQ(Shown("de_DE"), "Keine Duplikate");
  EXPECT_EQ(Shown("en"), "-");
  EXPECT_EQ(Shown("fr_FR"), "-");
  // A code that would lead out of the catalogue directory is none.
  WriteBytes(Dir.Path + "/x/LC_MESSAGES/default.mo", Msgfmt(PoText({{"No duplicates", "escaped"}})));
  EXPECT_EQ(Shown("../x"), "-");
  EXPECT_EQ(Shown(""), "-");
}

TEST_F(Languages, TheAppendedTableComesFirstAndDamageFallsBackToTheDisk) {
  const std::string program = Dir.Path + "/program";
  WriteBytes(program, FakeProgram());
  AppendEmbeddedFiles(program, {{"locale/pl/LC_MESSAGES/default.mo", Msgfmt(PoText({{"No duplicates", "z tabeli"}}))},
                                {"locale/de/LC_MESSAGES/default.mo", "not a catalogue"}});
  Location.ProgramFile = program;
  Location.TableOffset = TableOffset(program);
  EXPECT_EQ(Shown("pl_PL"), "z tabeli");
  EXPECT_EQ(Shown("de"), "Keine Duplikate");
  // A damaged catalogue file is no catalogue.
  WriteBytes(Dir.Path + "/locale/de/LC_MESSAGES/default.mo", "\xde\x12\x04\x95 damaged");
  EXPECT_EQ(Shown("de"), "-");
  // A table that lies outside the file is no table.
  Location.TableOffset = 1u << 30;
  EXPECT_EQ(Shown("pl"), "Brak duplikatów");
}

// Runs act while a FIFO waits for a writer; true when act had to be freed
// by one (after two seconds), as an open for blocking reads would need.
bool NeededAWriter(const std::string& fifo, const std::function<void()>& act) {
  std::mutex m;
  std::condition_variable cv;
  bool done = false, freed = false;
  std::thread watchdog([&] {
    std::unique_lock lock(m);
    if (cv.wait_for(lock, std::chrono::seconds(2), [&] { return done; })) return;
    int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      freed = true;
      ::close(fd);
    }
  });
  act();
  {
    std::lock_guard lock(m);
    done = true;
  }
  cv.notify_one();
  watchdog.join();
  return freed;
}

TEST_F(Languages, AFifoWhereACatalogueIsLookedForIsNoCatalogue) {
  const std::string fifo = Dir.Path + "locale/fr/LC_MESSAGES/default.mo";
  WriteBytes(fifo, "");
  ASSERT_EQ(::unlink(fifo.c_str()), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(NeededAWriter(fifo, [&] { EXPECT_EQ(Shown("fr"), "-"); }));
  // Nor does a FIFO in place of the program file hold a table.
  Location.ProgramFile = fifo;
  Location.TableOffset = 8;
  EXPECT_FALSE(NeededAWriter(fifo, [&] { EXPECT_EQ(Shown("pl"), "Brak duplikatów"); }));
}

TEST_F(Languages, TheStartingLanguageComesFromTheEnvironmentAndSelectingOneTranslatesTheProgram) {
  SetCatalogueLocation(Location);
  std::vector<std::string> seen;
  SetLanguageChangedHook([&](const std::string& language) { seen.push_back(language); });
  const char* saved[] = {std::getenv("LANG"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES")};
  const std::string keep[] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : "", saved[2] ? saved[2] : ""};
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  ::setenv("LANG", "pl_PL.UTF-8", 1);
  SelectUserLanguage();
  EXPECT_EQ(CurrentLanguage(), "pl_PL");
  EXPECT_EQ(TranslateText("No duplicates"), "Brak duplikatów");
  ::setenv("LANG", "C", 1);
  SelectUserLanguage();
  EXPECT_EQ(CurrentLanguage(), "en");
  ::unsetenv("LANG");
  ::setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
  SelectUserLanguage();
  EXPECT_EQ(CurrentLanguage(), "de_DE");
  EXPECT_EQ(TranslateText("No duplicates"), "Keine Duplikate");
  EXPECT_EQ(TranslateText("Not in the catalogue"), "Not in the catalogue");
  SelectLanguage("en");
  EXPECT_EQ(TranslateText("No duplicates"), "No duplicates");
  EXPECT_EQ(seen, (std::vector<std::string>{"pl_PL", "en", "de_DE", "en"}));
  const char* names[] = {"LANG", "LC_ALL", "LC_MESSAGES"};
  for (int i = 0; i < 3; ++i) {
    if (saved[i]) ::setenv(names[i], keep[i].c_str(), 1);
    else ::unsetenv(names[i]);
  }
}

// --- The shipped catalogues ------------------------------------------------

// The format placeholders of a text, in order.
std::vector<std::string> Placeholders(const std::string& text) {
  static const std::regex placeholder("%-?[0-9]*(\\.[0-9]+)?[a-zA-Z%]");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder); it != std::sregex_iterator(); ++it)
    found.push_back(it->str());
  return found;
}

TEST(ShippedCatalogues, AreCompleteAndKeepEveryPlaceholderAndPattern) {
  std::set<std::string> ids[2];
  int i = 0;
  for (const char* language : {"de", "pl"}) {
    const std::string dir = std::string(CATALOGUE_DIR) + "/locale/" + language;
    TMoFile mo(ReadBytes(dir + "/LC_MESSAGES/default.mo"));
    const std::string po = ReadBytes(std::string(SOURCE_DIR) + "/locale/" + language + ".po");
    // Every entry of the source is translated, none is fuzzy.
    size_t entries = 0;
    for (size_t at = po.find("\nmsgid "); at != std::string::npos; at = po.find("\nmsgid ", at + 1)) ++entries;
    EXPECT_EQ(mo.Count(), entries - 1) << language;
    EXPECT_EQ(po.find("fuzzy"), std::string::npos) << language;
    EXPECT_NE(mo.Header().find("charset=UTF-8"), std::string::npos);
    for (const auto& [id, text] : mo.Entries()) {
      ids[i].insert(id);
      EXPECT_EQ(Placeholders(text), Placeholders(id)) << language << ": " << id;
      // A file filter keeps its patterns.
      if (size_t bar = id.find('|'); bar != std::string::npos) {
        EXPECT_EQ(text.substr(text.find('|')), id.substr(bar)) << language;
      }
      // Leading blanks and line breaks of the original stay.
      EXPECT_EQ(text.front() == ' ', id.front() == ' ') << language << ": " << id;
      EXPECT_EQ(std::count(text.begin(), text.end(), '\n') > 0, std::count(id.begin(), id.end(), '\n') > 0)
          << language << ": " << id;
    }
    ++i;
  }
  EXPECT_EQ(ids[0], ids[1]);
}

}  // namespace
