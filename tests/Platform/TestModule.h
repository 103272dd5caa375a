// The in-process server that the activation tests load: a module built only
// for them (TestModule.cpp), with one creatable class.
#pragma once

#include "Platform/Unknwn.h"

// {6B1D9F0E-3C2A-4E57-9A41-0D8E2F7C5B13}
inline constexpr CLSID CLSID_VemTestObject = {
    0x6B1D9F0E, 0x3C2A, 0x4E57, {0x9A, 0x41, 0x0D, 0x8E, 0x2F, 0x7C, 0x5B, 0x13}};
// {A3E4C2B1-7F60-4D1C-8B9E-5F2A6C0D4E77}
inline constexpr IID IID_IVemTestObject = {
    0xA3E4C2B1, 0x7F60, 0x4D1C, {0x8B, 0x9E, 0x5F, 0x2A, 0x6C, 0x0D, 0x4E, 0x77}};

inline constexpr char16_t kVemTestProgId[] = u"VemTest.TestObject.1";
inline constexpr char16_t kVemTestVersionIndependentProgId[] = u"VemTest.TestObject";

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct IVemTestObject : IUnknown {
  // Answers 42.
  STDMETHOD(Answer)(LONG* plValue) PURE;
};
#pragma GCC diagnostic pop
