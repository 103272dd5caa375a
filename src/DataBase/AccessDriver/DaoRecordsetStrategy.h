// DaoRecordsetStrategy: a cursor over the table or query of one record
// definition in one database (IRecordsetStrategy over dao::Recordset).
//
// Query: "SELECT * FROM <table>[ WHERE <filter>][ ORDER BY <sort>]", with
// the client's "{<field id>}" placeholders replaced by column names. After
// opening, a non-empty recordset moves last and first, so that the record
// count is complete and the cursor stands on the first record.
//
// Views: the loader and saver views read and write the current record with
// the typed operations of RecordReader and RecordWriter over this
// strategy's recordset. They are members, not bases: ILoader::Close answers
// a Boolean while IRecordsetStrategy::Close answers nothing, which one C++
// class cannot both override. Their Open/Close answer true and do nothing.
//
// Failures: engine errors are raised translated (traced once, vem_error
// with the HRESULT); an operation that needs the recordset while closed
// raises E_POINTER the same way. The five moves are different: a failed
// move is traced and answered with false, and any other failure in them
// (the closed strategy's E_POINTER, a failed BOF/EOF/RecordCount query after
// a successful move) leaves as the engine's _com_error, untranslated.
#pragma once

#include <string>

#include "DataBase/AccessDriver/IRecordsetStrategy.h"
#include "DataBase/AccessDriver/RecordReader.h"
#include "DataBase/AccessDriver/RecordWriter.h"
#include "Engine/Dao.h"

class DaoDatabase;
class DataModel;
struct SRecordDef;

class DaoRecordsetStrategy : public IRecordsetStrategy {
 public:
  // The database and the record definition (and its model) must outlive
  // the strategy. Raises vem_error(E_INVALIDARG) for a record definition
  // without a model.
  DaoRecordsetStrategy(DaoDatabase& database, const SRecordDef& recordDef);
  ~DaoRecordsetStrategy() override = default;

  DaoRecordsetStrategy(const DaoRecordsetStrategy&) = delete;
  DaoRecordsetStrategy& operator=(const DaoRecordsetStrategy&) = delete;

  void Open() override;
  void Close() override;
  bool IsOpen() override { return static_cast<bool>(m_pRecordset); }
  void Refresh() override;
  LONG GetPosition() override;
  LONG GetRecordCount() override;
  bool IsBOF() override;
  bool IsEOF() override;

  IDaoSaver& BeginAppend(IRecord& rRecord) override;
  bool FinishAppend() override;
  IDaoSaver& BeginUpdate() override;
  bool FinishUpdate() override;

  bool MoveTo(LONG lPosition) override;
  bool MoveFirst() override;
  bool MovePrev() override;
  bool MoveNext() override;
  bool MoveLast() override;

  bool FindFirst(const std::string& condition) override;
  bool FindPrev(const std::string& condition) override;
  bool FindNext(const std::string& condition) override;
  bool FindLast(const std::string& condition) override;

  void Filter(const std::string& condition) override;
  void Sort(const std::string& expression) override;
  void Delete() override;

  IDaoLoader& GetLoader() override { return m_loaderView; }
  IDaoSaver& GetSaver() override { return m_saverView; }

  // True when the current record's column of field lFieldID holds no text
  // (NULL or another type): an encrypted field that holds no value.
  bool HoldsNoText(LONG lFieldID);

  // Replaces every "{<id>}" of a field of recordDef (in the definition's
  // field order) by the field's name; the rest of the text is unchanged.
  static std::string TranslatePlaceholders(const SRecordDef& recordDef, std::string text);

  // The query Open sends (for the current filter and sort).
  std::string BuildQuery() const;

 private:
  class LoaderView final : public RecordReader {
   public:
    LoaderView(DaoDatabase& database, const SRecordDef& recordDef, dao::RecordsetPtr& rRecordset)
        : RecordReader(database, recordDef, rRecordset) {}
    bool Open(IRecord&) override { return true; }
    bool Close() override { return true; }
  };
  class SaverView final : public RecordWriter {
   public:
    SaverView(DaoDatabase& database, const SRecordDef& recordDef, dao::RecordsetPtr& rRecordset)
        : RecordWriter(database, recordDef, rRecordset) {}
    bool Open(IRecord&) override { return true; }
    bool OpenNew(IRecord&) override { return true; }
    bool Close() override { return true; }
  };

  // The open recordset; raises _com_error(E_POINTER) when closed.
  dao::Recordset& Recordset();
  // Traces a failed move (hr) and answers false.
  bool MoveFailed(HRESULT hr);
  template <class FindFn>
  bool Find(const std::string& condition, FindFn&& find);

  DataModel* m_pModel;             // the record definition's model (traces), not owned
  DaoDatabase& m_database;         // not owned
  const SRecordDef& m_recordDef;   // not owned
  std::string m_filter;            // translated; empty: none
  std::string m_sort;              // translated; empty: none
  dao::RecordsetPtr m_pRecordset;  // empty while closed
  LoaderView m_loaderView;         // reads m_pRecordset's current record
  SaverView m_saverView;           // writes m_pRecordset's current record
};
