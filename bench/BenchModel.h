// The client callback of the benchmarks: a static data model over one
// database file, declared as data (field definitions, then record
// definitions whose first field is the id field).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Platform/ComUtil.h"
#include "vem/StaticDataModel.h"

namespace vembench {

struct BenchField {
  LONG id;
  std::string name;
  LONG type;  // field type code (1 STRING .. 12 BLOB)
  LONG length;
  bool crypt;
};

struct BenchRecord {
  LONG id;
  std::string table;
  std::vector<LONG> fields;  // the first is the id field
};

class BenchModelCallback : public IComStaticDataModelCallback {
 public:
  BenchModelCallback(std::string path, std::vector<BenchField> fields,
                     std::vector<BenchRecord> records)
      : m_path(std::move(path)), m_fields(std::move(fields)), m_records(std::move(records)) {}

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IComStaticDataModelCallback) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }  // owned by the bench
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(preDataModelDefinition)(IComStaticDataModelCreator*) override { return S_OK; }
  STDMETHOD(defDatabases)(IComStaticDataModelCreator* c) override {
    return c->AddDatabase(0, _bstr_t(m_path.c_str()), _bstr_t(""));
  }
  STDMETHOD(defFieldDefs)(IComStaticDataModelCreator* c) override {
    for (const BenchField& f : m_fields) {
      const HRESULT hr = c->AddFieldDef(f.id, _bstr_t(f.name.c_str()), f.type, f.length,
                                        f.crypt ? VARIANT_TRUE : VARIANT_FALSE);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  STDMETHOD(defRecordDefs)(IComStaticDataModelCreator* c) override {
    for (const BenchRecord& r : m_records) {
      HRESULT hr = c->AddRecordDef(r.id, _bstr_t(r.table.c_str()), 0);
      for (std::size_t i = 0; SUCCEEDED(hr) && i < r.fields.size(); ++i)
        hr = c->AddFieldToRecordDef(r.id, r.fields[i], i == 0 ? VARIANT_TRUE : VARIANT_FALSE,
                                    VARIANT_FALSE);
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }
  STDMETHOD(defCommandDefs)(IComStaticDataModelCreator*) override { return S_OK; }
  STDMETHOD(postDataModelDefinition)(IComStaticDataModelCreator*) override { return S_OK; }

 private:
  std::string m_path;
  std::vector<BenchField> m_fields;
  std::vector<BenchRecord> m_records;
};

// The blob benches' model: tblDoc (ID, Doc as a blob) as record definition 0.
inline BenchModelCallback BlobDocCallback(std::string path) {
  return BenchModelCallback(std::move(path), {{0, "ID", 7, -1, false}, {1, "Doc", 12, -1, false}},
                            {{0, "tblDoc", {0, 1}}});
}

}  // namespace vembench
