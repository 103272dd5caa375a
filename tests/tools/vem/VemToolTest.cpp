// The vem tool end to end: the built binary runs as a child process on real
// files in a temporary directory; records are written beside it through the
// driver, as a client of the server writes them.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "DataBase/AccessDriver/GADM.h"
#include "DataBase/AccessDriver/IBlobStrategy.h"
#include "DataBase/AccessDriver/ISaver.h"
#include "Support/DatabaseFixture.h"
#include "Support/TempDir.h"
#include "Support/TestRecord.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class VemTool : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return m_dir.File(name); }

  // Runs vem with args in the temporary directory; stdinText is its
  // standard input. With bTerminal its standard output is a terminal (a
  // pseudo-terminal whose output the outcome holds).
  Outcome Vem(const std::vector<std::string>& args, const std::string& stdinText = "",
              bool bTerminal = false) {
    WriteFile(File(".in"), stdinText);
    const int terminal = bTerminal ? posix_openpt(O_RDWR | O_NOCTTY) : -1;
    if (bTerminal && (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0)) {
      ADD_FAILURE() << "no pseudo-terminal";
      if (terminal >= 0) close(terminal);
      return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, File(".in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(
        &actions, 1, bTerminal ? ptsname(terminal) : File(".out").c_str(),
        O_WRONLY | O_CREAT | O_TRUNC | (bTerminal ? O_NOCTTY : 0), 0600);
    posix_spawn_file_actions_addopen(&actions, 2, File(".err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(VEM_TOOL)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    Outcome run;
    pid_t pid = -1;
    const int error = posix_spawn(&pid, VEM_TOOL, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      if (terminal >= 0) close(terminal);
      return run;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (bTerminal) {
      // The child has ended: what it wrote waits in the terminal's buffer.
      fcntl(terminal, F_SETFL, O_NONBLOCK);
      char buffer[4096];
      for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) run.out.append(buffer, n);
      close(terminal);
    } else {
      run.out = ReadAll(File(".out"));
    }
    run.err = ReadAll(File(".err"));
    for (const char* name : {".in", ".out", ".err"}) fs::remove(File(name));
    return run;
  }

  // The names in the directory, apart from the test's own files.
  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_dir.path()))
      names.insert(entry.path().filename());
    return names;
  }

  // The sample database with password "pw1" and two customers and a
  // document written through the driver under secret "s3cret", in the
  // format of driverVersion.
  std::string SampleDatabase(LONG driverVersion = 0x01010000) {
    WriteFile(File("pw"), "pw1\n");
    WriteFile(File("secret"), "s3cret\n");
    const std::string db = File("demo.vdb");
    const Outcome run =
        Vem({"create", db, "--schema", VEM_SAMPLE_SCHEMA, "--password-file", File("pw")});
    EXPECT_EQ(run.status, 0) << run.err;
    if (driverVersion != 0x01010000) {
      dao::DatabasePtr pDb = dao::CreateDBEngine()->OpenDatabase(
          dao::Bstr(db), _variant_t(false), _variant_t(false), _variant_t(";PWD=pw1"));
      vemtest::SetLongProperty(*pDb, "vemDriverVersion", driverVersion);
      pDb->Close();
    }
    GADM model(nullptr, db, "pw1");
    IDatabase& database = model.GetDatabase(0);
    database.SetSecret(reinterpret_cast<const BYTE*>("s3cret"), 6, nullptr, 0);
    const SRecordDef& customers = model.GetRecordDef(1);
    for (const auto& [name, iban, balance] :
         {std::tuple{"Ana, \"Mo\"", "DE44 5001", 1234.5}, std::tuple{"Bo", "", -0.25}}) {
      vemtest::TestRecord record(1);
      std::unique_ptr<ISaver> pSaver = database.CreateSaver(customers);
      pSaver->OpenNew(record);
      pSaver->PutString(11, name);
      pSaver->PutString(12, iban);
      pSaver->PutDouble(13, balance);
      pSaver->PutDate(14, DateParts{9, 30, 0, 0, 2, 3, 2024});
      pSaver->Close();
    }
    std::unique_ptr<IBlobStrategy> pBlob = database.CreateBlobStrategy(model.GetRecordDef(2));
    pBlob->OpenWrite() << std::string(300, 'x');
    pBlob->CloseWrite();
    vemtest::TestRecord record(2);
    std::unique_ptr<ISaver> pSaver = database.CreateSaver(model.GetRecordDef(2));
    pSaver->OpenNew(record);
    pSaver->PutLong(21, 1);
    pSaver->PutBool(24, true);
    pSaver->SetBlob(25, *pBlob);
    pSaver->Close();
    return db;
  }

  vemtest::TempDir m_dir;
};

TEST_F(VemTool, CreatesInspectsAndDumpsTheSampleDatabase) {
  const std::string db = SampleDatabase();

  const Outcome inspect = Vem({"inspect", db, "--password-file", "-", "--json"}, "pw1\n");
  ASSERT_EQ(inspect.status, 0) << inspect.err;
  const nlohmann::json model = nlohmann::json::parse(inspect.out);
  EXPECT_EQ(model["driverVersion"], "0x01010000");
  EXPECT_EQ(model["databaseVersion"], "0x00000001");
  EXPECT_EQ(model["warnings"].size(), 0u) << model["warnings"];
  std::string hash;
  {
    GADM gadm(nullptr, db, "pw1");
    for (BYTE b : gadm.StructureHash())
      hash += (std::ostringstream() << std::hex << (b >> 4) << (b & 15)).str();
  }
  EXPECT_EQ(model["structureHash"], hash);
  ASSERT_EQ(model["records"].size(), 3u);
  const nlohmann::json& customers = model["records"][0];
  EXPECT_EQ(customers["name"], "tblCustomer");
  EXPECT_EQ(customers["fields"][0]["idField"], true);
  EXPECT_EQ(customers["fields"][0]["autoValue"], true);
  EXPECT_EQ(customers["fields"][2]["type"], "STRING");
  EXPECT_EQ(customers["fields"][2]["length"], 161);
  EXPECT_EQ(customers["fields"][2]["crypt"], true);
  EXPECT_EQ(model["records"][1]["fields"][5]["type"], "BLOB");
  EXPECT_EQ(model["records"][2]["kind"], "query");

  const Outcome plain = Vem({"dump", db, "tblCustomer", "--password-file", File("pw")});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.out.find("CUS_IBAN: <encrypted>"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find("DE44"), std::string::npos);
  EXPECT_NE(plain.out.find("tblCustomer: 2 records"), std::string::npos);

  const Outcome csv =
      Vem({"dump", db, "tblCustomer", "--password-file", File("pw"), "--secret-file", "-", "--csv"},
          "s3cret");
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "CUS_ID,CUS_Name,CUS_IBAN,CUS_Balance,CUS_Since\r\n"
            "1,\"Ana, \"\"Mo\"\"\",DE44 5001,1234.5,2024-03-02 09:30:00\r\n"
            "2,Bo,,-0.25,2024-03-02 09:30:00\r\n");

  const Outcome documents = Vem(
      {"dump", db, "tblDocument", "--password-file", File("pw"), "--secret-file", File("secret")});
  ASSERT_EQ(documents.status, 0) << documents.err;
  EXPECT_NE(documents.out.find("DOC_Confidential: true"), std::string::npos) << documents.out;
  EXPECT_NE(documents.out.find("DOC_Data: blob 1, 300 bytes"), std::string::npos) << documents.out;
  EXPECT_NE(documents.out.find("DOC_Title: <null>"), std::string::npos) << documents.out;
  for (const Outcome* run : {&inspect, &plain, &csv, &documents}) {
    EXPECT_EQ(run->out.find("pw1"), std::string::npos);
    EXPECT_EQ(run->out.find("s3cret"), std::string::npos);
  }
}

TEST_F(VemTool, SchemaErrorsNameTheirPlaceAndLeaveNothingBehind) {
  const std::string table = R"({"name": "t", "description": "DM t", "fields": [%s]})";
  auto schema = [&](const std::string& fields, const std::string& top = "") {
    std::string tables = table;
    tables.replace(tables.find("%s"), 2, fields);
    return "{" + top +
           "\"tables\": [{\"name\": \"a\", \"fields\": [{\"name\": \"x\", \"type\": \"Long\"}]}, " +
           tables + "]}";
  };
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"{\n  \"tables\": [\n    {\"name\": }\n  ]\n}", "schema.json:3:14: JSON syntax error"},
      {schema(R"({"name": "f", "type": "Txt"})"), "/tables/1/fields/0/type: unknown type \"Txt\""},
      {schema(R"({"name": "f", "type": "Text", "size": 40, "description": "CRYPT LONG"})"),
       "/tables/1/fields/0/size: a \"CRYPT LONG\" column needs a size of at least 44"},
      {schema(R"({"name": "f", "type": "Text", "description": "CRYPT STRING"})"),
       "/tables/1/fields/0/size: a CRYPT STRING column of size 255 holds no text"},
      {schema(R"({"name": "f", "type": "Long", "description": "BLOB"})"),
       "/tables/1/fields/0/description: a BLOB column needs the blob tables"},
      {schema(R"({"name": "f", "type": "Long", "sise": 4})"),
       "/tables/1/fields/0/sise: unknown key"},
      {schema(R"({"name": "f", "type": "Text", "size": 40, "size": 4})"),
       "/tables/1/fields/0/size: the key \"size\" comes twice"},
      {"{\"tables\": [{\"name\": \"a\", \"fields\": []}, {\"name\": \"b\", \"name\": \"c\"}]}",
       "/tables/1/name: the key \"name\" comes twice"},
      {schema(R"({"name": "f", "type": "Long"}, {"name": "F", "type": "Long"})"),
       "/tables/1/fields/1/name: a field named \"F\" comes earlier, at /tables/1/fields/0/name"},
      {schema(R"({"name": "f", "type": "Long"})", R"("properties": {"EnumFieldMax": "7"}, )"),
       "/properties/EnumFieldMax: \"EnumFieldMax\" must be an integer"},
      {schema(R"({"name": "f", "type": "Long"})")
           .insert(1, R"("queries": [{"name": "q", "sql": "SELEKT"}], )"),
       "/queries/0: the engine refused it"},
  };
  for (const auto& c : cases) {
    WriteFile(File("schema.json"), c.text);
    const Outcome run = Vem({"create", File("new.vdb"), "--schema", File("schema.json")});
    EXPECT_EQ(run.status, 1) << c.text;
    EXPECT_NE(run.err.find("vem create: " + File("schema.json")), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_EQ(Listing(), (std::set<std::string>{"schema.json"})) << c.text;
  }
}

TEST_F(VemTool, FailuresAreClearErrorsWithTheirExitStatus) {
  const std::string db = SampleDatabase();
  WriteFile(File("wrong"), "not it\n");
  const auto before = fs::last_write_time(db);
  const struct {
    std::vector<std::string> args;
    int status;
    std::string expected;  // in stderr
  } cases[] = {
      {{"create", db, "--schema", VEM_SAMPLE_SCHEMA}, 1, "vem create: " + db + " exists already"},
      {{"inspect", db, "--password-file", File("wrong")},
       1,
       "vem inspect: wrong password for " + db},
      {{"inspect", db}, 1, "vem inspect: wrong password"},
      {{"dump", db, "tblCustomer", "--password-file", File("wrong")},
       1,
       "vem dump: wrong password"},
      {{"dump", db, "tblCustomer", "--password-file", File("pw"), "--secret-file", File("wrong")},
       1,
       "vem dump: field CUS_IBAN of record 1 of tblCustomer does not decipher (illegal MAC found "
       "in database)"},
      {{"dump", db, "tblNothing", "--password-file", File("pw")},
       1,
       "vem dump: tblNothing is not a table or query of the model"},
      {{"dump", db, "tblCustomer", "--secret-file", File("missing")},
       1,
       "vem dump: cannot open secret file"},
      {{"dump", db, "tblCustomer", "--password-file", File("pw"), "--secret-file", "-"},
       1,
       "vem dump: the secret from standard input is empty"},
      {{"inspect", File("missing.vdb")}, 1, "vem inspect: no database file " + File("missing.vdb")},
      {{}, 2, "A subcommand is required"},
      {{"inspect"}, 2, "vem inspect: DB is required"},
      {{"dump", db, "tblCustomer", "--secret", "s3cret"}, 2, "vem dump: The following argument"},
  };
  for (const auto& c : cases) {
    const Outcome run = Vem(c.args);
    EXPECT_EQ(run.status, c.status) << c.expected << "\n" << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
  }
  EXPECT_EQ(fs::last_write_time(db), before);

  {  // a change of secret leaves a key check value: the old secret is refused up front
    GADM model(nullptr, db, "pw1");
    model.GetDatabase(0).SetSecret(reinterpret_cast<const BYTE*>("s3cret"), 6, nullptr, 0);
    model.GetDatabase(0).ChangeSecret(nullptr, 0, reinterpret_cast<const BYTE*>("n3w"), 3, nullptr,
                                      0);
  }
  const Outcome stale = Vem(
      {"dump", db, "tblCustomer", "--password-file", File("pw"), "--secret-file", File("secret")});
  EXPECT_EQ(stale.status, 1);
  EXPECT_NE(stale.err.find("vem dump: wrong secret for " + db + ": it does not match"),
            std::string::npos)
      << stale.err;
  EXPECT_EQ(
      Vem({"dump", db, "tblCustomer", "--password-file", File("pw"), "--secret-file", "-"}, "n3w")
          .status,
      0);
  const Outcome help = Vem({"create", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--schema"), std::string::npos);
}

TEST_F(VemTool, InspectWarnsAboutWhatTheModelLeavesOut) {
  using vemtest::FixtureTable;
  const struct {
    std::vector<FixtureTable> tables;
    int status;
    std::string expected;
  } cases[] = {
      {{{"tblA", {{"a", dao::dbLong}}, {}, "DM a"}, {"tblB", {{"b", dao::dbLong}}, {}, "scratch"}},
       0,
       "warning: table tblB is not part of the model"},
      {{{"tblA", {{"a", dao::dbLong}}, {}, "DM a"}, {"tblC", {{"a", dao::dbText, 20}}, {}, "DM c"}},
       0,
       "warning: field definition 1 (a) is used by no record definition"},
      {{{"tblA", {{"c", dao::dbText, 40, false, "CRYPT LONG"}}, {}, "DM a"}},
       1,
       "warning: field tblA.c: too small for \"CRYPT LONG\": size 40, needs at least 44"},
  };
  for (const auto& c : cases) {
    const std::string db = File("w.vdb");
    {
      dao::DatabasePtr pDb = vemtest::CreateDatabase(db);
      for (const FixtureTable& t : c.tables) vemtest::AddTable(*pDb, t);
      pDb->Close();
    }
    const Outcome run = Vem({"inspect", db});
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    fs::remove_all(db + "_blob");
    fs::remove(db);
  }
}

// The subcommands that work through the server, which the tool finds by
// its ProgID in a registry of the test's own.
class VemServerTool : public VemTool {
 protected:
  VemServerTool() { setenv("VEM_REGISTRY", File("registry.db").c_str(), 1); }
  ~VemServerTool() override { unsetenv("VEM_REGISTRY"); }

  // Runs vem and expects status; answers the outcome.
  Outcome Expect(const std::vector<std::string>& args, int status) {
    Outcome run = Vem(args);
    EXPECT_EQ(run.status, status) << args.front() << "\n" << run.out << run.err;
    return run;
  }
};

TEST_F(VemServerTool, RegistersChecksCompactsAndChangesTheSecret) {
  const std::string db = SampleDatabase();
  WriteFile(File("wrong"), "not it\n");
  WriteFile(File("new"), "n3w\n");
  const std::string pw = File("pw");
  auto dump = [&](const std::string& secret) {
    return Vem({"dump", db, "tblCustomer", "--password-file", pw, "--secret-file", secret});
  };

  Outcome run = Expect({"check", db, "--password-file", pw}, 1);
  EXPECT_NE(run.err.find("vem check: the server VemComServer.ComVemServer is not registered in " +
                         File("registry.db") + "; run `vem register`"),
            std::string::npos)
      << run.err;
  run = Expect({"register"}, 0);
  EXPECT_NE(run.out.find("Registered VemComServer.ComVemServer (class {"), std::string::npos);
  EXPECT_NE(run.out.find("libVemComServer.so) in " + File("registry.db")), std::string::npos)
      << run.out;

  for (const char* command : {"check", "compact"}) {
    run = Expect({command, db, "--password-file", pw}, 0);
    // Not a terminal: the progress as plain lines, up to the end.
    EXPECT_NE(run.out.find("progress: 10% blob files\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("progress: 100% done\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
  }
  // On a terminal: a bar, redrawn in place, left complete on its own line.
  run = Vem({"check", db, "--password-file", pw}, "", true);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\r[###"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("] 100% done"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("progress:"), std::string::npos) << run.out;
  run = Expect({"check", db, "--password-file", File("wrong")}, 1);
  EXPECT_NE(run.err.find("vem check: opening " + db + " failed: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Not a valid password"), std::string::npos) << run.err;

  // A wrong old secret changes nothing: the values authenticate only under the right one.
  run = Expect({"rekey", db, "--password-file", pw, "--old-secret-file", File("wrong"),
                "--new-secret-file", File("new")},
               1);
  EXPECT_NE(run.err.find("vem rekey: the old secret is not the secret of " + db +
                         ", nothing was changed (illegal MAC"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(dump(File("secret")).status, 0);
  run = Expect({"rekey", db, "--password-file", pw, "--old-secret-file", File("secret"),
                "--new-secret-file", "-"},
               1);
  EXPECT_NE(run.err.find("vem rekey: the new secret file (standard input) holds no secret"),
            std::string::npos)
      << run.err;
  run = Vem({"rekey", db, "--password-file", pw, "--old-secret-file", File("secret"),
             "--new-secret-file", "-"},
            "n3w\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, db + ": changed the secret, rewrote the encrypted values of 3 records in 2 "
                          "tables (tblCustomer 2, tblDocument 1)\n");
  // Now a key check value refuses the old secret before anything is read.
  EXPECT_NE(Expect({"rekey", db, "--password-file", pw, "--old-secret-file", File("secret"),
                    "--new-secret-file", File("wrong")},
                   1)
                .err.find("vem rekey: the old secret is not the secret of " + db),
            std::string::npos);
  const Outcome fresh = dump(File("new"));
  EXPECT_EQ(fresh.status, 0) << fresh.err;
  EXPECT_NE(fresh.out.find("CUS_IBAN: DE44 5001"), std::string::npos) << fresh.out;
  EXPECT_EQ(dump(File("secret")).status, 1);
  for (const std::string& text : {run.out, run.err, fresh.out, fresh.err})
    for (const char* secret : {"s3cret", "n3w", "pw1"})
      EXPECT_EQ(text.find(secret), std::string::npos) << secret;

  EXPECT_NE(Expect({"unregister"}, 0).out.find("Unregistered VemComServer.ComVemServer"),
            std::string::npos);
  EXPECT_NE(Expect({"compact", db, "--password-file", pw}, 1).err.find("is not registered"),
            std::string::npos);
  EXPECT_NE(Expect({"register", "--module", File("none.so")}, 1)
                .err.find("vem register: no server module " + File("none.so")),
            std::string::npos);
}

TEST_F(VemServerTool, UpgradesAnOlderDatabaseOnce) {
  const std::string db = SampleDatabase(0x01000000);
  const std::string pw = File("pw");
  Expect({"register"}, 0);
  Outcome run = Expect({"upgrade", db, "--password-file", pw}, 1);
  EXPECT_NE(run.err.find("needs their secret (--secret-file)"), std::string::npos) << run.err;
  run = Expect({"upgrade", db, "--password-file", pw, "--secret-file", File("secret")}, 0);
  EXPECT_EQ(run.out, db + ": upgraded from driver version 1.0 (0x01000000) to 1.1 (0x01010000), "
                          "rewrote the encrypted values of 3 records in 2 tables (tblCustomer 2, "
                          "tblDocument 1)\n");
  run = Expect({"upgrade", db, "--password-file", pw}, 0);
  EXPECT_EQ(run.out, db + ": driver version 1.1 (0x01010000) is the newest, nothing to do\n");
  // The values now carry a MAC: a wrong secret is caught.
  WriteFile(File("wrong"), "not it\n");
  const Outcome dump = Vem(
      {"dump", db, "tblCustomer", "--password-file", pw, "--secret-file", File("secret"), "--csv"});
  EXPECT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("DE44 5001,1234.5"), std::string::npos) << dump.out;
  EXPECT_EQ(Vem({"dump", db, "tblCustomer", "--password-file", pw, "--secret-file", File("wrong")})
                .status,
            1);
}

TEST_F(VemServerTool, CheckReportsADamagedBlobFileAndLeavesIt) {
  const struct {
    const char* what;
    std::uintmax_t keep;  // bytes kept of the blob file; 0: all but the last 100
  } cases[] = {{"header cut short", 8}, {"block cut short", 0}};
  Expect({"register"}, 0);
  for (const auto& c : cases) {
    const std::string db = SampleDatabase();
    std::string blobFile;
    for (const auto& entry : fs::directory_iterator(db + "_blob")) blobFile = entry.path();
    ASSERT_FALSE(blobFile.empty());
    fs::resize_file(blobFile, c.keep != 0 ? c.keep : fs::file_size(blobFile) - 100);
    const std::string damaged = ReadAll(blobFile);

    const Outcome run = Expect({"check", db, "--password-file", File("pw")}, 1);
    EXPECT_NE(run.err.find("vem check: error 0x"), std::string::npos) << c.what << run.err;
    EXPECT_NE(run.err.find(fs::path(blobFile).filename().string()), std::string::npos)
        << c.what << run.err;
    EXPECT_NE(run.err.find("1 error reported"), std::string::npos) << c.what << run.err;
    EXPECT_EQ(ReadAll(blobFile), damaged) << c.what;
    fs::remove_all(db + "_blob");
    fs::remove(db);
  }
}

}  // namespace
