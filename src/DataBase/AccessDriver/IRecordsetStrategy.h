// IRecordsetStrategy: a cursor over the table or query of one record
// definition: open with the client's filter and sort, navigate, find,
// append, update, delete; typed access to the current record through its
// loader and saver views (owned by the strategy). Implemented over the
// engine by DaoRecordsetStrategy; the COM layer owns it.
//
// Filter, sort and find texts name fields as "{<field definition id>}",
// which the strategy replaces by the fields' column names.
#pragma once

#include <string>

#include "Platform/WinTypes.h"

class IDaoLoader;
class IDaoSaver;
class IRecord;

class IRecordsetStrategy {
 public:
  virtual ~IRecordsetStrategy() = default;

  virtual void Open() = 0;  // does nothing when open
  virtual void Close() = 0;
  virtual bool IsOpen() = 0;
  virtual void Refresh() = 0;  // reads the rows again
  virtual LONG GetPosition() = 0;
  virtual LONG GetRecordCount() = 0;
  // BOF and EOF of the recordset (named Is... because EOF is a C macro).
  virtual bool IsBOF() = 0;
  virtual bool IsEOF() = 0;

  // Starts a new record (its auto value is handed back to rRecord) and
  // answers the saver view to write it; FinishAppend stores it.
  virtual IDaoSaver& BeginAppend(IRecord& rRecord) = 0;
  virtual bool FinishAppend() = 0;
  // Puts the current record into edit and answers the saver view;
  // FinishUpdate stores it.
  virtual IDaoSaver& BeginUpdate() = 0;
  virtual bool FinishUpdate() = 0;

  // Navigation: a failed move is traced to the back channel and answered
  // with false.
  virtual bool MoveTo(LONG lPosition) = 0;
  virtual bool MoveFirst() = 0;
  virtual bool MovePrev() = 0;
  virtual bool MoveNext() = 0;
  virtual bool MoveLast() = 0;

  // Finds: true when a record matches (the cursor moves onto it).
  virtual bool FindFirst(const std::string& condition) = 0;
  virtual bool FindPrev(const std::string& condition) = 0;
  virtual bool FindNext(const std::string& condition) = 0;
  virtual bool FindLast(const std::string& condition) = 0;

  // Store the condition / sort expression; an open strategy re-opens at once.
  virtual void Filter(const std::string& condition) = 0;
  virtual void Sort(const std::string& expression) = 0;
  virtual void Delete() = 0;  // deletes the current record

  // The views on the current record, owned by the strategy.
  virtual IDaoLoader& GetLoader() = 0;
  virtual IDaoSaver& GetSaver() = 0;

 protected:
  IRecordsetStrategy() = default;
  IRecordsetStrategy(const IRecordsetStrategy&) = default;
  IRecordsetStrategy& operator=(const IRecordsetStrategy&) = default;
};
