// Fuzz target for the capture naming rules and CString::Replace. The input's bytes, split at null
// bytes, are a temporary directory, a time stamp, a search text and a replacement. Each result is
// checked against a model written apart from the code: runs of backslashes for the collapsing,
// a byte-by-byte mapping for the file title, and a plain scan for Replace. The first property
// that does not hold aborts with the input and both texts.
#include "CaptureNames.h"
#include "String.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const std::string kFolderName = "Images-Captured-By-Tapwright";
const std::string kTitlePrefix = "Primary Monitor At ";
const char kReplacedChars[] = "/\\?*:|<>";

std::string Escape(const std::string& strText)
{
	std::string strOut;
	for (const unsigned char ch : strText) {
		if (ch >= 0x20 && ch < 0x7F) {
			strOut += static_cast<char>(ch);
		} else {
			char szHex[8];
			std::snprintf(szHex, sizeof(szHex), "\\x%02X", ch);
			strOut += szHex;
		}
	}
	return strOut;
}

[[noreturn]] void Fail(
	const char* pszWhat, const std::string& strInput, const std::string& strGot, const std::string& strWant)
{
	std::fprintf(stderr, "property failed: %s\n  input: \"%s\"\n  got:   \"%s\"\n  want:  \"%s\"\n", pszWhat,
		Escape(strInput).c_str(), Escape(strGot).c_str(), Escape(strWant).c_str());
	std::abort();
}

void ExpectEqual(
	const char* pszWhat, const std::string& strInput, const std::string& strGot, const std::string& strWant)
{
	if (strGot != strWant)
		Fail(pszWhat, strInput, strGot, strWant);
}

void ExpectCount(const char* pszWhat, const std::string& strInput, int nGot, int nWant)
{
	if (nGot != nWant)
		Fail(pszWhat, strInput, std::to_string(nGot), std::to_string(nWant));
}

bool EndsWith(const std::string& strText, const std::string& strEnd)
{
	return strText.size() >= strEnd.size() &&
		   strText.compare(strText.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

// One left-to-right pass over non-overlapping pairs leaves ceil(k / 2) of a run of k
// backslashes, and runs never meet, so a pair survives only where a run of 3 or more stood.
std::string CollapseRuns(const std::string& strText)
{
	std::string strOut;
	for (size_t i = 0; i < strText.size();) {
		if (strText[i] != '\\') {
			strOut += strText[i++];
			continue;
		}
		size_t j = i;
		while (j < strText.size() && strText[j] == '\\')
			++j;
		strOut.append((j - i + 1) / 2, '\\');
		i = j;
	}
	return strOut;
}

std::string ReplaceByScan(
	const std::string& strText, const std::string& strOld, const std::string& strNew, int& nCount)
{
	nCount = 0;
	if (strOld.empty())
		return strText;
	std::string strOut;
	for (size_t i = 0; i < strText.size();) {
		if (strText.compare(i, strOld.size(), strOld) == 0) {
			strOut += strNew;
			i += strOld.size();
			++nCount;
		} else {
			strOut += strText[i++];
		}
	}
	return strOut;
}

void CheckFolderAndFile(const std::string& strTemp, const std::string& strStamp)
{
	const std::string strFolder(MakeCaptureFolderPath(strTemp.c_str()));
	ExpectEqual("folder path is the joined text with backslash runs halved", strTemp, strFolder,
		CollapseRuns(strTemp + "\\" + kFolderName));
	if (!EndsWith(strFolder, "\\" + kFolderName))
		Fail("folder path ends in one backslash and the folder name", strTemp, strFolder,
			"...\\" + kFolderName);

	const std::string strTitle(MakeCaptureFileTitle(strStamp.c_str()));
	if (strTitle.size() != kTitlePrefix.size() + strStamp.size() + 4)
		Fail("title length is prefix + stamp + .bmp", strStamp, strTitle, "");
	if (strTitle.compare(0, kTitlePrefix.size(), kTitlePrefix) != 0 || !EndsWith(strTitle, ".bmp"))
		Fail("title has its prefix and .bmp", strStamp, strTitle, kTitlePrefix + "...bmp");
	if (strTitle.find_first_of(kReplacedChars) != std::string::npos)
		Fail("no replaced character survives in the title", strStamp, strTitle, "");
	for (size_t i = 0; i < strStamp.size(); ++i) {
		const char ch = strStamp[i];
		const char chWant = std::strchr(kReplacedChars, ch) ? ' ' : ch;
		if (strTitle[kTitlePrefix.size() + i] != chWant)
			Fail("every other stamp byte, the double quote among them, is kept", strStamp, strTitle, "");
	}

	const std::string strPath(MakeCaptureFilePath(strFolder.c_str(), strTitle.c_str()));
	ExpectEqual("file path is the folder collapsed once more, a backslash and the title",
		strTemp + "|" + strStamp, strPath, CollapseRuns(strFolder) + "\\" + strTitle);
	if (strPath.substr(strPath.rfind('\\') + 1) != strTitle)
		Fail("the last path component is the title", strStamp, strPath, strTitle);
}

void CheckReplace(const std::string& strText, const std::string& strOld, const std::string& strNew)
{
	int nWant = 0;
	const std::string strWant = ReplaceByScan(strText, strOld, strNew, nWant);
	CString str(strText.c_str());
	ExpectCount("Replace counts the occurrences it replaced", strText,
		str.Replace(strOld.c_str(), strNew.c_str()), nWant);
	ExpectEqual("Replace is one left-to-right pass", strText + "|" + strOld + "|" + strNew, std::string(str),
		strWant);

	CString strNull(strText.c_str());
	strNull.Replace(strOld.c_str(), nullptr);
	ExpectEqual("Replace with no replacement deletes", strText + "|" + strOld, std::string(strNull),
		ReplaceByScan(strText, strOld, "", nWant));

	CString strPairs(strText.c_str());
	strPairs.Replace("\\\\", "\\");
	ExpectEqual(
		"Replace of backslash pairs halves every run", strText, std::string(strPairs), CollapseRuns(strText));

	// Arguments that point into the string being changed.
	CString strSelf(strText.c_str());
	const int nSelf = strSelf.Replace(strSelf, strNew.c_str());
	ExpectCount("Replace of the whole text by itself", strText, nSelf, strText.empty() ? 0 : 1);
	ExpectEqual(
		"Replace of the whole text", strText, std::string(strSelf), strText.empty() ? strText : strNew);
	CString strFormat(strText.c_str());
	strFormat.Format("%s|%s", static_cast<LPCTSTR>(strFormat), static_cast<LPCTSTR>(strFormat));
	ExpectEqual(
		"Format from the string's own text", strText, std::string(strFormat), strText + "|" + strText);

	if (!strOld.empty() && !strNew.empty()) {
		const char chOld = strOld[0];
		const char chNew = strNew[0];
		std::string strCharWant = strText;
		int nCharWant = 0;
		for (char& ch : strCharWant) {
			if (ch == chOld) {
				ch = chNew;
				++nCharWant;
			}
		}
		CString strChar(strText.c_str());
		const int nChar = strChar.Replace(chOld, chNew);
		ExpectEqual(
			"Replace(char, char) replaces every occurrence", strText, std::string(strChar), strCharWant);
		if (chOld != chNew)
			ExpectCount("Replace(char, char) counts them", strText, nChar, nCharWant);
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
	std::string strParts[4];
	size_t nPart = 0;
	for (size_t i = 0; i < nSize && nPart < 4; ++i) {
		if (pData[i] == 0)
			++nPart;
		else
			strParts[nPart] += static_cast<char>(pData[i]);
	}
	const std::string& strTemp = strParts[0];
	const std::string& strStamp = strParts[1];

	CheckFolderAndFile(strTemp, strStamp);
	CheckReplace(strTemp, strParts[2], strParts[3]);
	CheckReplace(strStamp, strParts[2], strParts[3]);
	return 0;
}
