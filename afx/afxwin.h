// The layer's window classes, application object and helpers, in one include.
#pragma once

#include <windows.h>

#include "CmdTarget.h"
#include "DC.h"
#include "Dialog.h"
#include "GdiObject.h"
#include "Menu.h"
#include "Point.h"
#include "Rect.h"
#include "String.h"
#include "WinApp.h"
#include "Wnd.h"
#include "afxres.h"
