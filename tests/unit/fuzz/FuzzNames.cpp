// Fuzz target for the capture naming rules and CString::Replace. The input's bytes, split at null
// bytes, are a temporary directory, a time stamp, a search text and a replacement. Each result is
// checked against a model written apart from the code, once in a single-byte code page and once in
// Big5, whose lead bytes 0x81-0xFE make two-byte characters: the texts cut into characters, runs of
// backslash characters for the collapsing (a network path's leading pair kept), a character-by-
// character mapping for the file title, and a plain scan over characters for Replace. The first
// property that does not hold aborts with the input and both texts.
#include "CaptureNames.h"
#include "String.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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

bool g_bBig5 = false;

// The text cut into its characters in the code page under test.
std::vector<std::string> Characters(const std::string& strText)
{
	std::vector<std::string> chars;
	for (size_t i = 0; i < strText.size();) {
		const bool bLead = g_bBig5 && static_cast<unsigned char>(strText[i]) >= 0x81 &&
						   static_cast<unsigned char>(strText[i]) <= 0xFE && i + 1 < strText.size();
		chars.push_back(strText.substr(i, bLead ? 2 : 1));
		i += chars.back().size();
	}
	return chars;
}

// One left-to-right pass over non-overlapping pairs leaves ceil(k / 2) of a run of k backslash
// characters, and runs never meet, so a pair survives only where a run of 3 or more stood.
std::string CollapseRuns(const std::string& strText)
{
	const std::vector<std::string> chars = Characters(strText);
	std::string strOut;
	for (size_t i = 0; i < chars.size();) {
		if (chars[i] != "\\") {
			strOut += chars[i++];
			continue;
		}
		size_t j = i;
		while (j < chars.size() && chars[j] == "\\")
			++j;
		strOut.append((j - i + 1) / 2, '\\');
		i = j;
	}
	return strOut;
}

// A path's leading pair, a network path's, stays; the rest is collapsed.
std::string CollapsePath(const std::string& strPath)
{
	if (strPath.compare(0, 2, "\\\\") == 0)
		return "\\\\" + CollapseRuns(strPath.substr(2));
	return CollapseRuns(strPath);
}

// The length of the character at nAt: an occurrence may end inside a character, and the scan
// goes on from there, as the class library's does.
size_t CharLength(const std::string& strText, size_t nAt)
{
	return Characters(strText.substr(nAt, 2)).front().size();
}

std::string ReplaceByScan(
	const std::string& strText, const std::string& strOld, const std::string& strNew, int& nCount)
{
	nCount = 0;
	if (strOld.empty())
		return strText;
	std::string strOut;
	for (size_t nAt = 0; nAt < strText.size();) {
		if (strText.compare(nAt, strOld.size(), strOld) == 0) {
			strOut += strNew;
			nAt += strOld.size();
			++nCount;
		} else {
			const size_t nLength = CharLength(strText, nAt);
			strOut += strText.substr(nAt, nLength);
			nAt += nLength;
		}
	}
	return strOut;
}

void CheckFolderAndFile(const std::string& strTemp, const std::string& strStamp)
{
	const std::string strFolder(MakeCaptureFolderPath(strTemp.c_str()));
	ExpectEqual("folder path is the joined text with backslash runs halved after a leading pair", strTemp,
		strFolder, CollapsePath(strTemp + "\\" + kFolderName));
	if (!EndsWith(strFolder, "\\" + kFolderName))
		Fail("folder path ends in one backslash and the folder name", strTemp, strFolder,
			"...\\" + kFolderName);

	std::string strMapped;
	for (const std::string& strChar : Characters(strStamp))
		strMapped += strChar.size() == 1 && std::strchr(kReplacedChars, strChar[0]) ? " " : strChar;
	const std::string strTitle = kTitlePrefix + strMapped + ".bmp";
	ExpectEqual("title is the prefix, the stamp with each replaced character a space, and .bmp", strStamp,
		std::string(MakeCaptureFileTitle(strStamp.c_str())), strTitle);

	const std::string strPath(MakeCaptureFilePath(strFolder.c_str(), strTitle.c_str()));
	ExpectEqual("file path is the folder collapsed once more, a backslash and the title",
		strTemp + "|" + strStamp, strPath, CollapsePath(strFolder) + "\\" + strTitle);
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
		// Each character's first byte is compared; a trail byte never is.
		std::string strCharWant;
		int nCharWant = 0;
		for (std::string strCh : Characters(strText)) {
			if (strCh[0] == chOld && chOld != chNew) {
				strCh[0] = chNew;
				++nCharWant;
			}
			strCharWant += strCh;
		}
		CString strChar(strText.c_str());
		const int nChar = strChar.Replace(chOld, chNew);
		ExpectEqual(
			"Replace(char, char) replaces every occurrence", strText, std::string(strChar), strCharWant);
		ExpectCount("Replace(char, char) counts them, none where the two are one", strText, nChar, nCharWant);
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

	static const unsigned char kBig5[] = {0x81, 0xFE, 0, 0};
	for (const bool bBig5 : {false, true}) {
		g_bBig5 = bBig5;
		AfxSetLeadByteRanges(bBig5 ? kBig5 : nullptr);
		CheckFolderAndFile(strTemp, strStamp);
		CheckReplace(strTemp, strParts[2], strParts[3]);
		CheckReplace(strStamp, strParts[2], strParts[3]);
	}
	AfxSetLeadByteRanges(nullptr);
	return 0;
}
