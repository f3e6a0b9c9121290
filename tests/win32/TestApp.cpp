// The tests' application object, set up the way WinMain sets up the program's.
#include "TestApp.h"

namespace {

CTestApp* g_pTestApp = nullptr;

} // namespace

CTestApp::CTestApp()
{
	SetCurrentHandles(::GetModuleHandleA(nullptr));
	SetRegistryKey(kTestVendor);
	g_pTestApp = this;
}

std::string CTestApp::SectionKeyPath(const char* pszSection) const
{
	return std::string("Software\\") + kTestVendor + "\\" + m_pszAppName + "\\" + pszSection;
}

void CTestApp::ClearProfile() const
{
	::RegDeleteTreeA(HKEY_CURRENT_USER, (std::string("Software\\") + kTestVendor).c_str());
	::RegDeleteKeyA(HKEY_CURRENT_USER, (std::string("Software\\") + kTestVendor).c_str());
}

CTestApp& TestApp() { return *g_pTestApp; }
