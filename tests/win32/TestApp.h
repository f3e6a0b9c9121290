// The application object of the Win32 tests: the program's own is not linked, so this one stands in,
// with its profile under a test vendor's key.
#pragma once

#include "afxwin.h"

#include <string>

constexpr char kTestVendor[] = "Frostpane Win32 Tests";

class CTestApp : public CWinApp
{
public:
	CTestApp();
	BOOL InitInstance() override { return FALSE; }

	// HKCU-relative path of the profile section: Software\<test vendor>\<application name>\<section>.
	std::string SectionKeyPath(const char* pszSection) const;
	// Deletes everything under Software\<test vendor>.
	void ClearProfile() const;
};

CTestApp& TestApp();
