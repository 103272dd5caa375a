// Platform stand-in: everything at once, as <windows.h> plus <comdef.h> give
// it on Windows. Prefer the single headers in code that needs only a part.
#pragma once

#include "ComBase.h"
#include "ComUtil.h"
#include "OleAuto.h"
#include "Registry.h"
#include "Text.h"
#include "Unknwn.h"
#include "Win32.h"
#include "WinTypes.h"
