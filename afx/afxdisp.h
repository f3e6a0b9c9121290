// Automation services: date and time, and control containment.
#pragma once

#include "OleDateTime.h"

// Lets dialogs host ActiveX controls; the program's dialogs host none, so there is nothing to set up.
inline void AfxEnableControlContainer() {}
