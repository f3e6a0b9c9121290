// Where captures go and what they are called, from the temporary directory and a time stamp.
#pragma once

#include "String.h"

// "<temporary directory>\Images-Captured-By-Tapwright", with doubled backslashes collapsed after a
// network path's leading pair.
CString MakeCaptureFolderPath(LPCTSTR pszTempDir);

// "Primary Monitor At <stamp>.bmp", with each of / \ ? * : | < > in the stamp made a space.
CString MakeCaptureFileTitle(LPCTSTR pszStamp);

// "<folder>\<file title>", with doubled backslashes collapsed after a network path's leading pair.
CString MakeCaptureFilePath(LPCTSTR pszFolder, LPCTSTR pszFileTitle);
