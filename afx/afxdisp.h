// The class library's automation services: date and time, and control containment.
#pragma once

#include "OleDateTime.h"

// Lets dialogs host ActiveX controls. The dialogs of this layer host none, so there is nothing to
// set up; the call stays so that start-up reads as it does with the class library.
inline void AfxEnableControlContainer() {}
