// Platform stand-in: everything at once, as <windows.h> plus <comdef.h> give
// it on Windows. Prefer the single headers in code that needs only a part.
#pragma once

#include "Platform/ComBase.h"
#include "Platform/ComUtil.h"
#include "Platform/OleAuto.h"
#include "Platform/Registry.h"
#include "Platform/Text.h"
#include "Platform/Unknwn.h"
#include "Platform/Win32.h"
#include "Platform/WinTypes.h"
