// Runs the Win32 tests with the test application object in place of the program's.
#include "TestApp.h"

#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

int main(int argc, char** argv)
{
	// Plain line ends, so the test list reads the same to CTest as on any other platform.
	_setmode(_fileno(stdout), _O_BINARY);
	_setmode(_fileno(stderr), _O_BINARY);
	CTestApp app;
	::testing::InitGoogleTest(&argc, argv);
	const int nResult = RUN_ALL_TESTS();
	app.ClearProfile();
	return nResult;
}
