// Everything the system's code may use of the platform: the Windows, COM and OLE Automation names
// the stand-ins provide, with their Windows signatures. The system includes only this header.
#pragma once

// Base types and errors.
#include "platform/win/types.h"
#include "platform/com/hresult.h"
#include "platform/win/lasterror.h"

// Text.
#include "platform/win/text.h"
#include "platform/win/format.h"

// COM core.
#include "platform/com/guid.h"
#include "platform/com/unknown.h"
#include "platform/com/memory.h"
#include "platform/com/variant.h"
#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/com/interfaces.h"
#include "platform/com/classes.h"
#include "platform/com/object.h"
#include "platform/com/holders.h"
#include "platform/com/apartment.h"

// OLE Automation conversions and locale.
#include "platform/win/locale.h"
#include "platform/win/time.h"
#include "platform/com/convert.h"

// Windows services: registry, files, threads, messages.
#include "platform/win/access.h"
#include "platform/win/registry.h"
#include "platform/win/paths.h"
#include "platform/win/files.h"
#include "platform/win/module.h"
#include "platform/win/resources.h"
#include "platform/win/debug.h"
#include "platform/win/shell.h"
#include "platform/win/threads.h"
#include "platform/win/messages.h"

// The window system and GDI.
#include "platform/ui/types.h"
#include "platform/ui/windows.h"
#include "platform/ui/atlwin.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/atldlg.h"
#include "platform/ui/controls.h"
#include "platform/ui/gdi.h"
#include "platform/ui/render.h"
#include "platform/ui/control_splitter.h"

// Module support: object maps, class factories, the registrar.
#include "platform/atl/registrar.h"
#include "platform/atl/module.h"

// XML.
#include "platform/xml/msxml.h"
