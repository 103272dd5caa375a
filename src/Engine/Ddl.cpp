// Jet DDL parser (CREATE TABLE / INDEX, DROP TABLE / INDEX).
#include "Engine/Ddl.h"

#include <cctype>

#include "Engine/EngineError.h"
#include "Engine/Value.h"

namespace dao {

namespace {

struct Token {
  enum Kind { Word, Name, Number, Punct, End } kind = End;
  std::string text;  // Word: upper case; Name: as written, unquoted
  std::string raw;   // as written
};

class Lexer {
 public:
  explicit Lexer(const std::string& s) : m_s(s) { Next(); }
  const Token& Peek() const { return m_tok; }
  Token Take() {
    Token t = m_tok;
    Next();
    return t;
  }
  bool IsWord(const char* w) const { return m_tok.kind == Token::Word && m_tok.text == w; }
  bool TakeWord(const char* w) {
    if (!IsWord(w)) return false;
    Next();
    return true;
  }
  bool TakePunct(char c) {
    if (m_tok.kind != Token::Punct || m_tok.text[0] != c) return false;
    Next();
    return true;
  }

 private:
  void Next() {
    while (m_i < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_i]))) ++m_i;
    m_tok = Token();
    if (m_i >= m_s.size()) return;
    char c = m_s[m_i];
    std::size_t start = m_i;
    if (c == '[' || c == '"' || c == '`') {
      char close = c == '[' ? ']' : c;
      std::size_t end = m_s.find(close, m_i + 1);
      if (end == std::string::npos) {
        m_tok.kind = Token::Punct;
        m_tok.text = m_tok.raw = std::string(1, c);
        m_i = m_s.size();
        return;
      }
      m_tok.kind = Token::Name;
      m_tok.text = m_s.substr(m_i + 1, end - m_i - 1);
      m_i = end + 1;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' ||
               static_cast<unsigned char>(c) >= 0x80) {
      while (m_i < m_s.size() && (std::isalnum(static_cast<unsigned char>(m_s[m_i])) ||
                                  m_s[m_i] == '_' || static_cast<unsigned char>(m_s[m_i]) >= 0x80))
        ++m_i;
      m_tok.kind = Token::Word;
      for (std::size_t k = start; k < m_i; ++k)
        m_tok.text += static_cast<char>(std::toupper(static_cast<unsigned char>(m_s[k])));
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      while (m_i < m_s.size() && std::isdigit(static_cast<unsigned char>(m_s[m_i]))) ++m_i;
      m_tok.kind = Token::Number;
      m_tok.text = m_s.substr(start, m_i - start);
    } else {
      m_tok.kind = Token::Punct;
      m_tok.text = std::string(1, c);
      ++m_i;
    }
    m_tok.raw = m_s.substr(start, m_i - start);
  }

  const std::string& m_s;
  std::size_t m_i = 0;
  Token m_tok;
};

class Parser {
 public:
  explicit Parser(const std::string& sql) : m_sql(sql), m_lex(sql) {}

  DdlStatement Parse() {
    DdlStatement st;
    if (m_lex.TakeWord("CREATE")) {
      bool unique = m_lex.TakeWord("UNIQUE");
      if (!unique && m_lex.TakeWord("TABLE")) {
        st.kind = DdlStatement::CreateTable;
        ParseCreateTable(st.table);
      } else if (m_lex.TakeWord("INDEX")) {
        st.kind = DdlStatement::CreateIndex;
        st.index.unique = unique;
        ParseCreateIndex(st);
      } else {
        return {};  // CREATE VIEW/PROCEDURE ...: not ours
      }
    } else if (m_lex.TakeWord("DROP")) {
      if (m_lex.TakeWord("TABLE")) {
        st.kind = DdlStatement::DropTable;
        st.tableName = TakeName("a table name");
      } else if (m_lex.TakeWord("INDEX")) {
        st.kind = DdlStatement::DropIndex;
        st.index.name = TakeName("an index name");
        Expect(m_lex.TakeWord("ON"), "ON");
        st.tableName = TakeName("a table name");
      } else {
        return {};
      }
    } else {
      return {};
    }
    m_lex.TakePunct(';');
    if (m_lex.Peek().kind != Token::End) Error("unexpected '" + m_lex.Peek().raw + "'");
    return st;
  }

 private:
  [[noreturn]] void Error(const std::string& what) {
    Fail(kErrSyntaxDdl, "Syntax error in data definition statement '" + m_sql + "': " + what + ".");
  }
  void Expect(bool ok, const std::string& what) {
    if (!ok) Error("expected " + what);
  }
  std::string TakeName(const char* what) {
    const Token t = m_lex.Peek();
    if (t.kind != Token::Word && t.kind != Token::Name) Error(std::string("expected ") + what);
    m_lex.Take();
    return t.kind == Token::Name ? t.text : t.raw;
  }
  std::int32_t Number() {
    const Token t = m_lex.Peek();
    if (t.kind != Token::Number) Error("expected a number");
    m_lex.Take();
    return static_cast<std::int32_t>(std::stol(t.text));
  }
  std::vector<std::string> NameList(std::vector<bool>* desc) {
    std::vector<std::string> names;
    Expect(m_lex.TakePunct('('), "'('");
    do {
      names.push_back(TakeName("a field name"));
      bool d = false;
      if (m_lex.TakeWord("DESC"))
        d = true;
      else
        m_lex.TakeWord("ASC");
      if (desc) desc->push_back(d);
    } while (m_lex.TakePunct(','));
    Expect(m_lex.TakePunct(')'), "')'");
    return names;
  }

  void ParseCreateTable(TableSpec& table) {
    table.name = TakeName("a table name");
    Expect(m_lex.TakePunct('('), "'('");
    do {
      std::string constraintName;
      if (m_lex.TakeWord("CONSTRAINT")) constraintName = TakeName("a constraint name");
      if (m_lex.TakeWord("PRIMARY")) {
        Expect(m_lex.TakeWord("KEY"), "KEY");
        IndexSpec ix;
        ix.name = constraintName.empty() ? "PrimaryKey" : constraintName;
        ix.primary = ix.unique = ix.required = true;
        ix.fields = NameList(&ix.descending);
        table.indexes.push_back(ix);
        continue;
      }
      if (m_lex.TakeWord("UNIQUE")) {
        IndexSpec ix;
        ix.unique = true;
        ix.fields = NameList(&ix.descending);
        ix.name = constraintName.empty() ? "Unique_" + ix.fields.front() : constraintName;
        table.indexes.push_back(ix);
        continue;
      }
      if (!constraintName.empty()) Error("expected PRIMARY KEY or UNIQUE after CONSTRAINT");
      FieldSpec f;
      f.name = TakeName("a field name");
      const Token typeTok = m_lex.Peek();
      if (typeTok.kind != Token::Word) Error("expected a type for field '" + f.name + "'");
      m_lex.Take();
      std::string typeName = typeTok.text;
      if (typeName == "DOUBLE") m_lex.TakeWord("PRECISION");
      if (!DdlType(typeName, f.type, f.attributes))
        Error("unknown data type '" + typeTok.raw + "' for field '" + f.name + "'");
      if (m_lex.TakePunct('(')) {
        f.size = Number();
        if (m_lex.TakePunct(',')) Number();  // precision, scale: accepted, not used
        Expect(m_lex.TakePunct(')'), "')'");
        if (f.type == dbText && (f.size < 1 || f.size > 255))
          Error("the size of Text field '" + f.name + "' must be 1 to 255");
      }
      // Column constraints.
      for (;;) {
        if (m_lex.TakeWord("NOT")) {
          Expect(m_lex.TakeWord("NULL"), "NULL");
          f.required = true;
        } else if (m_lex.TakeWord("NULL")) {
        } else if (m_lex.TakeWord("CONSTRAINT")) {
          constraintName = TakeName("a constraint name");
        } else if (m_lex.TakeWord("PRIMARY")) {
          Expect(m_lex.TakeWord("KEY"), "KEY");
          IndexSpec ix;
          ix.name = constraintName.empty() ? "PrimaryKey" : constraintName;
          ix.primary = ix.unique = ix.required = true;
          ix.fields = {f.name};
          ix.descending = {false};
          table.indexes.push_back(ix);
        } else if (m_lex.TakeWord("UNIQUE")) {
          IndexSpec ix;
          ix.name = constraintName.empty() ? "Unique_" + f.name : constraintName;
          ix.unique = true;
          ix.fields = {f.name};
          ix.descending = {false};
          table.indexes.push_back(ix);
        } else {
          break;
        }
      }
      table.fields.push_back(f);
    } while (m_lex.TakePunct(','));
    Expect(m_lex.TakePunct(')'), "')' or ','");
  }

  void ParseCreateIndex(DdlStatement& st) {
    st.index.name = TakeName("an index name");
    Expect(m_lex.TakeWord("ON"), "ON");
    st.tableName = TakeName("a table name");
    st.index.fields = NameList(&st.index.descending);
    if (m_lex.TakeWord("WITH")) {
      do {
        if (m_lex.TakeWord("PRIMARY")) {
          st.index.primary = st.index.unique = st.index.required = true;
        } else if (m_lex.TakeWord("DISALLOW")) {
          Expect(m_lex.TakeWord("NULL"), "NULL");
          st.index.required = true;
        } else if (m_lex.TakeWord("IGNORE")) {
          Expect(m_lex.TakeWord("NULL"), "NULL");
        } else {
          Error("expected PRIMARY, DISALLOW NULL or IGNORE NULL");
        }
      } while (m_lex.IsWord("PRIMARY") || m_lex.IsWord("DISALLOW") || m_lex.IsWord("IGNORE"));
    }
  }

  const std::string& m_sql;
  Lexer m_lex;
};

}  // namespace

bool DdlType(const std::string& n, int& type, std::int32_t& attributes) {
  attributes = dbFixedField;
  auto is = [&](std::initializer_list<const char*> names) {
    for (const char* x : names)
      if (n == x) return true;
    return false;
  };
  if (is({"BIT", "YESNO", "BOOLEAN", "LOGICAL", "LOGICAL1"}))
    type = dbBoolean;
  else if (is({"BYTE", "INTEGER1", "TINYINT"}))
    type = dbByte;
  else if (is({"SHORT", "SMALLINT", "INTEGER2"}))
    type = dbInteger;
  else if (is({"LONG", "INT", "INTEGER", "INTEGER4"}))
    type = dbLong;
  else if (is({"COUNTER", "AUTOINCREMENT", "IDENTITY"})) {
    type = dbLong;
    attributes |= dbAutoIncrField;
  } else if (is({"CURRENCY", "MONEY"}))
    type = dbCurrency;
  else if (is({"SINGLE", "REAL", "FLOAT4", "IEEESINGLE"}))
    type = dbSingle;
  else if (is({"DOUBLE", "FLOAT", "FLOAT8", "IEEEDOUBLE", "NUMBER", "NUMERIC", "DECIMAL"}))
    type = dbDouble;
  else if (is({"DATETIME", "DATE", "TIME", "TIMESTAMP"}))
    type = dbDate;
  else if (is({"BINARY", "VARBINARY"}))
    type = dbBinary;
  else if (is({"TEXT", "VARCHAR", "CHAR", "CHARACTER", "STRING", "ALPHANUMERIC", "NVARCHAR",
               "NCHAR"})) {
    type = dbText;
    attributes = dbVariableField;
  } else if (is({"LONGBINARY", "OLEOBJECT", "GENERAL", "IMAGE", "BLOB"}))
    type = dbLongBinary;
  else if (is({"LONGTEXT", "MEMO", "LONGCHAR", "NOTE", "NTEXT"})) {
    type = dbMemo;
    attributes = dbVariableField;
  } else if (is({"GUID", "UNIQUEIDENTIFIER"}))
    type = dbGUID;
  else
    return false;
  return true;
}

DdlStatement ParseDdl(const std::string& sql) {
  return Parser(sql).Parse();
}

}  // namespace dao
