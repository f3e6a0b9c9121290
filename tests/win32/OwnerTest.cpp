// The class-library owners: attaching to an owner that already holds a handle never leaks the one held (a
// context refuses the new one, the other owners release the old one first); the wrappers of handles the
// program does not own never free them; a scoped selection is undone when it ends.
#include "afxwin.h"

#include <gtest/gtest.h>

#include <vector>

TEST(HandleOwner, AttachNeverLeaksTheHandleHeldBefore)
{
	const HDC hFirstDC = ::CreateCompatibleDC(nullptr);
	const HDC hSecondDC = ::CreateCompatibleDC(nullptr);
	const HBITMAP hFirstBitmap = ::CreateBitmap(1, 1, 1, 1, nullptr);
	ASSERT_NE(::GetObjectType(hFirstDC), 0u);
	ASSERT_NE(::GetObjectType(hFirstBitmap), 0u);

	// A context is never replaced (only its own class knows how it goes back): the second stays the
	// caller's, and the first goes with the owner.
	{
		CDC dc;
		ASSERT_TRUE(dc.Attach(hFirstDC));
		EXPECT_FALSE(dc.Attach(hSecondDC)) << "a held context was replaced";
		EXPECT_FALSE(dc.CreateCompatibleDC(nullptr)) << "a held context was replaced";
		EXPECT_EQ(dc.GetSafeHdc(), hFirstDC);
	}
	EXPECT_EQ(::GetObjectType(hFirstDC), 0u) << "the context was not deleted with its owner";
	EXPECT_TRUE(::DeleteDC(hSecondDC));

	// A GDI object or a file handle is replaced, the one held before released.
	CBitmap bitmap;
	ASSERT_TRUE(bitmap.Attach(hFirstBitmap));
	ASSERT_TRUE(bitmap.Attach(::CreateBitmap(1, 1, 1, 1, nullptr)));
	EXPECT_EQ(::GetObjectType(hFirstBitmap), 0u) << "the first bitmap leaked";
	EXPECT_EQ(::GetObjectType(bitmap.GetSafeHandle()), static_cast<DWORD>(OBJ_BITMAP));

	// A file's empty value, INVALID_HANDLE_VALUE, is never taken.
	char szDir[MAX_PATH];
	char szPath[MAX_PATH];
	ASSERT_NE(::GetTempPathA(MAX_PATH, szDir), 0u);
	ASSERT_NE(::GetTempFileNameA(szDir, "own", 0, szPath), 0u);
	auto open = [&szPath] {
		return ::CreateFileA(
			szPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	};
	const HANDLE hFirstFile = open();
	ASSERT_NE(hFirstFile, INVALID_HANDLE_VALUE);
	{
		CFileHandle file;
		EXPECT_FALSE(file.Attach(INVALID_HANDLE_VALUE));
		ASSERT_TRUE(file.Attach(hFirstFile));
		ASSERT_TRUE(file.Attach(open()));
		DWORD dwFlags = 0;
		EXPECT_FALSE(::GetHandleInformation(hFirstFile, &dwFlags)) << "the first file handle leaked";
	}
	EXPECT_TRUE(::DeleteFileA(szPath)) << "a handle to the file is still open";
}

TEST(HandleOwner, TemporaryWrappersNeverFreeTheirHandles)
{
	// More bitmaps than the temporary map keeps wrappers for, so that its wrappers are reused.
	std::vector<HBITMAP> bitmaps;
	for (int i = 0; i < 40; ++i) {
		bitmaps.push_back(::CreateBitmap(1, 1, 1, 1, nullptr));
		CBitmap* pWrapper = CBitmap::FromHandle(bitmaps.back());
		ASSERT_NE(pWrapper, nullptr);
		EXPECT_EQ(pWrapper->GetSafeHandle(), bitmaps.back());
		EXPECT_EQ(CBitmap::FromHandle(bitmaps.back()), pWrapper);
	}
	for (HBITMAP hBitmap : bitmaps) {
		EXPECT_EQ(::GetObjectType(hBitmap), static_cast<DWORD>(OBJ_BITMAP)) << "a wrapper freed its bitmap";
		::DeleteObject(hBitmap);
	}
}

// The context gets back the bitmap the selection displaced, so the selected one is free to be deleted or
// selected elsewhere. A bitmap goes into one context at a time: a second selection of it fails, and puts
// nothing back when it ends.
TEST(HandleOwner, ScopedSelectionPutsTheDisplacedBitmapBack)
{
	CDC dc;
	CDC other;
	ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
	ASSERT_TRUE(other.CreateCompatibleDC(nullptr));
	const HGDIOBJ hFirst = ::GetCurrentObject(dc, OBJ_BITMAP);
	const HGDIOBJ hOtherFirst = ::GetCurrentObject(other, OBJ_BITMAP);
	CBitmap bitmap;
	ASSERT_TRUE(bitmap.Attach(::CreateBitmap(1, 1, 1, 1, nullptr)));
	{
		const CSelectObject selection(&dc, &bitmap);
		EXPECT_TRUE(selection);
		EXPECT_EQ(::GetCurrentObject(dc, OBJ_BITMAP), bitmap.GetSafeHandle());
		{
			const CSelectObject refused(&other, &bitmap);
			EXPECT_FALSE(refused) << "one bitmap in two contexts";
		}
		EXPECT_EQ(::GetCurrentObject(other, OBJ_BITMAP), hOtherFirst);
		EXPECT_EQ(::GetCurrentObject(dc, OBJ_BITMAP), bitmap.GetSafeHandle())
			<< "a failed selection undid another";
	}
	EXPECT_EQ(::GetCurrentObject(dc, OBJ_BITMAP), hFirst) << "the displaced bitmap was not put back";
	const CSelectObject again(&other, &bitmap);
	EXPECT_TRUE(again) << "the bitmap is still held by the first context";
}
