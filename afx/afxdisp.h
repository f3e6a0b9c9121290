// The class library's automation services: date and time, and control containment.
#pragma once

#include "OleDateTime.h"

// Allows dialogs to host ActiveX controls. This layer's dialogs host none, so the request
// is only recorded.
void AfxEnableControlContainer();
bool AfxIsControlContainerEnabled();
