// variant_bench: the common VariantChangeType conversions a client's values
// take (VT_I4, VT_R8 and VT_BSTR between each other), in the user default locale (US English).
//
// Each workload converts one source VARIANT into a destination that is
// cleared each time (a BSTR result is allocated and freed per iteration).
// Run a Release build:
//   cmake --preset release && cmake --build build/release --target variant_bench
//   build/release/bench/variant_bench
#include <benchmark/benchmark.h>

#include "Platform/OleAuto.h"

namespace {

VARIANT Source(int kind) {
  VARIANT v;
  VariantInit(&v);
  switch (kind) {
    case 0:
      v.vt = VT_I4;
      v.lVal = 123456;
      break;
    case 1:
      v.vt = VT_R8;
      v.dblVal = 1234.5678;
      break;
    case 2:
      v.vt = VT_BSTR;
      v.bstrVal = SysAllocString(u"123456");
      break;
    default:
      v.vt = VT_BSTR;
      v.bstrVal = SysAllocString(u"1234.5678");
      break;
  }
  return v;
}

void Convert(benchmark::State& state, int kind, VARTYPE target) {
  VARIANT source = Source(kind);
  VARIANT dest;
  VariantInit(&dest);
  for (auto _ : state) {
    if (VariantChangeType(&dest, &source, 0, target) != S_OK) {
      state.SkipWithError("conversion failed");
      break;
    }
    benchmark::DoNotOptimize(dest);
    VariantClear(&dest);
  }
  VariantClear(&source);
}

}  // namespace

BENCHMARK_CAPTURE(Convert, I4ToR8, 0, VT_R8);
BENCHMARK_CAPTURE(Convert, I4ToBstr, 0, VT_BSTR);
BENCHMARK_CAPTURE(Convert, R8ToI4, 1, VT_I4);
BENCHMARK_CAPTURE(Convert, R8ToBstr, 1, VT_BSTR);
BENCHMARK_CAPTURE(Convert, BstrToI4, 2, VT_I4);
BENCHMARK_CAPTURE(Convert, BstrToR8, 3, VT_R8);
BENCHMARK_CAPTURE(Convert, BstrToBstr, 2, VT_BSTR);

BENCHMARK_MAIN();
