// The application object of the Win32 tests: the program's own, with its profile under a test vendor's key.
// It registers itself after the program's global object, which stays idle.
#pragma once

#include "FrostpaneApp.h"

#include <string>

constexpr char kTestVendor[] = "Frostpane Win32 Tests";

class CTestApp : public CFrostpaneApp
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
