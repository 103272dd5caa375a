// Umbrella header for client programs of VemComServer: the platform types a
// client needs (HRESULT, GUID, BSTR, VARIANT, SAFEARRAY, IUnknown, IDispatch,
// the COM runtime calls) and every interface of the server and its clients.
#pragma once

#include "Platform/ComBase.h"
#include "Platform/OleAuto.h"
#include "Platform/Unknwn.h"
#include "Platform/WinTypes.h"
#include "vem/ComBlob.h"
#include "vem/ComDataModel.h"
#include "vem/ComRecords.h"
#include "vem/IkivBackChannel.h"
#include "vem/StaticDataModel.h"
#include "vem/VemServerLib.h"
