// Error information for COM clients, and the boundary that every COM method
// of the server runs its work behind.
#pragma once

#include <string>
#include <utility>

#include "Platform/OleAuto.h"
#include "Platform/WinTypes.h"

// Makes the thread's current error information: GUID iid (the interface
// whose method fails), source the ProgID of clsid when it has one,
// description szDescription. Does nothing more when the error information
// cannot be built; the caller's HRESULT stands either way.
void ReportErrorInfo(REFCLSID clsid, LPCOLESTR szDescription, REFIID iid) noexcept;
// The same with a Windows-1252 description.
void ReportErrorInfo(REFCLSID clsid, const std::string& description, REFIID iid) noexcept;

namespace vemserver {

// Runs fn, which answers an HRESULT, so that no exception leaves a COM
// method: a vem_error answers its own code (E_FAIL for code 0: a failure is
// never S_OK), a _com_error its HRESULT, an allocation failure E_OUTOFMEMORY,
// anything else E_UNEXPECTED; each with error information (clsid, iid)
// carrying the failure's text. Results fn wrote before the failure stay.
HRESULT FailureToHresult(REFCLSID clsid, REFIID iid) noexcept;  // inside a catch only

template <class Fn>
HRESULT ComBoundary(REFCLSID clsid, REFIID iid, Fn&& fn) noexcept {
  try {
    return std::forward<Fn>(fn)();
  } catch (...) {
    return FailureToHresult(clsid, iid);
  }
}

}  // namespace vemserver
