// Control containment: recorded for AfxEnableControlContainer's callers.
#include "afxdisp.h"

namespace {
bool g_bControlContainerEnabled = false;
}

void AfxEnableControlContainer() { g_bControlContainerEnabled = true; }

bool AfxIsControlContainerEnabled() { return g_bControlContainerEnabled; }
