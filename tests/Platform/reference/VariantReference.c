/* Writes the expected VariantChangeTypeEx results of the platform's
 * reference table (VariantReference.tsv) as an independent OLE Automation
 * implementation gives them. Built with mingw-w64 and run under wine:
 *
 *   x86_64-w64-mingw32-gcc -O1 -o VariantReference.exe VariantReference.c -loleaut32 -lole32
 *   WINEDEBUG=-all wine VariantReference.exe > VariantReference.tsv
 *
 * One line per case, tab-separated:
 *   lcid flags source target hresult result
 * A value is "vt:payload": integers in decimal, VT_R4/VT_R8/VT_DATE as the
 * hex of their bits, VT_CY as its scaled 64-bit integer, VT_DECIMAL as
 * "scale/sign/Hi32/Lo64", VT_BSTR as its text with "\uXXXX" for anything
 * outside printable ASCII and for "\", VT_ARRAY|VT_UI1 as hex bytes. The
 * result is "-" when the hresult is a failure. */
#include <windows.h>
#include <oleauto.h>
#include <stdio.h>
#include <string.h>

static void PutText(const WCHAR* s, UINT n) {
  for (UINT i = 0; i < n; ++i) {
    if (s[i] >= 0x20 && s[i] < 0x7F && s[i] != '\\')
      putchar((char)s[i]);
    else
      printf("\\u%04X", (unsigned)s[i]);
  }
}

static void PutValue(const VARIANT* v) {
  printf("%u:", (unsigned)V_VT(v));
  switch (V_VT(v)) {
    case VT_EMPTY: case VT_NULL: printf("-"); break;
    case VT_I1: printf("%d", (int)V_I1(v)); break;
    case VT_UI1: printf("%u", (unsigned)V_UI1(v)); break;
    case VT_I2: printf("%d", (int)V_I2(v)); break;
    case VT_UI2: printf("%u", (unsigned)V_UI2(v)); break;
    case VT_BOOL: printf("%d", (int)V_BOOL(v)); break;
    case VT_I4: printf("%ld", (long)V_I4(v)); break;
    case VT_INT: printf("%d", V_INT(v)); break;
    case VT_UI4: printf("%lu", (unsigned long)V_UI4(v)); break;
    case VT_UINT: printf("%u", V_UINT(v)); break;
    case VT_I8: printf("%lld", (long long)V_I8(v)); break;
    case VT_UI8: printf("%llu", (unsigned long long)V_UI8(v)); break;
    case VT_CY: printf("%lld", (long long)V_CY(v).int64); break;
    case VT_R4: { unsigned int b; memcpy(&b, &V_R4(v), 4); printf("%08x", b); break; }
    case VT_R8: case VT_DATE: { unsigned long long b; memcpy(&b, &V_R8(v), 8); printf("%016llx", b); break; }
    case VT_DECIMAL:
      printf("%u/%u/%lu/%llu", V_DECIMAL(v).scale, V_DECIMAL(v).sign,
             (unsigned long)V_DECIMAL(v).Hi32, (unsigned long long)V_DECIMAL(v).Lo64);
      break;
    case VT_BSTR: PutText(V_BSTR(v), SysStringLen(V_BSTR(v))); break;
    case VT_ARRAY | VT_UI1: {
      SAFEARRAY* a = V_ARRAY(v);
      for (ULONG i = 0; i < a->rgsabound[0].cElements; ++i) printf("%02x", ((BYTE*)a->pvData)[i]);
      break;
    }
    default: printf("?"); break;
  }
}

static VARTYPE kTargets[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8,
                             VT_INT, VT_UINT, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BOOL,
                             VT_BSTR, VT_DECIMAL};

static void Run(const VARIANT* src, LCID lcid, USHORT flags, VARTYPE target) {
  VARIANT dst;
  VariantInit(&dst);
  HRESULT hr = VariantChangeTypeEx(&dst, (VARIANT*)src, lcid, flags, target);
  printf("%04lx\t%u\t", (unsigned long)lcid, flags);
  PutValue(src);
  printf("\t%u\t%08lx\t", (unsigned)target, (unsigned long)hr);
  if (SUCCEEDED(hr)) PutValue(&dst); else printf("-");
  printf("\n");
  VariantClear(&dst);
}

static void All(VARIANT* src, LCID lcid) {
  for (unsigned t = 0; t < sizeof(kTargets) / sizeof(kTargets[0]); ++t)
    if (kTargets[t] != V_VT(src)) Run(src, lcid, 0, kTargets[t]);
  VariantClear(src);
}

#define SRC(type, member, value) do { VARIANT v; VariantInit(&v); V_VT(&v) = type; member(&v) = value; All(&v, lcid); } while (0)

static const WCHAR* kTexts[] = {
    L"0", L"12", L" 42\t", L"+7", L"-7", L"007", L"1e3", L"1.5E1", L"2.5", L"3.5", L"-0.5",
    L"32767", L"32768", L"65535", L"-1", L"255", L"256", L"4294967295", L"2147483648",
    L"9223372036854775807", L"18446744073709551615", L"1e100", L"3.25", L".5", L"5.",
    L"-1.5e-3", L"1e39", L"0.1", L"12x", L"x12", L"", L"   ", L"abc", L"0x10", L"1,000",
    L"1,5", L"1.5", L"1.000,50", L"1,000.50", L"1e", L".", L"--1", L"&H1F", L"&HFFFF",
    L"&HFFFFFFFF", L"&H8000", L"&O17", L"&h7fff", L"$5", L"$1,234.56", L"(5)", L"5-", L"-$5",
    L"($1.50)", L"\x00A0" L"12", L"12 \x20AC", L"\x20AC 12", L"1,2,3", L"0.00005", L"0.00015",
    L"922337203685477.5807", L"922337203685477.5808", L"79228162514264337593543950335",
    L"79228162514264337593543950336", L"0.0000000000000000000000000001",
    L"0.00000000000000000000000000005", L"1.23456789012345678901234567890",
    L"True", L"FALSE", L"true", L" True ", L"#TRUE#", L"#FALSE#", L"#true#", L"yes", L"Wahr",
    L"1/1/2000", L"2000-01-01", L" 2000-01-01 12:00:00 ", L"1/1/2000 6:00:00 PM",
    L"1/1/2000 6:00 pm", L"12:00:00 AM", L"12:00 PM", L"18:00", L"2/29/2000", L"1/1/99",
    L"1/1/29", L"1/1/49", L"1/1/50", L"2/29/1900", L"2/30/2000", L"13/1/2000", L"1/13/2000",
    L"1/1/2000 25:00", L"1/1/2000 13:00 PM", L"1/1/2000 12:60", L"1/1/2000x", L"36526",
    L"hello", L"January 1, 2000", L"1-Jan-2000", L"Jan 1 2000", L"1 January 2000",
    L"December 31, 1999 11:59 PM", L"2000/01/02", L"12/31/1999 23:59", L"12/31/1999 23:59:59",
    L"1.1.2000", L"31.12.1999 23:59:58", L"1. Januar 2000", L"12/30/1899", L"1/1/100",
    L"12/31/9999 23:59:59", L"7/4/1776 12:30:00 PM", L"5 PM", L"0:00", L"23:59:59",
    L"1/1/2000 12:30:15 AM", L"2000-12-31T10:00:00",
};

int main(void) {
  LCID lcids[] = {0x409, 0x407};
  for (int k = 0; k < 2; ++k) {
    LCID lcid = lcids[k];
    SRC(VT_EMPTY, V_I4, 0);
    SRC(VT_I1, V_I1, -128); SRC(VT_I1, V_I1, -1); SRC(VT_I1, V_I1, 5); SRC(VT_I1, V_I1, 127);
    SRC(VT_UI1, V_UI1, 0); SRC(VT_UI1, V_UI1, 200); SRC(VT_UI1, V_UI1, 255);
    SRC(VT_I2, V_I2, -32768); SRC(VT_I2, V_I2, -1); SRC(VT_I2, V_I2, 300); SRC(VT_I2, V_I2, 32767);
    SRC(VT_UI2, V_UI2, 65535); SRC(VT_UI2, V_UI2, 40000); SRC(VT_UI2, V_UI2, 7);
    SRC(VT_I4, V_I4, (LONG)0x80000000); SRC(VT_I4, V_I4, -70000); SRC(VT_I4, V_I4, -1);
    SRC(VT_I4, V_I4, 0); SRC(VT_I4, V_I4, 1); SRC(VT_I4, V_I4, 65535); SRC(VT_I4, V_I4, 2147483647);
    SRC(VT_UI4, V_UI4, 4294967295u); SRC(VT_UI4, V_UI4, 3000000000u); SRC(VT_UI4, V_UI4, 12);
    SRC(VT_I8, V_I8, (LONGLONG)0x8000000000000000ULL); SRC(VT_I8, V_I8, -1);
    SRC(VT_I8, V_I8, 1LL << 40); SRC(VT_I8, V_I8, 0x7FFFFFFFFFFFFFFFLL);
    SRC(VT_UI8, V_UI8, 0xFFFFFFFFFFFFFFFFULL); SRC(VT_UI8, V_UI8, 1ULL << 63); SRC(VT_UI8, V_UI8, 9);
    SRC(VT_INT, V_INT, -1); SRC(VT_UINT, V_UINT, 4294967295u);
    SRC(VT_R4, V_R4, 0.1f); SRC(VT_R4, V_R4, -2.5f); SRC(VT_R4, V_R4, 1e20f);
    SRC(VT_R4, V_R4, 1.5e-5f); SRC(VT_R4, V_R4, 255.5f); SRC(VT_R4, V_R4, 3.4e38f);
    SRC(VT_R4, V_R4, 1.0f / 3.0f);
    {
      double r8[] = {0.0, 0.1, 2.5, 3.5, -2.5, 0.5, 1e20, 1.5e-5, 5.6789e-5, 1e-11, 1.23e-12,
                     123456789012345.0, 1e15, 1.0 / 3.0, 36526.5, 2958465.9, 2147483647.5,
                     -2147483648.5, 9.3e18, 1e300, 1e-300, 0.0001, 65535.0, 4294967295.0,
                     -1.0, 12345.678901234567, 1e14, 999999999999999.0, 0.000123};
      for (unsigned i = 0; i < sizeof(r8) / sizeof(r8[0]); ++i) SRC(VT_R8, V_R8, r8[i]);
    }
    {
      LONGLONG cy[] = {12345, 15000, -5, (LONGLONG)0x8000000000000000ULL, 0, 25000, 35000,
                       -25000, 15001, -14999, 0x7FFFFFFFFFFFFFFFLL};
      for (unsigned i = 0; i < sizeof(cy) / sizeof(cy[0]); ++i) {
        VARIANT v; VariantInit(&v); V_VT(&v) = VT_CY; V_CY(&v).int64 = cy[i]; All(&v, lcid);
      }
    }
    {
      double d[] = {36526.0, 36526.5, 36526.75, 0.0, 0.25, -1.25, 2958465.0, -657434.0,
                    36526.99999999, 36526.999995, 36526.9999949, 36525.999305555555, 0.5,
                    -0.5, 1.0, -1.0, 36526.000005, 36526.0000057870370};
      for (unsigned i = 0; i < sizeof(d) / sizeof(d[0]); ++i) SRC(VT_DATE, V_DATE, d[i]);
    }
    SRC(VT_BOOL, V_BOOL, -1); SRC(VT_BOOL, V_BOOL, 0); SRC(VT_BOOL, V_BOOL, 1);
    SRC(VT_BOOL, V_BOOL, 5);
    {
      VARIANT v; VariantInit(&v); V_VT(&v) = VT_BOOL; V_BOOL(&v) = -1;
      Run(&v, lcid, VARIANT_ALPHABOOL, VT_BSTR); Run(&v, lcid, VARIANT_LOCALBOOL, VT_BSTR);
      V_BOOL(&v) = 0;
      Run(&v, lcid, VARIANT_ALPHABOOL, VT_BSTR); Run(&v, lcid, VARIANT_LOCALBOOL, VT_BSTR);
      V_BOOL(&v) = 5;
      Run(&v, lcid, VARIANT_ALPHABOOL, VT_BSTR);
    }
    {
      struct { BYTE scale, sign; ULONG hi; ULONGLONG lo; } dec[] = {
          {1, 0, 0, 15}, {1, 0x80, 0, 15}, {4, 0, 0, 15000}, {0, 0, 0xFFFFFFFF, 0xFFFFFFFFFFFFFFFFULL},
          {28, 0, 0, 1}, {9, 0, 0, 123456789123456789ULL}, {0, 0, 0, 0}, {2, 0, 0, 250},
          {0, 0x80, 0, 32768}, {0, 0, 0, 4294967295ULL}, {4, 0x80, 0, 5}, {1, 0, 0, 365265}};
      for (unsigned i = 0; i < sizeof(dec) / sizeof(dec[0]); ++i) {
        VARIANT v; VariantInit(&v); V_VT(&v) = VT_DECIMAL;
        V_DECIMAL(&v).scale = dec[i].scale; V_DECIMAL(&v).sign = dec[i].sign;
        V_DECIMAL(&v).Hi32 = dec[i].hi; V_DECIMAL(&v).Lo64 = dec[i].lo;
        All(&v, lcid);
      }
    }
    for (unsigned i = 0; i < sizeof(kTexts) / sizeof(kTexts[0]); ++i) {
      VARIANT v; VariantInit(&v); V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocString(kTexts[i]);
      All(&v, lcid);
    }
    {
      /* A text with an embedded NUL, and the byte array forms. */
      VARIANT v; VariantInit(&v); V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocStringLen(L"12\0" L"5", 4);
      All(&v, lcid);
      V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocString(L"12");
      Run(&v, lcid, 0, VT_ARRAY | VT_UI1); VariantClear(&v);
      V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocString(L"");
      Run(&v, lcid, 0, VT_ARRAY | VT_UI1); VariantClear(&v);
      V_VT(&v) = VT_ARRAY | VT_UI1; V_ARRAY(&v) = SafeArrayCreateVector(VT_UI1, 0, 2);
      ((BYTE*)V_ARRAY(&v)->pvData)[0] = 'A'; ((BYTE*)V_ARRAY(&v)->pvData)[1] = 'B';
      Run(&v, lcid, 0, VT_BSTR); VariantClear(&v);
      V_VT(&v) = VT_ARRAY | VT_UI1; V_ARRAY(&v) = SafeArrayCreateVector(VT_UI1, 0, 3);
      ((BYTE*)V_ARRAY(&v)->pvData)[0] = 'A'; ((BYTE*)V_ARRAY(&v)->pvData)[1] = 'B';
      ((BYTE*)V_ARRAY(&v)->pvData)[2] = 'C';
      Run(&v, lcid, 0, VT_BSTR); VariantClear(&v);
    }
  }
  return 0;
}
