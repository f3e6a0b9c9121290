// Capture folder and file naming; no platform calls.
#include "CaptureNames.h"

namespace {

// One left-to-right pass: a run of three backslashes becomes two, a leading pair becomes one.
void CollapseBackslashes(CString& strPath) { strPath.Replace("\\\\", "\\"); }

} // namespace

CString MakeCaptureFolderPath(LPCTSTR pszTempDir)
{
	CString strFolder;
	strFolder.Format("%s\\Images-Captured-By-Tapwright", pszTempDir);
	CollapseBackslashes(strFolder);
	return strFolder;
}

CString MakeCaptureFileTitle(LPCTSTR pszStamp)
{
	CString strName;
	strName.Format("Primary Monitor At %s", pszStamp);
	// Characters a file name cannot hold; the double quote is kept.
	for (const char ch : {'/', '\\', '?', '*', ':', '|', '<', '>'})
		strName.Replace(ch, ' ');
	strName += ".bmp";
	return strName;
}

CString MakeCaptureFilePath(LPCTSTR pszFolder, LPCTSTR pszFileTitle)
{
	CString strPath;
	strPath.Format("%s\\%s", pszFolder, pszFileTitle);
	CollapseBackslashes(strPath);
	return strPath;
}
