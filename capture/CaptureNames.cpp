// Capture folder and file naming; no platform calls.
#include "CaptureNames.h"

namespace {

// One left-to-right pass: a run of three backslashes becomes two. The leading pair of a network
// path (\\server\share, \\?\C:\...) is its own and stays.
void CollapseBackslashes(CString& strPath)
{
	const LPCTSTR psz = strPath;
	if (psz[0] != '\\' || psz[1] != '\\') {
		strPath.Replace("\\\\", "\\");
		return;
	}
	CString strRest(psz + 2);
	strRest.Replace("\\\\", "\\");
	strPath = "\\\\";
	strPath += strRest;
}

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
