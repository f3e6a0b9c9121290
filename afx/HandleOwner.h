// CHandleOwner, the one shape of an owner of a raw handle (CGdiObject and CMenu build on it, and so do the
// file, registry key and memory block owners below), and CTempHandleMap, the wrappers handed out for
// handles the program does not own.
#pragma once

#include <windows.h>

#include <utility>

// One handle, released by pfnRelease when the owner ends. nEmpty is the value that stands for no handle:
// 0, or -1 for a file's INVALID_HANDLE_VALUE. Copies are deleted.
template <class THandle, auto pfnRelease, LONG_PTR nEmpty = 0> class CHandleOwner
{
public:
	CHandleOwner() = default;
	explicit CHandleOwner(THandle hHandle) { Attach(hHandle); }
	~CHandleOwner() { Release(); }
	CHandleOwner(const CHandleOwner&) = delete;
	CHandleOwner& operator=(const CHandleOwner&) = delete;

	operator THandle() const { return m_hHandle; }

	// Takes ownership of hHandle; FALSE, and the owner unchanged, for the empty value. A different handle
	// held before is released first, so replacing it never leaks it.
	BOOL Attach(THandle hHandle)
	{
		if (hHandle == Empty())
			return FALSE;
		if (hHandle != m_hHandle)
			Release();
		m_hHandle = hHandle;
		return TRUE;
	}
	THandle Detach() { return std::exchange(m_hHandle, Empty()); }
	// Releases the handle, if there is one; the owner then holds none.
	void Release()
	{
		if (m_hHandle != Empty())
			pfnRelease(Detach());
	}

	static THandle Empty() { return reinterpret_cast<THandle>(nEmpty); }

protected:
	THandle m_hHandle = Empty();
};

using CFileHandle = CHandleOwner<HANDLE, ::CloseHandle, -1>;
using CRegKeyHandle = CHandleOwner<HKEY, ::RegCloseKey>;
using CLocalBlock = CHandleOwner<HLOCAL, ::LocalFree>;
using CGlobalBlock = CHandleOwner<HGLOBAL, ::GlobalFree>;

// Wrappers of type TWrapper for handles the program does not own (a system menu, the bitmap a selection
// displaced), never released. Like the class library's temporary objects, a pointer handed out is for the
// call at hand: it stays valid until kSlots other handles have been wrapped, and the map never grows.
template <class TWrapper, size_t kSlots = 8> class CTempHandleMap
{
public:
	~CTempHandleMap()
	{
		for (TWrapper& wrapper : m_wrappers)
			wrapper.Detach();
	}

	template <class THandle> TWrapper* FromHandle(THandle hHandle)
	{
		if (!hHandle)
			return nullptr;
		for (TWrapper& wrapper : m_wrappers) {
			if (static_cast<THandle>(wrapper) == hHandle)
				return &wrapper;
		}
		TWrapper& wrapper = m_wrappers[m_nNext];
		m_nNext = (m_nNext + 1) % kSlots;
		wrapper.Detach();
		wrapper.Attach(hHandle);
		return &wrapper;
	}

private:
	TWrapper m_wrappers[kSlots];
	size_t m_nNext = 0;
};
